#include "throwawayuser.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>

#include <pwd.h>

namespace {

bool run(const QString& program, const QStringList& arguments, QString* error)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(20000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        *error =
            program + QLatin1String(": ") + QString::fromLocal8Bit(process.readAllStandardError());
        return false;
    }
    return true;
}

} // namespace

ThrowawayUser::ThrowawayUser()
    : m_name(QStringLiteral("bwcx%1").arg(QCoreApplication::applicationPid()))
{
    if (!run(QStringLiteral("useradd"),
             {"--no-create-home", "--user-group", "--shell", "/usr/sbin/nologin", m_name},
             &m_error))
        return;
    const passwd* user = ::getpwnam(QFile::encodeName(m_name).constData());
    if (!user) {
        m_error = QStringLiteral("useradd made no user %1").arg(m_name);
        return;
    }
    m_uid = user->pw_uid;
    m_gid = user->pw_gid;
}

ThrowawayUser::~ThrowawayUser()
{
    // Whatever the constructor got to, also a user without a record.
    QString ignored;
    run(QStringLiteral("userdel"), {"--force", m_name}, &ignored);
}
