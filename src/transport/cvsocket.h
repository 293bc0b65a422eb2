#pragma once

#include <QTcpSocket>

// The client's connection to the service; a plain TCP socket with a name of its own.
class CVSocket : public QTcpSocket
{
    Q_OBJECT
public:
    using QTcpSocket::QTcpSocket;
};
