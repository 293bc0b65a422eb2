#pragma once

#include <QString>

class ServiceState;
class StateFolder;

// The service's state on disk: one JSON document, replaced atomically on
// every save so that a process killed at any moment leaves either the old or
// the new document behind, never a torn one. A document that cannot be used
// is moved aside for a person to look at, never overwritten. The folder must
// be one that other users cannot write to (see StateFolder), and the
// document is never read or written through a symbolic link.
class StateFile
{
public:
    enum class LoadResult
    {
        Loaded,     // the document was read into the state
        Missing,    // no document yet: the state is the factory state
        MovedAside, // the document was unusable and now lies beside, renamed
        Failed,     // the document was unusable and could not be moved: do not save
    };

    explicit StateFile(const QString& path);

    const QString& path() const { return m_path; }

    // Reads the document into *state (the factory state unless Loaded) and
    // describes anything noteworthy in *message. Failed also when the folder
    // is not safe to keep the document in.
    LoadResult load(ServiceState* state, QString* message) const;
    // Writes the whole state, durably, before returning true.
    bool save(const ServiceState& state, QString* error) const;
    // Removes the temporary files that saves interrupted by a kill left beside
    // the document ("state.json.XXXXXX"); gives how many. Only for the one
    // process that owns the document, since it would also take away the file
    // of a save in progress.
    int removeLeftovers() const;

    // The user's data folder for this program, plus "state.json".
    static QString defaultPath();

private:
    QString fileName() const;
    QString moveAside(const StateFolder& folder, QString* error) const;

    QString m_path;
};
