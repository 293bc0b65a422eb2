#include "statefile.h"

#include "servicestate.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>

StateFile::StateFile(const QString& path) : m_path(path) {}

StateFile::LoadResult StateFile::load(ServiceState* state, QString* message) const
{
    *state = ServiceState();
    message->clear();
    QFile file(m_path);
    if (!file.exists())
        return LoadResult::Missing;

    QString why;
    if (!file.open(QIODevice::ReadOnly)) {
        why = QStringLiteral("unreadable (%1)").arg(file.errorString());
    } else {
        const QByteArray bytes = file.readAll();
        if (file.error() != QFileDevice::NoError)
            why = QStringLiteral("unreadable (%1)").arg(file.errorString());
        else if (ServiceState::fromJson(bytes, state, &why))
            return LoadResult::Loaded;
        else
            why = QStringLiteral("corrupt: ") + why;
        file.close();
    }

    QString moveError;
    const QString aside = moveAside(&moveError);
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
    const QFileInfo info(m_path);
    if (!QDir().mkpath(info.absolutePath())) {
        *error = QStringLiteral("cannot create the folder %1")
                     .arg(QDir::toNativeSeparators(info.absolutePath()));
        return false;
    }
    // QSaveFile writes a temporary file, flushes it to disk and renames it
    // over the old one, which is what makes a kill at any moment harmless.
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    const QByteArray bytes = state.toJson();
    if (file.write(bytes) != bytes.size() || !file.commit()) {
        *error = file.errorString();
        file.cancelWriting();
        return false;
    }
    return true;
}

int StateFile::removeLeftovers() const
{
    const QFileInfo info(m_path);
    // The temporary file's name is the document's plus a dot and six letters
    // or digits; the ".corrupt-" copies kept for people never match.
    const QRegularExpression leftover(
        QStringLiteral("^%1\\.[A-Za-z0-9]{6}$").arg(QRegularExpression::escape(info.fileName())));
    const QDir folder = info.absoluteDir();
    int removed = 0;
    const QStringList names = folder.entryList(QDir::Files | QDir::Hidden);
    for (const QString& name : names) {
        if (leftover.match(name).hasMatch() && QFile::remove(folder.filePath(name)))
            ++removed;
    }
    return removed;
}

QString StateFile::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
           QStringLiteral("/state.json");
}

QString StateFile::moveAside(QString* error) const
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"));
    QString target = m_path + QStringLiteral(".corrupt-") + stamp;
    for (int n = 2; QFileInfo::exists(target); ++n)
        target = m_path + QStringLiteral(".corrupt-%1-%2").arg(stamp).arg(n);
    QFile file(m_path);
    if (!file.rename(target)) {
        *error = file.errorString();
        return QString();
    }
    return target;
}
