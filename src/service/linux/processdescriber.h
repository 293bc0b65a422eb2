#pragma once

#include "desktopindex.h"
#include "dpkgindex.h"
#include "homefolders.h"
#include "process.h"

#include <QElapsedTimer>
#include <QHash>
#include <QImage>

#include <memory>

// Describes an application's executable the way a Linux user knows it: the
// name and comment of the desktop entry that launches it (else the file's
// name), the version and maintainer of the package that installed it, the
// file's size, and the entry's icon from the icon theme (else one drawn for
// it).
//
// Whose entries count: a user's own entries (in their home) describe only
// that user's programs, the executables inside that home or owned by that
// user, and are read with that user's rights, as are the icons they name.
// For those programs the user's entries come first; for every other program
// (the system's) only the system's entries count.
//
// It reads files users control and may take long on a bad file system: run
// it on a thread of its own (DescriptionCache does), one describer a thread.
class ProcessDescriber
{
public:
    struct Options
    {
        QStringList systemFolders; // empty: DesktopIndex::systemFolders()
        QString homes = QStringLiteral("/home");
        QString dpkgRoot = QStringLiteral("/var/lib/dpkg");
        QStringList iconFolders;        // empty: the hicolor theme and pixmaps
        qint64 indexLifetimeMs = 30000; // application folders are read again after this
    };
    // A description made away from the main thread: pictures there are images.
    struct Description
    {
        Process process; // without its icon
        QImage icon;

        Process toProcess() const;
    };

    ProcessDescriber() : ProcessDescriber(Options()) {}
    explicit ProcessDescriber(const Options& options);
    ~ProcessDescriber();

    Description describe(const QString& path);
    // What is said of a program before (or instead of) its description: its
    // file name and a drawn icon; nothing read from any file.
    static Description plain(const QString& path);
    static Process describeUnattributed(const QString& path);

    // An icon file for a relative Icon= value in the icon folders, or a null string.
    QString themeIconFile(const QString& icon) const;

private:
    struct Source
    {
        std::shared_ptr<const DesktopIndex> index;
        SafeFileReader reader;
        QString home; // empty for the system's folders
    };

    QList<Source> sourcesFor(const QString& canonical, uid_t owner);
    Source homeSource(const HomeFolders::Home& home);
    Source systemSource();
    QImage iconOf(const Source& source, const QString& icon) const;

    Options m_options;
    HomeFolders m_homes;
    DpkgIndex m_dpkg;
    uid_t m_installer = 0;
    QElapsedTimer m_clock;
    QHash<QString, QPair<Source, qint64>> m_indexes; // folder -> source, when it was read
};
