#include "desktopindex.h"

#include "appidentity.h"

#include <QDir>
#include <QDirIterator>
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

DesktopIndex::DesktopIndex(const QStringList& folders)
{
    const QStringList list = folders.isEmpty() ? defaultFolders() : folders;
    for (const QString& folder : list) {
        QDirIterator it(folder, {QStringLiteral("*.desktop")}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            read(it.next());
    }
}

QStringList DesktopIndex::defaultFolders()
{
    QStringList folders;
    const QByteArray dataDirs = qgetenv("XDG_DATA_DIRS");
    const QString dirs = dataDirs.isEmpty() ? QStringLiteral("/usr/local/share:/usr/share")
                                            : QString::fromLocal8Bit(dataDirs);
    // bwcd runs as root: its users' own entries live in their homes.
    const QStringList homes =
        QDir(QStringLiteral("/home")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& home : homes)
        folders.append(QStringLiteral("/home/%1/.local/share/applications").arg(home));
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
    return application == program ? program : canonical(application);
}

void DesktopIndex::read(const QString& file)
{
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly | QIODevice::Text))
        return;
    Entry entry;
    QString exec, tryExec;
    bool inMain = false;
    bool hidden = false;
    while (!in.atEnd()) {
        const QString line = QString::fromUtf8(in.readLine()).trimmed();
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
