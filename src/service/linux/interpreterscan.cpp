#include "interpreterscan.h"

#include "appidentity.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

QStringList InterpreterScan::defaultDirectories()
{
    QStringList directories{"/usr/local/bin", "/usr/bin", "/bin", "/usr/sbin", "/sbin"};
    const QDir jvm(QStringLiteral("/usr/lib/jvm"));
    for (const QString& name : jvm.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        directories.append(jvm.filePath(name) + QLatin1String("/bin"));
    return directories;
}

QStringList InterpreterScan::find(const QStringList& directories)
{
    QStringList found;
    QSet<QString> seen;
    for (const QString& directory : directories) {
        const QFileInfoList entries =
            QDir(directory).entryInfoList(QDir::Files | QDir::System | QDir::NoDotAndDotDot);
        for (const QFileInfo& entry : entries) {
            // By the file it is (python3 -> python3.13), as the kernel knows it.
            const QString file = entry.canonicalFilePath();
            if (file.isEmpty() || seen.contains(file) || !AppIdentity::isInterpreter(file))
                continue;
            seen.insert(file);
            found.append(file);
        }
    }
    return found;
}
