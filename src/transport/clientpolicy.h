#pragma once

#include "clientidentity.h"

class BaseCommand;
class QTcpSocket;

// What the server asks a platform about its clients. Both calls are made in
// the transport's thread, so an implementation must not need the owner's.
class ClientPolicy
{
public:
    virtual ~ClientPolicy() = default;
    // Who is at the other end of a connection just accepted, from the
    // connection itself.
    virtual ClientIdentity identify(const QTcpSocket& socket) const = 0;
    // Whether a client may make this request. When not, the request is made
    // into its own refusal: status and whatever a reply must carry.
    virtual bool admits(const ClientIdentity& client, BaseCommand* request) const = 0;
};
