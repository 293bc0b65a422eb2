#include "processdescriber.h"

#include "iconpainter.h"

#include <QColor>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QPixmap>

namespace {

constexpr int IconSize = 32;

QString withoutAddress(const QString& maintainer)
{
    const int at = maintainer.indexOf(QLatin1Char('<'));
    return (at > 0 ? maintainer.left(at) : maintainer).trimmed();
}

QColor colourFor(const QString& name)
{
    const QByteArray digest = QCryptographicHash::hash(name.toUtf8(), QCryptographicHash::Md5);
    return QColor::fromHsv(quint8(digest[0]) * 359 / 255, 150, 190);
}

} // namespace

ProcessDescriber::ProcessDescriber(const QStringList& desktopFolders, const QString& dpkgRoot,
                                   const QStringList& iconFolders)
    : m_desktopFolders(desktopFolders), m_iconFolders(iconFolders), m_dpkg(dpkgRoot)
{
    if (m_iconFolders.isEmpty()) {
        for (const char* size : {"48x48", "64x64", "32x32", "128x128", "256x256", "24x24"})
            m_iconFolders.append(
                QStringLiteral("/usr/share/icons/hicolor/%1/apps").arg(QLatin1String(size)));
        m_iconFolders.append(QStringLiteral("/usr/share/pixmaps"));
    }
}

ProcessDescriber::~ProcessDescriber() = default;

const DesktopIndex& ProcessDescriber::desktop() const
{
    if (!m_desktop)
        m_desktop.reset(new DesktopIndex(m_desktopFolders));
    return *m_desktop;
}

QString ProcessDescriber::iconFile(const QString& icon) const
{
    if (icon.isEmpty())
        return QString();
    if (QDir::isAbsolutePath(icon))
        return QFileInfo::exists(icon) ? icon : QString();
    for (const QString& folder : m_iconFolders) {
        for (const char* suffix : {".png", ".xpm", ".svg"}) {
            const QString file = folder + QLatin1Char('/') + icon + QLatin1String(suffix);
            if (QFileInfo::exists(file))
                return file;
        }
    }
    return QString();
}

Process ProcessDescriber::describe(const QString& path) const
{
    const auto cached = m_cache.constFind(path);
    if (cached != m_cache.constEnd())
        return *cached;
    const QFileInfo file(path);
    Process process;
    process.filePath = path;
    process.originalFilename = file.fileName();
    process.internalName = file.fileName();
    process.fileSize = quint64(std::max<qint64>(file.size(), 0));

    DesktopIndex::Entry entry;
    const bool hasEntry = desktop().find(path, &entry);
    DpkgIndex::Package package;
    const bool packaged =
        m_dpkg.owner(file.canonicalFilePath().isEmpty() ? path : file.canonicalFilePath(),
                     &package) ||
        m_dpkg.owner(path, &package);
    process.description = hasEntry ? entry.name : file.fileName();
    if (process.description.isEmpty())
        process.description = path;
    process.productName = process.description;
    process.comments = hasEntry && !entry.comment.isEmpty() ? entry.comment : package.summary;
    if (packaged) {
        process.productVersion = package.version;
        process.fileVersion = package.version;
        process.company = withoutAddress(package.maintainer);
    }

    QImage image;
    const QString iconPath = hasEntry ? iconFile(entry.icon) : QString();
    if (!iconPath.isEmpty() && image.load(iconPath))
        image = image.scaled(IconSize, IconSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    if (image.isNull())
        image = IconPainter::paint(process.description, colourFor(process.description));
    process.icon = QPixmap::fromImage(image);
    m_cache.insert(path, process);
    return process;
}

Process ProcessDescriber::describeUnattributed(const QString& path) const
{
    Process process;
    process.filePath = path;
    process.description = QStringLiteral("Unattributed traffic");
    process.productName = process.description;
    process.comments = QStringLiteral("Packets of sockets no running program could be found for "
                                      "(made by the kernel, or by programs that ended at once)");
    process.icon = QPixmap::fromImage(IconPainter::paint(process.description, Qt::gray));
    return process;
}
