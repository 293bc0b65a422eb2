#pragma once

#include <QTcpServer>

// The server's listening socket; a plain TCP server with a name of its own.
class CVServer : public QTcpServer
{
    Q_OBJECT
public:
    using QTcpServer::QTcpServer;
};
