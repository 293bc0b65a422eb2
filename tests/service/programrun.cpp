#include "programrun.h"

#include <QProcess>

ProgramRun ProgramRun::of(const QString& program, const QStringList& args, int timeoutMs)
{
    QProcess process;
    process.start(program, args);
    ProgramRun run;
    if (!process.waitForFinished(timeoutMs + 10000)) {
        process.kill();
        process.waitForFinished();
    } else if (process.exitStatus() == QProcess::NormalExit) {
        run.code = process.exitCode();
    }
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

ProgramRun ProgramRun::bwcctl(quint16 port, const QStringList& args, int timeoutMs)
{
    const QStringList common{"--port", QString::number(port), "--timeout",
                             QString::number(timeoutMs)};
    return of(QStringLiteral(BWCCTL_PATH), common + args, timeoutMs);
}
