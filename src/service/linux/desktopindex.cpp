#include "desktopindex.h"

#include "appidentity.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

QString canonical(const QString& path)
{
    const QString resolved = QFileInfo(path).canonicalFilePath();
    return resolved.isEmpty() ? QDir::cleanPath(path) : resolved;
}

} // namespace

DesktopIndex::DesktopIndex(const QStringList& folders, const SafeFileReader& reader)
{
    for (const QString& folder : folders) {
        const QStringList files =
            reader.listFiles(folder, QStringLiteral(".desktop"), MaxDepth, MaxNames);
        for (const QString& file : files)
            read(reader, file);
    }
}

QString DesktopIndex::folderIn(const QString& home)
{
    return home + QLatin1String("/.local/share/applications");
}

QStringList DesktopIndex::systemFolders()
{
    QStringList folders;
    const QByteArray dataDirs = qgetenv("XDG_DATA_DIRS");
    const QString dirs = dataDirs.isEmpty() ? QStringLiteral("/usr/local/share:/usr/share")
                                            : QString::fromLocal8Bit(dataDirs);
    for (const QString& dir : dirs.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        folders.append(dir + QLatin1String("/applications"));
    folders << QStringLiteral("/var/lib/flatpak/exports/share/applications")
            << QStringLiteral("/var/lib/snapd/desktop/applications");
    return folders;
}

QString DesktopIndex::programOf(const QString& execLine)
{
    QStringList words = execLine.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (QString& word : words) {
        if (word.size() >= 2 && word.startsWith(QLatin1Char('"')) &&
            word.endsWith(QLatin1Char('"')))
            word = word.mid(1, word.size() - 2);
    }
    // "env A=b program", "A=b program"
    while (!words.isEmpty() && (words.first() == QLatin1String("env") ||
                                words.first().endsWith(QLatin1String("/env")) ||
                                (words.first().contains(QLatin1Char('=')) &&
                                 !words.first().startsWith(QLatin1Char('/'))))) {
        words.removeFirst();
    }
    if (words.isEmpty() || words.first().startsWith(QLatin1Char('%')))
        return QString();
    QString program = words.first();
    if (!QDir::isAbsolutePath(program))
        program = QStandardPaths::findExecutable(program);
    if (program.isEmpty())
        return QString();
    program = canonical(program);
    // An entry that runs a script through an interpreter names the script;
    // one that hands the interpreter a command line names nothing we know.
    const QString application = AppIdentity::resolve(program, words, QString());
    if (application == program && words.size() > 1 && AppIdentity::isInterpreter(program))
        return QString();
    if (application == program)
        return program;
    // A script named relative to a folder the entry does not give is no file
    // we know (never one relative to wherever bwcd happens to run).
    return QDir::isAbsolutePath(application) ? canonical(application) : QString();
}

void DesktopIndex::read(const SafeFileReader& reader, const QString& file)
{
    QList<QByteArray> lines;
    if (!reader.readLines(file, MaxEntryBytes, MaxLineBytes, &lines))
        return;
    Entry entry;
    QString exec, tryExec;
    bool inMain = false;
    bool hidden = false;
    for (const QByteArray& raw : std::as_const(lines)) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            if (inMain)
                break; // actions and other groups follow the main one
            inMain = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inMain)
            continue;
        const int equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0)
            continue;
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        if (key == QLatin1String("Name"))
            entry.name = value;
        else if (key == QLatin1String("Comment"))
            entry.comment = value;
        else if (key == QLatin1String("Icon"))
            entry.icon = value;
        else if (key == QLatin1String("Exec"))
            exec = value;
        else if (key == QLatin1String("TryExec"))
            tryExec = value;
        else if (key == QLatin1String("Hidden") && value == QLatin1String("true"))
            hidden = true;
    }
    if (hidden || entry.name.isEmpty())
        return;
    QString program = programOf(exec);
    if (program.isEmpty())
        program = programOf(tryExec);
    if (!program.isEmpty() && !m_byExecutable.contains(program))
        m_byExecutable.insert(program, entry);
}

bool DesktopIndex::find(const QString& executable, Entry* entry) const
{
    const auto it = m_byExecutable.constFind(canonical(executable));
    if (it == m_byExecutable.constEnd())
        return false;
    *entry = *it;
    return true;
}
