#pragma once

#include <QByteArray>
#include <QList>
#include <QtGlobal>

// What the kernel saw of the program a process runs, at exec or at its first
// socket: enough to name the process after it has ended. Paths and arguments
// are the kernel's bytes, never decoded.
struct ExecRecord
{
    quint32 tgid = 0;
    quint32 dev = 0; // the executable's device, in the kernel's encoding
    quint64 ino = 0;
    quint32 uid = 0; // effective ids of the program
    quint32 gid = 0;
    quint32 mntns = 0;        // the inode of its mount namespace, whose view the paths are in
    bool atExec = false;      // cwd and args are those the program started with
    bool truncated = false;   // a path or the args were too long to take whole
    bool interpreter = false; // the kernel knows the executable as one that runs scripts
    QByteArray exe;
    QByteArray cwd;
    QList<QByteArray> args;
};
