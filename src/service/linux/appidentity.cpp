#include "appidentity.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace {

struct Interpreter
{
    QRegularExpression name;
    QStringList optionsWithValue; // options whose value is the next argument
    QStringList noScript;         // options after which no script file follows
};

const QList<Interpreter>& interpreters()
{
    static const QList<Interpreter> list{
        {QRegularExpression(QStringLiteral("^python[0-9.]*$")),
         {"-W", "-X", "-Q", "--check-hash-based-pycs"},
         {"-c", "-m", "-"}},
        {QRegularExpression(QStringLiteral("^(perl|ruby|lua|php|tclsh|wish)[0-9.]*$")),
         {"-I", "-r", "-d", "-x"},
         {"-e", "-E", "-", "-r"}},
        {QRegularExpression(QStringLiteral("^(node|nodejs|deno|bun)$")),
         {"-r", "--require", "--import", "--loader"},
         {"-e", "--eval", "-p", "--print", "-"}},
        {QRegularExpression(QStringLiteral("^(bash|sh|dash|zsh|ksh|mksh|fish|busybox)$")),
         {"-o", "-O", "+o", "+O", "--rcfile", "--init-file"},
         {"-c", "-s", "-i", "-"}},
    };
    return list;
}

QString absolute(const QString& file, const QString& cwd)
{
    if (QDir::isAbsolutePath(file) || cwd.isEmpty())
        return QDir::cleanPath(file);
    return QDir::cleanPath(cwd + QLatin1Char('/') + file);
}

// The first argument that names a file to run, or a null string.
QString scriptOf(const Interpreter& interpreter, const QStringList& argv)
{
    for (int i = 1; i < argv.size(); ++i) {
        const QString& arg = argv[i];
        if (arg == QLatin1String("--"))
            return i + 1 < argv.size() ? argv[i + 1] : QString();
        if (interpreter.noScript.contains(arg))
            return QString();
        if (arg.startsWith(QLatin1Char('-')) || arg.startsWith(QLatin1Char('+'))) {
            if (interpreter.optionsWithValue.contains(arg))
                ++i;
            continue;
        }
        return arg;
    }
    return QString();
}

QString jarOf(const QStringList& argv)
{
    const int at = argv.indexOf(QStringLiteral("-jar"));
    return at > 0 && at + 1 < argv.size() ? argv[at + 1] : QString();
}

} // namespace

bool AppIdentity::isInterpreter(const QString& exe)
{
    const QString base = QFileInfo(exe).fileName();
    if (base == QLatin1String("java"))
        return true;
    for (const Interpreter& interpreter : interpreters()) {
        if (interpreter.name.match(base).hasMatch())
            return true;
    }
    return false;
}

QString AppIdentity::resolve(const QString& exe, const QStringList& argv, const QString& cwd)
{
    const QString base = QFileInfo(exe).fileName();
    QString file;
    if (base == QLatin1String("java")) {
        file = jarOf(argv);
    } else {
        for (const Interpreter& interpreter : interpreters()) {
            if (interpreter.name.match(base).hasMatch()) {
                file = scriptOf(interpreter, argv);
                break;
            }
        }
    }
    return file.isEmpty() ? exe : absolute(file, cwd);
}

bool AppIdentity::ofProcess(quint32 pid, QString* path)
{
    const QString proc = QStringLiteral("/proc/%1/").arg(pid);
    QString exe = QFile::symLinkTarget(proc + QLatin1String("exe"));
    if (exe.isEmpty())
        return false;
    // A program replaced on disk while it runs keeps the name it had.
    if (exe.endsWith(QLatin1String(" (deleted)")))
        exe.chop(10);
    // Reading another process's arguments takes its memory map's lock, which
    // that process can keep busy: only an interpreter's are worth the wait.
    if (!isInterpreter(exe)) {
        *path = exe;
        return true;
    }
    QFile cmdline(proc + QLatin1String("cmdline"));
    QStringList argv;
    if (cmdline.open(QIODevice::ReadOnly)) {
        const QByteArray all = cmdline.read(64 * 1024);
        for (const QByteArray& part : all.split('\0'))
            argv.append(QString::fromLocal8Bit(part));
        if (!argv.isEmpty() && argv.last().isEmpty())
            argv.removeLast();
    }
    *path = resolve(exe, argv, QFile::symLinkTarget(proc + QLatin1String("cwd")));
    return true;
}
