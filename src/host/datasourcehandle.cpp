#include "datasourcehandle.h"

#include "datasource.h"

#include <utility>

namespace {
[[maybe_unused]] const int registered = qRegisterMetaType<DataSourceHandle>("DataSourceHandle");
} // namespace

DataSourceHandle::DataSourceHandle(DataSource* pSource) : m_source(pSource)
{
    if (m_source)
        m_source->m_refs.ref();
}

DataSourceHandle::DataSourceHandle(const DataSourceHandle& other) : DataSourceHandle(other.m_source)
{}

DataSourceHandle::DataSourceHandle(DataSourceHandle&& other) noexcept
    : m_source(std::exchange(other.m_source, nullptr))
{}

DataSourceHandle& DataSourceHandle::operator=(const DataSourceHandle& other)
{
    DataSourceHandle copy(other);
    std::swap(m_source, copy.m_source);
    return *this;
}

DataSourceHandle& DataSourceHandle::operator=(DataSourceHandle&& other) noexcept
{
    DataSourceHandle taken(std::move(other));
    std::swap(m_source, taken.m_source);
    return *this;
}

DataSourceHandle::~DataSourceHandle()
{
    reset();
}

DataSourceHandle DataSourceHandle::create(const QString& strName)
{
    return DataSourceHandle(new DataSource(strName));
}

void DataSourceHandle::reset()
{
    DataSource* source = std::exchange(m_source, nullptr);
    if (source && !source->m_refs.deref())
        delete source;
}
