#include "appidentity.h"

#include "execrecord.h"
#include "pathtext.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

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

// The index of the first argument that names a file to run, or -1.
int scriptOf(const Interpreter& interpreter, const QStringList& argv)
{
    for (int i = 1; i < argv.size(); ++i) {
        const QString& arg = argv[i];
        if (arg == QLatin1String("--"))
            return i + 1 < argv.size() ? i + 1 : -1;
        if (interpreter.noScript.contains(arg))
            return -1;
        if (arg.startsWith(QLatin1Char('-')) || arg.startsWith(QLatin1Char('+'))) {
            if (interpreter.optionsWithValue.contains(arg))
                ++i;
            continue;
        }
        return arg.isEmpty() ? -1 : i;
    }
    return -1;
}

int jarOf(const QStringList& argv)
{
    const int at = argv.indexOf(QStringLiteral("-jar"));
    return at > 0 && at + 1 < argv.size() && !argv[at + 1].isEmpty() ? at + 1 : -1;
}

// Which argument names the script an interpreter runs, -1 for none.
int scriptIndex(const QString& exe, const QStringList& argv)
{
    const QString base = QFileInfo(exe).fileName();
    if (base == QLatin1String("java"))
        return jarOf(argv);
    for (const Interpreter& interpreter : interpreters()) {
        if (interpreter.name.match(base).hasMatch())
            return scriptOf(interpreter, argv);
    }
    return -1;
}

quint32 kernelDev(dev_t dev)
{
    return quint32(major(dev)) << 20 | quint32(minor(dev));
}

quint32 ownMountNamespace()
{
    struct stat info
    {
    };
    static const quint32 own = ::stat("/proc/self/ns/mnt", &info) == 0 ? quint32(info.st_ino) : 0u;
    return own;
}

// A file seen from another mount namespace: its path there may name another
// file here, so the name carries which file it is.
QString foreignName(const QString& path, quint32 dev, quint64 ino)
{
    return QStringLiteral("%1 [%2:%3]").arg(path).arg(dev).arg(ino);
}

// Whether a process with these effective ids may read the file (its
// supplementary groups aside).
bool readable(const struct stat& info, quint32 uid, quint32 gid)
{
    if (uid == 0)
        return true;
    if (info.st_uid == uid)
        return info.st_mode & S_IRUSR;
    if (info.st_gid == gid)
        return info.st_mode & S_IRGRP;
    return info.st_mode & S_IROTH;
}

QStringList argumentsText(const QList<QByteArray>& args)
{
    QStringList list;
    list.reserve(args.size());
    for (const QByteArray& arg : args)
        list.append(PathText::fromBytes(arg));
    return list;
}

// The script of an interpreter's process as a path, or a null string when it
// names no file the process could have run.
QString scriptPath(const ExecRecord& record, const QByteArray& arg, bool foreign)
{
    if (!arg.startsWith('/') && record.cwd.isEmpty())
        return QString(); // where it started is not known
    QByteArray file = arg.startsWith('/') ? arg : record.cwd + '/' + arg;
    if (foreign) {
        // Its files as it sees them: through its own root, named with
        // which file they are.
        const QByteArray root = "/proc/" + QByteArray::number(record.tgid) + "/root";
        struct stat info
        {
        };
        if (::stat((root + file).constData(), &info) != 0 || !S_ISREG(info.st_mode) ||
            !readable(info, record.uid, record.gid))
            return QString();
        return foreignName(QDir::cleanPath(PathText::fromBytes(file)), kernelDev(info.st_dev),
                           quint64(info.st_ino));
    }
    // Resolved once, by the kernel: the file is what the descriptor holds,
    // whatever is renamed or linked meanwhile, and its name is the one the
    // kernel gives that file.
    const int fd = ::open(file.constData(), O_PATH | O_CLOEXEC);
    if (fd < 0)
        return QString();
    struct stat info
    {
    };
    QByteArray real(PATH_MAX, '\0');
    const bool regular =
        ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && readable(info, record.uid, record.gid);
    const ssize_t length = regular
                               ? ::readlink(("/proc/self/fd/" + QByteArray::number(fd)).constData(),
                                            real.data(), size_t(real.size()))
                               : -1;
    ::close(fd);
    // A file that is gone has no name left to be known by.
    if (length <= 0 || length >= real.size() || !real.startsWith('/') || info.st_nlink == 0)
        return QString();
    return PathText::fromBytes(real.left(int(length)));
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
    const int script = scriptIndex(exe, argv);
    return script < 0 ? exe : absolute(argv[script], cwd);
}

bool AppIdentity::ofExec(const ExecRecord& record, QString* path)
{
    if (record.exe.isEmpty())
        return false;
    const bool foreign = record.mntns && ownMountNamespace() && record.mntns != ownMountNamespace();
    QString exe = PathText::fromBytes(record.exe);
    if (foreign) {
        struct stat info
        {
        };
        const bool same = ::stat(record.exe.constData(), &info) == 0 &&
                          kernelDev(info.st_dev) == record.dev &&
                          quint64(info.st_ino) == record.ino;
        if (!same)
            exe = foreignName(exe, record.dev, record.ino);
    }
    *path = exe;
    const int script = scriptIndex(PathText::fromBytes(record.exe), argumentsText(record.args));
    if (script < 0)
        return true;
    const QString file = scriptPath(record, record.args[script], foreign);
    if (!file.isEmpty())
        *path = file;
    return true;
}

bool AppIdentity::recordOfProcess(quint32 pid, ExecRecord* record)
{
    const QByteArray proc = "/proc/" + QByteArray::number(pid) + '/';
    const auto link = [&](const char* name) {
        QByteArray target(PATH_MAX, '\0');
        const ssize_t length =
            ::readlink((proc + name).constData(), target.data(), size_t(target.size()));
        return length > 0 ? target.left(int(length)) : QByteArray();
    };
    ExecRecord found;
    found.tgid = pid;
    found.exe = link("exe");
    if (found.exe.isEmpty())
        return false;
    struct stat info
    {
    };
    if (::stat((proc + "exe").constData(), &info) != 0)
        return false;
    found.dev = kernelDev(info.st_dev);
    found.ino = quint64(info.st_ino);
    // A program replaced on disk while it runs keeps the name it had; a file
    // that is merely called so keeps its whole name.
    if (info.st_nlink == 0 && found.exe.endsWith(" (deleted)"))
        found.exe.chop(10);
    if (::stat(proc.constData(), &info) == 0) {
        found.uid = info.st_uid;
        found.gid = info.st_gid;
    }
    if (::stat((proc + "ns/mnt").constData(), &info) == 0)
        found.mntns = quint32(info.st_ino);
    // Where it is now, as the kernel holds it (not a name that may be
    // changed under us); from another mount namespace, its own name for it.
    const bool foreign = found.mntns && ownMountNamespace() && found.mntns != ownMountNamespace();
    found.cwd = foreign ? link("cwd") : proc + "cwd";
    *record = found;
    return true;
}

QList<QByteArray> AppIdentity::argumentsOf(quint32 pid)
{
    QList<QByteArray> args;
    QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (cmdline.open(QIODevice::ReadOnly)) {
        QByteArray all = cmdline.read(64 * 1024);
        if (all.endsWith('\0'))
            all.chop(1);
        if (!all.isEmpty())
            args = all.split('\0');
    }
    return args;
}
