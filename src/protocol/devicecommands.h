#pragma once

// Device, adapter and router commands. The module sends only EnumDevices and
// listens for DevicesChanged; the rest can be read and written by anyone.

#include "commanddecl.h"
#include "deviceinfo.h"
#include "forward.h"

#define BWC_FIELDS_MapLSP BWC_NO_FIELDS
#define BWC_FIELDS_UnmapLSP BWC_NO_FIELDS
#define BWC_FIELDS_IsLSPMapped(F) F(bool, mapped, setMapped, true)
#define BWC_FIELDS_SetTCPACKDelay(F) F(quint32, ackDelay, setAckDelay, 0)
#define BWC_FIELDS_GetTCPACKDelay(F) F(quint32, ackDelay, setAckDelay, 0)
#define BWC_FIELDS_SetTCPNoDelay(F) F(bool, noDelay, setNoDelay, false)
#define BWC_FIELDS_GetTCPNoDelay(F) F(bool, noDelay, setNoDelay, false)
#define BWC_FIELDS_SetMTU(F) F(qint32, mtu, setMtu, 0)
#define BWC_FIELDS_GetMTU(F) F(qint32, mtu, setMtu, 0)
#define BWC_FIELDS_GetNetStat(F)                                                                   \
    F(QString, text, setText, QString(QLatin1String("")))                                          \
    F(bool, option0, setOption0, false)                                                            \
    F(bool, option1, setOption1, false)                                                            \
    F(bool, option2, setOption2, false)
#define BWC_FIELDS_GetArp(F)                                                                       \
    F(QString, text, setText, QString(QLatin1String("")))                                          \
    F(QStringList, lines, setLines, {})
#define BWC_FIELDS_SetDefaultOffloadMode(F) F(qint32, mode, setMode, 0)
#define BWC_FIELDS_GetDefaultOffloadMode(F) F(qint32, mode, setMode, 0)
#define BWC_FIELDS_StartFlash(F)                                                                   \
    F(QString, file, setFile, QString())                                                           \
    F(qint32, option, setOption, 0)
#define BWC_FIELDS_CancelFlash BWC_NO_FIELDS
#define BWC_FIELDS_GetFlashProgress(F) F(double, progress, setProgress, 0.0)
#define BWC_FIELDS_GetLinkSpeed(F) F(qint32, speed, setSpeed, 0)
#define BWC_FIELDS_SetLinkSpeed(F) F(qint32, speed, setSpeed, 0)
#define BWC_FIELDS_GetDuplex(F) F(bool, fullDuplex, setFullDuplex, true)
#define BWC_FIELDS_SetDuplex(F) F(bool, fullDuplex, setFullDuplex, true)
#define BWC_FIELDS_GetMAC(F) F(QString, mac, setMac, QString())
#define BWC_FIELDS_SetMAC(F) F(QString, mac, setMac, QString())
#define BWC_FIELDS_GetLEDMode(F) F(qint32, ledMode, setLedMode, 0)
#define BWC_FIELDS_SetLEDMode(F) F(qint32, ledMode, setLedMode, 0)
#define BWC_FIELDS_GetAdapterState(F) F(qint32, state, setState, 0)
#define BWC_FIELDS_COUNTER(F) F(qint64, counter, setCounter, 0)
#define BWC_FIELDS_GetBytesSent BWC_FIELDS_COUNTER
#define BWC_FIELDS_GetBytesReceived BWC_FIELDS_COUNTER
#define BWC_FIELDS_GetPacketsSent BWC_FIELDS_COUNTER
#define BWC_FIELDS_GetPacketsReceived BWC_FIELDS_COUNTER
#define BWC_FIELDS_GetVersions(F)                                                                  \
    F(QString, versionText0, setVersionText0, QString())                                           \
    F(QString, versionText1, setVersionText1, QString())                                           \
    F(QString, versionText2, setVersionText2, QString())                                           \
    F(quint32, versionNumber0, setVersionNumber0, 0)                                               \
    F(quint32, versionNumber1, setVersionNumber1, 0)                                               \
    F(quint32, versionNumber2, setVersionNumber2, 0)
#define BWC_FIELDS_ResetState BWC_NO_FIELDS
#define BWC_FIELDS_DEVICES(F) F(QList<DeviceInfoPtr>, devices, setDevices, {})
#define BWC_FIELDS_EnumDevices BWC_FIELDS_DEVICES
#define BWC_FIELDS_GetWirelessStats(F)                                                             \
    F(quint32, number0, setNumber0, 0)                                                             \
    F(quint32, number1, setNumber1, 0)                                                             \
    F(quint32, number2, setNumber2, 0)                                                             \
    F(QString, text0, setText0, QString())                                                         \
    F(QString, text1, setText1, QString())                                                         \
    F(QString, text2, setText2, QString())
#define BWC_FIELDS_TOTAL(F) F(quint64, total, setTotal, 0)
#define BWC_FIELDS_rtTotalPacketsRX BWC_FIELDS_TOTAL
#define BWC_FIELDS_rtTotalPacketsTX BWC_FIELDS_TOTAL
#define BWC_FIELDS_rtTotalBytesRX BWC_FIELDS_TOTAL
#define BWC_FIELDS_rtTotalBytesTX BWC_FIELDS_TOTAL
#define BWC_FIELDS_rtActiveConnections(F) F(quint32, connections, setConnections, 0)
#define BWC_FIELDS_TEXT(F) F(QString, text, setText, QString())
#define BWC_FIELDS_rtWanAccessProvider BWC_FIELDS_TEXT
#define BWC_FIELDS_rtPhysicalLinkStatus BWC_FIELDS_TEXT
#define BWC_FIELDS_setDHCPRelay(F) F(bool, relay, setRelay, false)
#define BWC_FIELDS_getDHCPRelay(F) F(bool, relay, setRelay, false)
#define BWC_FIELDS_setDHCPSubNetMask BWC_FIELDS_TEXT
#define BWC_FIELDS_getDHCPSubNetMask BWC_FIELDS_TEXT
#define BWC_FIELDS_setDHCPDomainServers BWC_FIELDS_TEXT
#define BWC_FIELDS_getDHCPDomainServers BWC_FIELDS_TEXT
#define BWC_FIELDS_setMinAddress BWC_FIELDS_TEXT
#define BWC_FIELDS_getMinAddress BWC_FIELDS_TEXT
#define BWC_FIELDS_setMaxAddress BWC_FIELDS_TEXT
#define BWC_FIELDS_getMaxAddress BWC_FIELDS_TEXT
#define BWC_FIELDS_setIPRouters BWC_FIELDS_TEXT
#define BWC_FIELDS_getIPRouters BWC_FIELDS_TEXT
#define BWC_FIELDS_enumPortForwarding(F) F(QList<ForwardPtr>, forwards, setForwards, {})
#define BWC_FIELDS_FORWARD(F) F(ForwardPtr, forward, setForward, ForwardPtr())
#define BWC_FIELDS_addForward BWC_FIELDS_FORWARD
#define BWC_FIELDS_delForward BWC_FIELDS_FORWARD
#define BWC_FIELDS_CardIsBorked BWC_NO_FIELDS
#define BWC_FIELDS_LinkSpeedChanged(F)                                                             \
    F(qint32, value0, setValue0, 0)                                                                \
    F(qint32, value1, setValue1, 0)
#define BWC_FIELDS_DevicesChanged BWC_FIELDS_DEVICES

#define BWC_DEVICE_COMMANDS(X)                                                                     \
    X(MapLSP, 0x2001)                                                                              \
    X(UnmapLSP, 0x2002)                                                                            \
    X(IsLSPMapped, 0x2003)                                                                         \
    X(SetTCPACKDelay, 0x2004)                                                                      \
    X(GetTCPACKDelay, 0x2005)                                                                      \
    X(SetTCPNoDelay, 0x2006)                                                                       \
    X(GetTCPNoDelay, 0x2007)                                                                       \
    X(SetMTU, 0x200A)                                                                              \
    X(GetMTU, 0x200B)                                                                              \
    X(GetNetStat, 0x200C)                                                                          \
    X(GetArp, 0x200D)                                                                              \
    X(SetDefaultOffloadMode, 0x4001)                                                               \
    X(GetDefaultOffloadMode, 0x4002)                                                               \
    X(StartFlash, 0x8001)                                                                          \
    X(CancelFlash, 0x8002)                                                                         \
    X(GetFlashProgress, 0x8003)                                                                    \
    X(GetLinkSpeed, 0x8004)                                                                        \
    X(SetLinkSpeed, 0x8005)                                                                        \
    X(GetDuplex, 0x8006)                                                                           \
    X(SetDuplex, 0x8007)                                                                           \
    X(GetMAC, 0x8008)                                                                              \
    X(SetMAC, 0x8009)                                                                              \
    X(GetLEDMode, 0x800A)                                                                          \
    X(SetLEDMode, 0x800B)                                                                          \
    X(GetAdapterState, 0x801F)                                                                     \
    X(GetBytesSent, 0x8020)                                                                        \
    X(GetBytesReceived, 0x8021)                                                                    \
    X(GetPacketsSent, 0x8022)                                                                      \
    X(GetPacketsReceived, 0x8023)                                                                  \
    X(GetVersions, 0x10001)                                                                        \
    X(ResetState, 0x10002)                                                                         \
    X(EnumDevices, 0x10003)                                                                        \
    X(GetWirelessStats, 0x10004)                                                                   \
    X(rtTotalPacketsRX, 0x10005)                                                                   \
    X(rtTotalPacketsTX, 0x10006)                                                                   \
    X(rtTotalBytesRX, 0x10007)                                                                     \
    X(rtTotalBytesTX, 0x10008)                                                                     \
    X(rtActiveConnections, 0x10009)                                                                \
    X(rtWanAccessProvider, 0x1000A)                                                                \
    X(rtPhysicalLinkStatus, 0x1000B)                                                               \
    X(setDHCPRelay, 0x1000C)                                                                       \
    X(getDHCPRelay, 0x1000D)                                                                       \
    X(setDHCPSubNetMask, 0x1000E)                                                                  \
    X(getDHCPSubNetMask, 0x1000F)                                                                  \
    X(setDHCPDomainServers, 0x10010)                                                               \
    X(getDHCPDomainServers, 0x10011)                                                               \
    X(setMinAddress, 0x10012)                                                                      \
    X(getMinAddress, 0x10013)                                                                      \
    X(setMaxAddress, 0x10014)                                                                      \
    X(getMaxAddress, 0x10015)                                                                      \
    X(setIPRouters, 0x10016)                                                                       \
    X(getIPRouters, 0x10017)                                                                       \
    X(enumPortForwarding, 0x10018)                                                                 \
    X(addForward, 0x10019)                                                                         \
    X(delForward, 0x1001A)                                                                         \
    X(CardIsBorked, 0x20001)                                                                       \
    X(LinkSpeedChanged, 0x20009)                                                                   \
    X(DevicesChanged, 0x2000A)

BWC_DEVICE_COMMANDS(BWC_DECLARE_LISTED)
