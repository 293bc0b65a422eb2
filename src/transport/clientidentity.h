#pragma once

#include <QString>

// Who is at the other end of a connection, decided once as the connection is
// accepted and kept with its session; nothing the client sends later has a
// say in it.
struct ClientIdentity
{
    // Whether the client's user was found at all.
    bool known = false;
    // The platform's number of that user.
    quint32 user = 0;
    // Whether the client may change settings.
    bool privileged = false;
    // Who the client is, or why nobody could be found, for the log.
    QString description;
};
