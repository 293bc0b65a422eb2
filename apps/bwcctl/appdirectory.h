#pragma once

#include "bwcentry.h"

#include <QList>
#include <QString>

class ServiceSession;

// The service's applications with the names people know them by, and the
// matching of what a person types against them.
class AppDirectory
{
public:
    struct App
    {
        BWCEntryPtr entry;
        QString name; // the executable's description, else its file name
    };

    // Enumerates the applications (including those that did not fit the
    // enumeration's frame and came as announcements) and describes each.
    bool load(ServiceSession& session, QString* error, bool* timedOut);

    const QList<App>& apps() const { return m_apps; }
    const App* byId(const QString& id) const;

    // The one application a person means by name, path or file name, compared
    // without regard to case; a unique partial name will do. Null with a
    // reason when nothing or more than one matches.
    const App* find(const QString& query, QString* error) const;

    static QString fileName(const QString& path);

private:
    QList<App> m_apps;
};
