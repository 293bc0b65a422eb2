#pragma once

#include <QString>
#include <QUuid>

// Decides whose requests may change the service's settings. Reading is open
// to every client; a platform decides who the client of a session is from
// the connection itself, never from anything the client says.
class Authorizer
{
public:
    virtual ~Authorizer() = default;
    // Whether the client of this session may change settings; *who names the
    // client (and, when refused, why) for the log.
    virtual bool mayChange(const QUuid& session, QString* who) const = 0;
};
