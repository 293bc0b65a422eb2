#include "applicationsettings.h"

#include "bwccommands.h"
#include "hostsettings.h"
#include "modellog.h"
#include "serviceio.h"
#include "serviceiofactory.h"
#include "statuscodes.h"
#include "unitconvert.h"

#include <QSettings>

namespace {

const char* const keyBarFrameRate = "Applications/BarFrameRate";
const char* const keyStatSampleRate = "Applications/StatSampleRate";
constexpr quint32 defaultBarFrameRate = 30;
constexpr quint32 defaultStatSampleRate = 1000;
constexpr qint32 noLimit = -1;

// Bits per second to the service's bytes per second. -1 stays -1; anything
// that is not at least one whole byte (including -2, "default applies")
// becomes 0.
qint32 toServiceDefault(qint32 nBPS)
{
    if (nBPS == noLimit)
        return noLimit;
    const qint32 bytes = nBPS / 8;
    return bytes < 1 ? 0 : bytes;
}

// The service's bytes per second to bits per second, in 32-bit arithmetic as
// the service's own counters wrap.
qint32 fromServiceDefault(qint32 nBytes)
{
    if (nBytes == noLimit)
        return noLimit;
    return qint32(quint32(nBytes) * 8u);
}

quint32 fromServiceGlobal(qint32 nValue)
{
    const quint32 value = quint32(nValue);
    if (value == UnitConvert::NoLimit)
        return value;
    return UnitConvert::BPSfromUINT(value, UnitConvert::Bytes);
}

} // namespace

ApplicationSettings::ApplicationSettings(QObject* parent) : QObject(parent)
{
    m_client = CreateServiceIO(false, nullptr);
    if (m_client)
        m_client->SetName("application settings");
    else
        qCCritical(lcModule, "ApplicationSettings::ApplicationSettings(): no transport client");
    m_settings = HostSettings::create();

    if (m_client) {
        connect(m_client, SIGNAL(NewCommandReceived(BaseCommandPtr)), this,
                SLOT(NewCommandReceived(BaseCommandPtr)));
        connect(m_client, SIGNAL(NewBroadcastReceived(BaseCommandPtr)), this,
                SLOT(NewBroadcastReceived(BaseCommandPtr)));
    }
    requestGlobalsAndDefaults();
}

ApplicationSettings::~ApplicationSettings()
{
    if (m_client)
        m_client->Release();
    m_client = nullptr;
    delete m_settings;
}

int ApplicationSettings::send(BaseCommand* cmd)
{
    const BaseCommandPtr ptr(cmd);
    if (!m_client)
        return BCS_NOT_INITIALIZED;
    return m_client->SendCommand(ptr, RequestTimeoutMS, nullptr, nullptr);
}

void ApplicationSettings::requestGlobalsAndDefaults()
{
    send(new BCI_BWCGetGlobals);
    send(new BCI_BWCGetDefaults);
}

int ApplicationSettings::sendDefaults()
{
    auto* cmd = new BCI_BWCSetDefaults;
    cmd->setDefaultUploadMax(toServiceDefault(m_defaultUL));
    cmd->setDefaultDownloadMax(toServiceDefault(m_defaultDL));
    cmd->setDefaultPriority(qint32(m_defaultPriority));
    cmd->setLanException(m_defaultLanException ? 1 : 0);
    qCDebug(lcModule, "To Card nUp: %d", cmd->defaultUploadMax());
    qCDebug(lcModule, "To Card nDn: %d", cmd->defaultDownloadMax());
    return send(cmd);
}

void ApplicationSettings::setDefaultUL(qint32 nUpBandwidth)
{
    QMutexLocker locker(&m_mutex);
    if (m_defaultUL == nUpBandwidth)
        return;
    m_defaultUL = nUpBandwidth;
    qCDebug(lcModule, "DefUP: %d", m_defaultUL);
    sendDefaults();
    emit newDefaultUL(m_defaultUL);
}

qint32 ApplicationSettings::defaultUL() const
{
    QMutexLocker locker(&m_mutex);
    return m_defaultUL;
}

void ApplicationSettings::setDefaultDL(qint32 nDnBandwidth)
{
    QMutexLocker locker(&m_mutex);
    if (m_defaultDL == nDnBandwidth)
        return;
    m_defaultDL = nDnBandwidth;
    qCDebug(lcModule, "DefDN: %d", m_defaultDL);
    sendDefaults();
    emit newDefaultDL(m_defaultDL);
}

qint32 ApplicationSettings::defaultDL() const
{
    QMutexLocker locker(&m_mutex);
    return m_defaultDL;
}

void ApplicationSettings::setDefaultPriority(quint32 nPriority)
{
    QMutexLocker locker(&m_mutex);
    if (m_defaultPriority == nPriority)
        return;
    m_defaultPriority = nPriority;
    sendDefaults();
    emit newDefaultPriority(m_defaultPriority);
}

quint32 ApplicationSettings::defaultPriority() const
{
    QMutexLocker locker(&m_mutex);
    return m_defaultPriority;
}

void ApplicationSettings::setDefaultBlock(bool bBlock)
{
    QMutexLocker locker(&m_mutex);
    if (m_defaultBlock == bBlock)
        return;
    m_defaultBlock = bBlock;
    // Each of these sends and announces on its own when its value changes.
    setDefaultUL(bBlock ? 0 : noLimit);
    setDefaultDL(bBlock ? 0 : noLimit);
    sendDefaults();
    emit newDefaultBlock(bBlock);
}

bool ApplicationSettings::defaultBlock() const
{
    QMutexLocker locker(&m_mutex);
    return m_defaultBlock;
}

void ApplicationSettings::setDefaultLanException(bool bException)
{
    QMutexLocker locker(&m_mutex);
    if (m_defaultLanException == bException)
        return;
    m_defaultLanException = bException;
    sendDefaults();
    emit newDefaultLanException(m_defaultLanException);
}

bool ApplicationSettings::defaultLanException() const
{
    QMutexLocker locker(&m_mutex);
    return m_defaultLanException;
}

quint32 ApplicationSettings::storedRate(const char* key, quint32 nDefault, quint32* pCache) const
{
    QMutexLocker locker(&m_mutex);
    // A stored value that is not a number reads as 0.
    *pCache = m_settings->value(QLatin1String(key), nDefault).toUInt();
    return *pCache;
}

void ApplicationSettings::storeRate(const char* key, quint32 nValue, quint32* pCache)
{
    *pCache = nValue;
    m_settings->setValue(QLatin1String(key), nValue);
}

void ApplicationSettings::setBarFrameRate(quint32 nFPS)
{
    QMutexLocker locker(&m_mutex);
    if (m_barFrameRate == nFPS)
        return;
    storeRate(keyBarFrameRate, nFPS, &m_barFrameRate);
    emit newBarFrameRate(nFPS);
}

quint32 ApplicationSettings::barFrameRate() const
{
    return storedRate(keyBarFrameRate, defaultBarFrameRate, &m_barFrameRate);
}

void ApplicationSettings::setStatSampleRate(quint32 nMilliseconds)
{
    QMutexLocker locker(&m_mutex);
    if (m_statSampleRate == nMilliseconds)
        return;
    storeRate(keyStatSampleRate, nMilliseconds, &m_statSampleRate);
    emit newStatSampleRate(nMilliseconds);
}

quint32 ApplicationSettings::statSampleRate() const
{
    return storedRate(keyStatSampleRate, defaultStatSampleRate, &m_statSampleRate);
}

void ApplicationSettings::setBWCEnable(bool bEnable)
{
    QMutexLocker locker(&m_mutex);
    if (m_enabled == bEnable)
        return;
    m_enabled = bEnable;
    if (bEnable)
        send(new BCI_BWCStart);
    else
        send(new BCI_BWCStop);
    emit calledBWCEnable(m_enabled);
}

void ApplicationSettings::resetAll()
{
    QMutexLocker locker(&m_mutex);
    m_resetPending = true;
    emit doResetAll();
    send(new BCI_BWCResetAll);
}

void ApplicationSettings::NewCommandReceived(BaseCommandPtr cmd)
{
    if (m_client)
        m_client->RetrieveCommand(&cmd);
    if (!cmd || cmd->GetStatus() != BCS_SUCCESS)
        return;
    switch (cmd->GetType()) {
    case BCI_BWCGetDefaults::TypeId:
        onDefaultsReply(cmd);
        break;
    case BCI_BWCGetGlobals::TypeId:
        onGlobalsReply(cmd);
        break;
    case BCI_BWCResetAll::TypeId:
        requestGlobalsAndDefaults();
        break;
    default:
        break;
    }
}

void ApplicationSettings::onDefaultsReply(const BaseCommandPtr& cmd)
{
    const auto* reply = command_cast<BCI_BWCGetDefaults>(cmd);
    if (!reply)
        return;
    m_defaultUL = fromServiceDefault(reply->defaultUploadMax());
    m_defaultDL = fromServiceDefault(reply->defaultDownloadMax());
    m_defaultPriority = quint32(reply->defaultPriority());
    m_defaultLanException = reply->lanException() != 0;
    // Both limits at 0 is how the service says "block by default"; other
    // limits leave the block default as it was.
    if (m_defaultUL == 0 && m_defaultDL == 0)
        m_defaultBlock = true;
    qCDebug(lcModule, "newCMD Up: %d", m_defaultUL);
    qCDebug(lcModule, "newCMD Dn: %d", m_defaultDL);
    emit newDefaultUL(m_defaultUL);
    emit newDefaultDL(m_defaultDL);
    emit newDefaultBlock(m_defaultBlock);
    emit newDefaultPriority(m_defaultPriority);
    emit newDefaultLanException(m_defaultLanException);
}

void ApplicationSettings::onGlobalsReply(const BaseCommandPtr& cmd)
{
    const auto* reply = command_cast<BCI_BWCGetGlobals>(cmd);
    if (!reply)
        return;
    m_globalUL = fromServiceGlobal(reply->globalUploadMax());
    m_globalDL = fromServiceGlobal(reply->globalDownloadMax());
    m_enabled = reply->enabled();
    emit calledBWCEnable(m_enabled);
    emit newGlobalUL(qint32(m_globalUL));
    emit newGlobalDL(qint32(m_globalDL));
}

void ApplicationSettings::NewBroadcastReceived(BaseCommandPtr cmd)
{
    if (m_client)
        m_client->RetrieveCommand(&cmd);
    const auto* broadcast = command_cast<BCI_BWCGlobalsChanged>(cmd);
    if (!broadcast || broadcast->GetStatus() != BCS_SUCCESS)
        return;

    const quint32 upload = fromServiceGlobal(broadcast->globalUploadMax());
    const quint32 download = fromServiceGlobal(broadcast->globalDownloadMax());
    const bool enabled = broadcast->enabled();
    // During a reset the service reports control off on its way to the reset
    // state; that is not a change the panels should follow.
    const bool enableChanged = enabled != m_enabled && !m_resetPending;
    const bool limitsChanged = upload != m_globalUL || download != m_globalDL;
    m_globalUL = upload;
    m_globalDL = download;
    m_enabled = enabled;

    if (enableChanged)
        emit calledBWCEnable(m_enabled);
    if (limitsChanged) {
        emit newGlobalUL(qint32(m_globalUL));
        emit newGlobalDL(qint32(m_globalDL));
    }
    if (m_resetPending) {
        m_resetPending = false;
        setBWCEnable(true);
    }
}

void ApplicationSettings::CommandTimedOut(BaseCommandPtr) {}

void ApplicationSettings::updateActiveCount(int nCount)
{
    m_activeCount = nCount;
    emit newActiveCount(nCount);
}

void ApplicationSettings::updateInactiveCount(int nCount)
{
    m_inactiveCount = nCount;
    emit newInactiveCount(nCount);
}
