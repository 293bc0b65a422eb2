#pragma once

#include "clientpolicy.h"
#include "membershipcache.h"

// bwcd's clients on this machine: a client is the user who owns its end of
// the loopback connection when the service accepts it, and only a user the
// control group lets through (GroupAuthorizer) may change settings. A client
// whose user cannot be found, or whose groups cannot be looked up in time,
// may only read. Group lookups never run on the thread that accepts.
class PeerAccessPolicy : public ClientPolicy
{
public:
    explicit PeerAccessPolicy(const QString& controlGroup);
    // lookup: who may change settings, in place of the group databases.
    PeerAccessPolicy(const MembershipCache::Lookup& lookup,
                     const MembershipCache::Options& options);

    ClientIdentity identify(const QTcpSocket& socket) const override;
    bool admits(const ClientIdentity& client, BaseCommand* request) const override;

private:
    mutable MembershipCache m_members;
};
