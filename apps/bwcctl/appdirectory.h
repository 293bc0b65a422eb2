#pragma once

#include "bwcentry.h"
#include "bwctotalsentry.h"

#include <QHash>
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
        QString name;             // the executable's description, else its file name
        BWCTotalsEntryPtr totals; // null from a service that does not count them
    };
    struct Machine // its network traffic, from a service that counts totals
    {
        quint32 sentRate = 0;
        quint32 receivedRate = 0;
        quint64 sent = 0;
        quint64 received = 0;
    };

    // Asks the service for every application with its name and totals in a
    // few replies; a service without that extension is asked the way the
    // module asks: the enumeration (including those that did not fit its
    // frame and came as announcements), then each application's description.
    bool load(ServiceSession& session, QString* error, bool* timedOut);

    const QList<App>& apps() const { return m_apps; }
    // Whether the service gave totals (and the machine's figures).
    bool hasTotals() const { return m_hasTotals; }
    const Machine& machine() const { return m_machine; }
    const App* byId(const QString& id) const;

    // The one application a person means by name, path or file name, compared
    // without regard to case; a unique partial name will do. Null with a
    // reason when nothing or more than one matches.
    const App* find(const QString& query, QString* error) const;

    static QString fileName(const QString& path);

private:
    // False with *supported cleared when the service does not know the request.
    bool loadTotals(ServiceSession& session, QString* error, bool* timedOut, bool* supported);
    bool loadEnumerated(ServiceSession& session, QString* error, bool* timedOut);

    QList<App> m_apps;
    QHash<QString, qsizetype> m_byId;
    bool m_hasTotals = false;
    Machine m_machine;
};
