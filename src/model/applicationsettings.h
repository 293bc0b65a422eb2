#pragma once

#include "basecommand.h"

#include <QObject>
#include <QRecursiveMutex>

class QSettings;
class ServiceIO;

// The module's one holder of the bandwidth-control settings that belong to no
// single application: the defaults new applications get, the global state and
// maxima, two display rates kept on this machine only, and the counts of
// active and inactive applications. It talks to the service through a client
// of its own and announces every change by signal; panels listen and call the
// setters.
//
// Rates here are in bits per second. The service takes the defaults in bytes
// per second and the global maxima in UnitConvert's unit 4; -1 (0xFFFFFFFF)
// means "no limit" and is never converted.
class ApplicationSettings : public QObject
{
    Q_OBJECT
public:
    // Time the service gets to answer each request.
    static constexpr int RequestTimeoutMS = 10000;

    explicit ApplicationSettings(QObject* parent = nullptr);
    ~ApplicationSettings() override;

    void setDefaultUL(qint32 nUpBandwidth);
    qint32 defaultUL() const;
    void setDefaultDL(qint32 nDnBandwidth);
    qint32 defaultDL() const;
    void setDefaultPriority(quint32 nPriority);
    quint32 defaultPriority() const;
    // Blocking sets both default limits to 0; allowing sets them to -1.
    void setDefaultBlock(bool bBlock);
    bool defaultBlock() const;
    void setDefaultLanException(bool bException);
    bool defaultLanException() const;

    // The two display rates live in the stored settings; the getters read the
    // stored value every time.
    void setBarFrameRate(quint32 nFPS);
    quint32 barFrameRate() const;
    void setStatSampleRate(quint32 nMilliseconds);
    quint32 statSampleRate() const;

    void setBWCEnable(bool bEnable);
    bool isBWCEnabled() const { return m_enabled; }
    // Asks the service to reset every application setting; bandwidth control is
    // switched back on once the service reports the new globals.
    void resetAll();

    quint32 globalUL() const { return m_globalUL; }
    quint32 globalDL() const { return m_globalDL; }
    int activeCount() const { return m_activeCount; }
    int inactiveCount() const { return m_inactiveCount; }

    // Sends the current defaults; the transport's result (0 or an error status).
    // The caller holds the lock.
    int sendDefaults();
    // Asks the service for the globals, then the defaults.
    void requestGlobalsAndDefaults();

signals:
    void newDefaultUL(qint32 nUpBandwidth);
    void newDefaultDL(qint32 nDnBandwidth);
    void newDefaultPriority(quint32 nPriority);
    void newDefaultBlock(bool bBlock);
    void newDefaultLanException(bool bException);
    void newBarFrameRate(quint32 nFPS);
    void newStatSampleRate(quint32 nMilliseconds);
    void doResetAll();
    void calledBWCEnable(bool bEnable);
    void newActiveCount(int nCount);
    void newInactiveCount(int nCount);
    void newGlobalUL(qint32 nUpBandwidth);
    void newGlobalDL(qint32 nDnBandwidth);

public slots:
    void NewCommandReceived(BaseCommandPtr cmd);
    void NewBroadcastReceived(BaseCommandPtr cmd);
    // Dropped requests need no clean-up here; kept for owners that connect it.
    void CommandTimedOut(BaseCommandPtr cmd);
    void updateActiveCount(int nCount);
    void updateInactiveCount(int nCount);

private:
    int send(BaseCommand* cmd);
    void onDefaultsReply(const BaseCommandPtr& cmd);
    void onGlobalsReply(const BaseCommandPtr& cmd);
    quint32 storedRate(const char* key, quint32 nDefault, quint32* pCache) const;
    void storeRate(const char* key, quint32 nValue, quint32* pCache);

    // Guards the setters and the getters of the defaults and stored rates.
    // Recursive: setDefaultBlock calls setDefaultUL and setDefaultDL holding it.
    mutable QRecursiveMutex m_mutex;
    qint32 m_defaultUL = -1;
    qint32 m_defaultDL = -1;
    bool m_defaultBlock = false;
    mutable quint32 m_barFrameRate = 30;
    mutable quint32 m_statSampleRate = 5;
    // Unknown until the service answers; "normal" is the neutral guess.
    quint32 m_defaultPriority = 2;
    quint32 m_globalUL = 187500;
    quint32 m_globalDL = 1250000;
    bool m_enabled = false;
    bool m_defaultLanException = false;
    ServiceIO* m_client = nullptr;
    QSettings* m_settings = nullptr;
    int m_activeCount = 0;
    int m_inactiveCount = 0;
    // A reset was sent and the globals broadcast that follows it is awaited.
    bool m_resetPending = false;
};
