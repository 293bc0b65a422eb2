#include "datasource.h"

DataSource::DataSource(const QString& strName) : m_name(strName) {}

DataSource::~DataSource() = default;

void DataSource::setValid(bool bValid)
{
    QMutexLocker locker(&m_mutex);
    m_valid = bValid;
}

bool DataSource::isValid() const
{
    QMutexLocker locker(&m_mutex);
    return m_valid;
}

quint32 DataSource::getSampleCount(int nChannel) const
{
    if (nChannel != -1 && nChannel != 0)
        return 0;
    QMutexLocker locker(&m_mutex);
    return quint32(m_history.size());
}

bool DataSource::lookup(int nChannel, int nIndex, CVNDataSample* pSample) const
{
    if (nChannel != -1 && nChannel != 0)
        return false;
    QMutexLocker locker(&m_mutex);
    const int count = int(m_history.size());
    if (nIndex == -1)
        nIndex = count - 1;
    if (nIndex < 0 || nIndex >= count)
        return false;
    *pSample = m_history[size_t(nIndex)];
    return true;
}

CVNDataSample DataSource::getSample(int nChannel, int nIndex) const
{
    CVNDataSample sample;
    lookup(nChannel, nIndex, &sample);
    return sample;
}

QVariant DataSource::getValue(int nChannel, int nIndex) const
{
    return getSample(nChannel, nIndex).value;
}

void DataSource::publish(const QVariant& value)
{
    const CVNDataSample sample(value);
    {
        QMutexLocker locker(&m_mutex);
        m_history.push_back(sample);
        if (m_history.size() > size_t(HistoryLength))
            m_history.pop_front();
    }
    emit newData(sample);
}
