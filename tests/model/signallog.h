#pragma once

#include <QObject>
#include <QStringList>

class ApplicationSettings;

// Every signal of a settings object as text ("newDefaultUL(0)"), in the order
// they were emitted, so a test can check order as well as values.
class SignalLog : public QObject
{
    Q_OBJECT
public:
    explicit SignalLog(ApplicationSettings* settings);

    QStringList entries;
    // Whether a signal of that name was logged; for waiting on the last one.
    bool contains(const QString& prefix) const;
    void clear() { entries.clear(); }

private:
    void add(const char* name, const QString& value = QString());
};
