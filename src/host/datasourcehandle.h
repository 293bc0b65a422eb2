#pragma once

#include "hostexport.h"

#include <QMetaType>
#include <QString>

class DataSource;

// A counted reference to a DataSource. Copies share the source; the source is
// deleted when the last handle is destroyed or reset. Counting is atomic, so
// handles may be copied on any thread; the source itself, being a QObject,
// is deleted on whichever thread lets go last.
class BWCHOST_EXPORT DataSourceHandle
{
public:
    DataSourceHandle() = default;
    // Takes a reference to pSource (which may be null).
    explicit DataSourceHandle(DataSource* pSource);
    DataSourceHandle(const DataSourceHandle& other);
    DataSourceHandle(DataSourceHandle&& other) noexcept;
    DataSourceHandle& operator=(const DataSourceHandle& other);
    DataSourceHandle& operator=(DataSourceHandle&& other) noexcept;
    ~DataSourceHandle();

    // A new source named strName, held by the returned handle.
    static DataSourceHandle create(const QString& strName);

    DataSource* get() const { return m_source; }
    DataSource* operator->() const { return m_source; }
    DataSource& operator*() const { return *m_source; }
    bool isNull() const { return m_source == nullptr; }
    explicit operator bool() const { return m_source != nullptr; }

    // Lets go of the source (deleting it if this was the last handle).
    void reset();

    friend bool operator==(const DataSourceHandle& a, const DataSourceHandle& b)
    {
        return a.m_source == b.m_source;
    }
    friend bool operator!=(const DataSourceHandle& a, const DataSourceHandle& b)
    {
        return a.m_source != b.m_source;
    }

private:
    DataSource* m_source = nullptr;
};

Q_DECLARE_METATYPE(DataSourceHandle)
