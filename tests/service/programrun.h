#pragma once

// A program run to its end, for tests of bwcd and its clients.

#include <QString>
#include <QStringList>

struct ProgramRun
{
    int code = -1; // -1: it crashed, or did not end in the time allowed
    QString out, err;

    // Gives the program timeoutMs and 10 s more to end.
    static ProgramRun of(const QString& program, const QStringList& args, int timeoutMs = 10000);
    // bwcctl --port PORT --timeout timeoutMs ARGS.
    static ProgramRun bwcctl(quint16 port, const QStringList& args, int timeoutMs = 10000);
};
