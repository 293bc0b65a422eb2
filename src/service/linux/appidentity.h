#pragma once

#include <QString>
#include <QStringList>

struct ExecRecord;

// Which application a process is: its executable, except for programs run by
// an interpreter (a Python, Perl or shell script, a Java jar), which a user
// knows by the script or jar rather than by the interpreter. A process is
// named by what it ran when it started, never by what it does later: the
// script is taken relative to the directory the process started in, and
// counts only when it is a regular file the process could read.
class AppIdentity
{
public:
    // The application's path for a process whose executable is exe, started
    // with the arguments argv (argv[0] included) in the directory cwd, by
    // the arguments alone.
    static QString resolve(const QString& exe, const QStringList& argv, const QString& cwd);

    // Whether the file is a program that runs scripts (a shell, Python, a JVM...).
    static bool isInterpreter(const QString& exe);

    // The application of what the kernel saw the process run; false when
    // nothing names it (no executable).
    static bool ofExec(const ExecRecord& record, QString* path);
    // What /proc tells of a running process, as the kernel would have told
    // it, its arguments aside; false when the process is gone or not readable.
    static bool recordOfProcess(quint32 pid, ExecRecord* record);
    // A running process's arguments. Reading them takes the process's memory
    // map's lock, which that process can keep busy for as long as it likes:
    // never on a thread that others wait for.
    static QList<QByteArray> argumentsOf(quint32 pid);
};
