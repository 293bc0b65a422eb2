#pragma once

#include "authorizer.h"

#include <functional>

#include <sys/types.h>

// Lets root, the service's own user and the members of one group change
// settings; everyone else may only read. The client's user is the owner of
// its end of the loopback connection.
class GroupAuthorizer : public Authorizer
{
public:
    // The client's and the service's TCP ports of a session; false when unknown.
    using SessionPorts = std::function<bool(const QUuid&, quint16*, quint16*)>;

    GroupAuthorizer(const QString& group, SessionPorts ports);

    bool mayChange(const QUuid& session, QString* who) const override;
    bool userMayChange(uid_t uid) const;
    QString group() const { return m_group; }

private:
    QString m_group;
    SessionPorts m_ports;
};
