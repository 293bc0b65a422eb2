#pragma once

#include <QHash>
#include <QSet>
#include <QStringList>
#include <QTextStream>

// Exit codes shared by every verb.
enum CtlExit
{
    ExitOk = 0,
    ExitFailure = 1, // the service refused or something went wrong at run time
    ExitUsage = 2,   // bad arguments, unknown names, malformed JSON
    ExitTimeout = 3, // no reply in time
    ExitRefused = 4, // the frame reader refused the bytes
};

// What a verb gets: its own arguments and the global options.
struct CtlContext
{
    QStringList args;
    QTextStream& out;
    QTextStream& err;
    quint16 port = 0;      // the service port (--port, else BWC_PORT, else the default)
    int timeoutMs = 10000; // --timeout
    bool json = false;     // --json: machine output
};

using VerbRunner = int (*)(CtlContext&);

struct Verb
{
    const char* name;
    const char* usage;
    VerbRunner run;
};

// The verb table, in the order the usage text lists them.
const QList<Verb>& AllVerbs();

// Splits a verb's arguments into positionals, options with a value and flags.
struct ParsedArgs
{
    QStringList positional;
    QHash<QString, QString> values;
    QSet<QString> flags;
    QString error; // non-empty when an option is unknown or lacks its value
};
ParsedArgs ParseVerbArgs(const QStringList& args, const QSet<QString>& valueOptions,
                         const QSet<QString>& flagOptions = {});

// Offline verbs: the frame writer and reader.
int RunEncode(CtlContext& context);
int RunDecode(CtlContext& context);

// Verbs for people (peopleverbs.cpp): tables with human units, or --json.
int RunApps(CtlContext& context);
int RunStats(CtlContext& context);
int RunResetTotals(CtlContext& context);
int RunLimit(CtlContext& context);
int RunBlock(CtlContext& context);
int RunAllow(CtlContext& context);
int RunPriority(CtlContext& context);
int RunEnable(CtlContext& context);
int RunDisable(CtlContext& context);
int RunDefaults(CtlContext& context);
int RunGlobals(CtlContext& context);
int RunReset(CtlContext& context);
int RunDevices(CtlContext& context);

// Network verbs (networkverbs.cpp): one command and its reply, or the broadcasts.
int RunSend(CtlContext& context);
int RunWatch(CtlContext& context);
