#include "peeraccesspolicy.h"

#include "bandwidthservice.h"
#include "groupauthorizer.h"
#include "peercredentials.h"

#include <QHostAddress>
#include <QTcpSocket>

namespace {

MembershipCache::Lookup groupLookup(const QString& controlGroup)
{
    const GroupAuthorizer authorizer(controlGroup);
    return [authorizer](uid_t uid) {
        MembershipCache::Membership membership;
        membership.mayChange = authorizer.userMayChange(uid);
        membership.description = authorizer.describe(uid, membership.mayChange);
        return membership;
    };
}

} // namespace

PeerAccessPolicy::PeerAccessPolicy(const QString& controlGroup)
    : m_members(groupLookup(controlGroup))
{}

PeerAccessPolicy::PeerAccessPolicy(const MembershipCache::Lookup& lookup,
                                   const MembershipCache::Options& options)
    : m_members(lookup, options)
{}

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
    const std::optional<MembershipCache::Membership> membership = m_members.decide(uid);
    if (!membership) {
        identity.description = QStringLiteral("user %1, whose groups could not be looked up in "
                                              "time when it connected")
                                   .arg(uid);
        return identity;
    }
    identity.privileged = membership->mayChange;
    identity.description = membership->description;
    return identity;
}

bool PeerAccessPolicy::admits(const ClientIdentity& client, BaseCommand* request) const
{
    if (client.privileged || !BandwidthService::changesSettings(*request))
        return true;
    BandwidthService::refuse(request);
    return false;
}
