#include "peeraccesspolicy.h"

#include "bandwidthservice.h"
#include "peercredentials.h"

#include <QHostAddress>
#include <QTcpSocket>

PeerAccessPolicy::PeerAccessPolicy(const QString& controlGroup) : m_authorizer(controlGroup) {}

ClientIdentity PeerAccessPolicy::identify(const QTcpSocket& socket) const
{
    ClientIdentity identity;
    uid_t uid = 0;
    if (socket.peerAddress() != QHostAddress(QHostAddress::LocalHost) ||
        !PeerCredentials::loopbackOwner(socket.peerPort(), socket.localPort(), &uid)) {
        identity.description =
            QStringLiteral("a client whose user cannot be found (its end of the connection was "
                           "no longer open when it was accepted)");
        return identity;
    }
    identity.known = true;
    identity.user = quint32(uid);
    identity.privileged = m_authorizer.userMayChange(uid);
    identity.description = m_authorizer.describe(uid);
    return identity;
}

bool PeerAccessPolicy::admits(const ClientIdentity& client, BaseCommand* request) const
{
    if (client.privileged || !BandwidthService::changesSettings(*request))
        return true;
    BandwidthService::refuse(request);
    return false;
}
