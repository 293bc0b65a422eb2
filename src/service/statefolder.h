#pragma once

#include <QByteArray>
#include <QString>

// The folder that holds the state document, opened and checked before each
// use: nobody but its owner (the service's user or root) may be able to
// replace what lies in it, unless the sticky bit keeps everyone else to their
// own files. The files in it are taken by name and never through a symbolic
// link, so that a link planted there cannot make the service read or write a
// file elsewhere with its rights.
class StateFolder
{
public:
    enum class Read
    {
        Done,
        Missing,
        Unusable, // *why says why; the name may still be moved aside
    };

    explicit StateFolder(const QString& path);
    ~StateFolder();
    StateFolder(const StateFolder&) = delete;
    StateFolder& operator=(const StateFolder&) = delete;

    // Makes the folder when it is missing and checks it; false with the reason in *error.
    bool open(QString* error);
    // After a failed open: whether the folder is there but not safe to use,
    // rather than out of reach.
    bool isUnsafe() const { return m_unsafe; }

    Read read(const QString& name, QByteArray* bytes, QString* why) const;
    // Replaces the file atomically and durably (a temporary file of the name
    // plus a dot and six letters or digits, then renamed over it).
    bool replace(const QString& name, const QByteArray& bytes, QString* error) const;
    // Fails rather than replace anything at the new name.
    bool rename(const QString& from, const QString& to, QString* error) const;
    bool exists(const QString& name) const;
    // Removes a regular file of the service's user; false for anything else.
    bool removeOwnFile(const QString& name) const;

    // Documents larger than this are not read.
    static constexpr qint64 MaxDocumentBytes = 64 * 1024 * 1024;

private:
    QString m_path;
    int m_fd = -1;
    bool m_unsafe = false;
};
