#pragma once

#include <QString>
#include <QStringList>

// Which application a process is: its executable, except for programs run by
// an interpreter (a Python, Perl or shell script, a Java jar), which a user
// knows by the script or jar rather than by the interpreter.
class AppIdentity
{
public:
    // The application's path for a process whose executable is exe, started
    // with the arguments argv (argv[0] included) in the directory cwd.
    static QString resolve(const QString& exe, const QStringList& argv, const QString& cwd);

    // Whether the file is a program that runs scripts (a shell, Python, a JVM...).
    static bool isInterpreter(const QString& exe);

    // The same from /proc; false when the process is gone or not readable.
    static bool ofProcess(quint32 pid, QString* path);
};
