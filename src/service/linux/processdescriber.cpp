#include "processdescriber.h"

#include "iconloader.h"
#include "iconpainter.h"

#include <QColor>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

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

Process ProcessDescriber::Description::toProcess() const
{
    Process out = process;
    out.icon = QPixmap::fromImage(icon);
    return out;
}

ProcessDescriber::ProcessDescriber(const Options& options)
    : m_options(options), m_homes(options.homes), m_dpkg(options.dpkgRoot)
{
    if (m_options.systemFolders.isEmpty())
        m_options.systemFolders = DesktopIndex::systemFolders();
    if (m_options.iconFolders.isEmpty()) {
        for (const char* size : {"48x48", "64x64", "32x32", "128x128", "256x256", "24x24"})
            m_options.iconFolders.append(
                QStringLiteral("/usr/share/icons/hicolor/%1/apps").arg(QLatin1String(size)));
        m_options.iconFolders.append(QStringLiteral("/usr/share/pixmaps"));
    }
    struct stat database;
    m_installer = ::stat(QFile::encodeName(m_options.dpkgRoot).constData(), &database) == 0
                      ? database.st_uid
                      : uid_t(0);
    m_clock.start();
}

ProcessDescriber::~ProcessDescriber() = default;

QString ProcessDescriber::themeIconFile(const QString& icon) const
{
    if (icon.isEmpty() || icon.contains(QLatin1Char('/')))
        return QString();
    for (const QString& folder : m_options.iconFolders) {
        for (const char* suffix : {".png", ".xpm", ".svg"}) {
            const QString file = folder + QLatin1Char('/') + icon + QLatin1String(suffix);
            if (QFileInfo::exists(file))
                return file;
        }
    }
    return QString();
}

ProcessDescriber::Source ProcessDescriber::systemSource()
{
    const QString key = QStringLiteral("/");
    const auto known = m_indexes.constFind(key);
    if (known != m_indexes.constEnd() &&
        m_clock.elapsed() - known->second < m_options.indexLifetimeMs)
        return known->first;
    const Source source{std::make_shared<DesktopIndex>(m_options.systemFolders), SafeFileReader(),
                        QString()};
    m_indexes.insert(key, {source, m_clock.elapsed()});
    return source;
}

ProcessDescriber::Source ProcessDescriber::homeSource(const HomeFolders::Home& home)
{
    const auto known = m_indexes.constFind(home.folder);
    if (known != m_indexes.constEnd() && known->first.reader.owner().uid == home.owner.uid &&
        m_clock.elapsed() - known->second < m_options.indexLifetimeMs)
        return known->first;
    const SafeFileReader reader(home.owner);
    const Source source{
        std::make_shared<DesktopIndex>(QStringList{DesktopIndex::folderIn(home.folder)}, reader),
        reader, home.folder};
    m_indexes.insert(home.folder, {source, m_clock.elapsed()});
    return source;
}

QList<ProcessDescriber::Source> ProcessDescriber::sourcesFor(const QString& canonical, uid_t owner)
{
    HomeFolders::Home home;
    if (m_homes.containing(canonical, &home))
        return {homeSource(home), systemSource()};
    QList<Source> sources{systemSource()};
    if (owner != 0) {
        for (const HomeFolders::Home& candidate : m_homes.all()) {
            if (candidate.owner.uid == owner)
                sources.append(homeSource(candidate));
        }
    }
    return sources;
}

QImage ProcessDescriber::iconOf(const Source& source, const QString& icon) const
{
    if (icon.isEmpty())
        return QImage();
    if (!QDir::isAbsolutePath(icon)) {
        const QString file = themeIconFile(icon);
        return file.isEmpty() ? QImage()
                              : IconLoader::load(source.reader, file, SafeFileReader::Links::Follow);
    }
    // A picture in someone's home is read with that user's rights, whoever named it.
    SafeFileReader reader = source.reader;
    HomeFolders::Home home;
    if (source.home.isEmpty() && m_homes.containing(icon, &home))
        reader = SafeFileReader(home.owner);
    return IconLoader::load(reader, icon, SafeFileReader::Links::Follow);
}

ProcessDescriber::Description ProcessDescriber::describe(const QString& path)
{
    Description description = plain(path);
    Process& process = description.process;
    const QString resolved = QFileInfo(path).canonicalFilePath();
    const QString canonical = resolved.isEmpty() ? QDir::cleanPath(path) : resolved;
    struct stat info;
    const bool exists = ::stat(QFile::encodeName(canonical).constData(), &info) == 0;
    if (exists && S_ISREG(info.st_mode))
        process.fileSize = quint64(info.st_size);
    const uid_t owner = exists ? info.st_uid : uid_t(-1);

    DesktopIndex::Entry entry;
    Source from;
    for (const Source& source : sourcesFor(canonical, owner)) {
        if (source.index->find(canonical, &entry)) {
            from = source;
            break;
        }
    }
    const bool hasEntry = bool(from.index);
    // Only the package database's owner (root) installs packages: a user's
    // file is no package's, and is not looked for in every list.
    DpkgIndex::Package package;
    const bool packaged = exists && owner == m_installer &&
                          (m_dpkg.owner(canonical, &package) || m_dpkg.owner(path, &package));
    if (hasEntry && !entry.name.isEmpty())
        process.description = entry.name;
    process.productName = process.description;
    process.comments = hasEntry && !entry.comment.isEmpty() ? entry.comment : package.summary;
    if (packaged) {
        process.productVersion = package.version;
        process.fileVersion = package.version;
        process.company = withoutAddress(package.maintainer);
    }
    const QImage image = hasEntry ? iconOf(from, entry.icon) : QImage();
    description.icon =
        image.isNull()
            ? IconPainter::paint(process.description, colourFor(process.description))
            : image.scaled(IconSize, IconSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return description;
}

ProcessDescriber::Description ProcessDescriber::plain(const QString& path)
{
    Description description;
    Process& process = description.process;
    const QString name = QFileInfo(path).fileName();
    process.filePath = path;
    process.originalFilename = name;
    process.internalName = name;
    process.description = name.isEmpty() ? path : name;
    process.productName = process.description;
    description.icon = IconPainter::paint(process.description, colourFor(process.description));
    return description;
}

Process ProcessDescriber::describeUnattributed(const QString& path)
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
