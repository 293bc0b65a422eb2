#pragma once

#include "cvndatasample.h"
#include "hostexport.h"

#include <QAtomicInt>
#include <QMutex>
#include <QObject>
#include <QString>

#include <deque>

class DataSourceHandle;

// A named live value of the host ("System.Network.Total.BandwidthRx",
// "Application.BandwidthUnit", ...). Anyone holding a handle may read it or
// publish a new value; every publication is stamped and announced through
// newData. A source keeps its most recent samples so that a reader that comes
// late (a graph added after start-up) can show the recent past.
//
// Lifetime is counted by DataSourceHandle: the object deletes itself when the
// last handle lets go. Create sources only through a handle.
//
// Channels and indices: a source has a single channel; -1 and 0 both name it.
// An index counts samples from the oldest kept (0) upwards; -1 is the newest.
class BWCHOST_EXPORT DataSource : public QObject
{
    Q_OBJECT
public:
    // How many samples a source keeps: five minutes at one sample a second.
    static constexpr int HistoryLength = 300;

    explicit DataSource(const QString& strName);
    ~DataSource() override;

    QString name() const { return m_name; }
    // A source the host switches off answers isValid() with false; publishers
    // then leave it alone.
    void setValid(bool bValid);

public slots:
    // Whether the source is in use and takes publications.
    virtual bool isValid() const;
    // Number of samples kept for a channel (0 for an unknown channel).
    virtual quint32 getSampleCount(int nChannel) const;
    // The sample at nIndex of nChannel; a null sample when there is none.
    virtual CVNDataSample getSample(int nChannel, int nIndex) const;
    // The value of that sample; an invalid QVariant when there is none.
    virtual QVariant getValue(int nChannel, int nIndex) const;
    // Stamps value with the current time, keeps it and emits newData.
    virtual void publish(const QVariant& value);

signals:
    void newData(CVNDataSample sample);

private:
    friend class DataSourceHandle;

    bool lookup(int nChannel, int nIndex, CVNDataSample* pSample) const;

    const QString m_name;
    QAtomicInt m_refs;
    mutable QMutex m_mutex; // guards m_valid and m_history
    bool m_valid = true;
    std::deque<CVNDataSample> m_history;
};
