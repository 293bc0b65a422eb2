#pragma once

#include "clientpolicy.h"
#include "groupauthorizer.h"

// bwcd's clients on this machine: a client is the user who owns its end of
// the loopback connection when the service accepts it, and only a user the
// group authorizer lets through may change settings. A client whose user
// cannot be found may only read.
class PeerAccessPolicy : public ClientPolicy
{
public:
    explicit PeerAccessPolicy(const QString& controlGroup);

    ClientIdentity identify(const QTcpSocket& socket) const override;
    bool admits(const ClientIdentity& client, BaseCommand* request) const override;

private:
    GroupAuthorizer m_authorizer;
};
