#include "fakeservice.h"

#include "bwccommands.h"
#include "serviceio.h"

FakeService::FakeService(ServiceIO* server) : m_server(server)
{
    connect(server, &ServiceIO::NewCommandReceived, this, &FakeService::OnRequest);
}

void FakeService::restart()
{
    defaultsUp = -1;
    defaultsDown = -1;
    defaultsPriority = 2;
    defaultsLan = 0;
    globalsUp = 187500;
    globalsDown = 1250000;
    globalsEnabled = true;
    replyStatus = BCS_SUCCESS;
    clear();
}

QList<quint32> FakeService::requestTypes() const
{
    QList<quint32> types;
    for (const BaseCommandPtr& cmd : m_requests)
        types << cmd->GetType();
    return types;
}

void FakeService::OnRequest(BaseCommandPtr cmd)
{
    m_server->RetrieveCommand(&cmd);
    m_requests << cmd;

    BaseCommandPtr reply = BaseCommand::GetCmd(int(cmd->GetType()));
    if (auto* defaults = command_cast<BCI_BWCGetDefaults>(reply)) {
        defaults->setDefaultUploadMax(defaultsUp);
        defaults->setDefaultDownloadMax(defaultsDown);
        defaults->setDefaultPriority(defaultsPriority);
        defaults->setLanException(defaultsLan);
    } else if (auto* globals = command_cast<BCI_BWCGetGlobals>(reply)) {
        globals->setGlobalUploadMax(globalsUp);
        globals->setGlobalDownloadMax(globalsDown);
        globals->setEnabled(globalsEnabled);
    }
    reply->SetSequence(cmd->GetSequence());
    reply->SetUuid(cmd->GetUuid());
    reply->SetStatus(replyStatus);
    m_server->SendCommand(reply, 10000);
}

void FakeService::broadcastGlobals(qint32 nUp, qint32 nDown, bool bEnabled, qint32 nStatus)
{
    auto* broadcast = new BCI_BWCGlobalsChanged;
    broadcast->setGlobalUploadMax(nUp);
    broadcast->setGlobalDownloadMax(nDown);
    broadcast->setEnabled(bEnabled);
    broadcast->SetStatus(nStatus);
    m_server->SendCommand(BaseCommandPtr(broadcast), 10000);
}
