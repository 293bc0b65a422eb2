#pragma once

class QObject;
class ServiceIO;

// The single entry point for obtaining a transport. bServer false: a new client
// in a thread of its own; true: the process's shared server. Null on failure.
// The result is given back with its Release().
ServiceIO* CreateServiceIO(bool bServer, QObject* parent = nullptr);
