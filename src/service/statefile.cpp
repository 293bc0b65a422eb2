#include "statefile.h"

#include "servicestate.h"
#include "statefolder.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

StateFile::StateFile(const QString& path) : m_path(path) {}

StateFile::LoadResult StateFile::load(ServiceState* state, QString* message) const
{
    *state = ServiceState();
    message->clear();
    StateFolder folder(QFileInfo(m_path).absolutePath());
    QString why;
    if (!folder.open(&why)) {
        // A folder out of reach holds no document; saving will say why it fails.
        if (!folder.isUnsafe())
            return LoadResult::Missing;
        *message = QStringLiteral("refusing to use the state file %1: %2")
                       .arg(QDir::toNativeSeparators(m_path), why);
        return LoadResult::Failed;
    }
    QByteArray bytes;
    switch (folder.read(fileName(), &bytes, &why)) {
    case StateFolder::Read::Missing:
        return LoadResult::Missing;
    case StateFolder::Read::Done:
        if (ServiceState::fromJson(bytes, state, &why))
            return LoadResult::Loaded;
        why = QStringLiteral("corrupt: ") + why;
        break;
    case StateFolder::Read::Unusable:
        break;
    }

    QString moveError;
    const QString aside = moveAside(folder, &moveError);
    if (aside.isEmpty()) {
        *message = QStringLiteral("state file %1 is %2, and it could not be moved aside (%3); "
                                  "refusing to overwrite it")
                       .arg(QDir::toNativeSeparators(m_path), why, moveError);
        return LoadResult::Failed;
    }
    *message = QStringLiteral("state file %1 is %2; moved it aside to %3 and started from the "
                              "factory settings")
                   .arg(QDir::toNativeSeparators(m_path), why, QDir::toNativeSeparators(aside));
    return LoadResult::MovedAside;
}

bool StateFile::save(const ServiceState& state, QString* error) const
{
    StateFolder folder(QFileInfo(m_path).absolutePath());
    // Written beside the document and renamed over it, which is what makes a
    // kill at any moment harmless.
    return folder.open(error) && folder.replace(fileName(), state.toJson(), error);
}

int StateFile::removeLeftovers() const
{
    const QFileInfo info(m_path);
    StateFolder folder(info.absolutePath());
    QString error;
    if (!folder.open(&error))
        return 0;
    // The temporary file's name is the document's plus a dot and six letters
    // or digits; the ".corrupt-" copies kept for people never match.
    const QRegularExpression leftover(
        QStringLiteral("^%1\\.[A-Za-z0-9]{6}$").arg(QRegularExpression::escape(info.fileName())));
    int removed = 0;
    const QStringList names =
        info.absoluteDir().entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : names) {
        if (leftover.match(name).hasMatch() && folder.removeOwnFile(name))
            ++removed;
    }
    return removed;
}

QString StateFile::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
           QStringLiteral("/state.json");
}

QString StateFile::fileName() const
{
    return QFileInfo(m_path).fileName();
}

QString StateFile::moveAside(const StateFolder& folder, QString* error) const
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"));
    QString target = fileName() + QStringLiteral(".corrupt-") + stamp;
    for (int n = 2; folder.exists(target); ++n)
        target = fileName() + QStringLiteral(".corrupt-%1-%2").arg(stamp).arg(n);
    if (!folder.rename(fileName(), target, error))
        return QString();
    return QFileInfo(m_path).absoluteDir().filePath(target);
}
