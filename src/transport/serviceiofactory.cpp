#include "serviceiofactory.h"

#include "serviceioclient.h"
#include "serviceioserver.h"

ServiceIO* CreateServiceIO(bool bServer, QObject* parent)
{
    if (bServer)
        return ServiceIOServer::Acquire(parent);
    return ServiceIOClient::Create(parent);
}
