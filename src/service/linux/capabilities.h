#pragma once

#include <QStringList>

// The privileges the Linux backend needs: loading and attaching BPF programs
// to cgroups and tracepoints, reading other processes' executables and
// taking copies of their sockets to tag those made before bwcd started.
class Capabilities
{
public:
    // Names of the needed capabilities the process lacks in its effective set.
    static QStringList missing();
};
