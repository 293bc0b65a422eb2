#pragma once

// Bandwidth control: on/off, defaults and globals, the application list and
// its settings, statistics, process queries and the service's notifications.

#include "bwcentry.h"
#include "bwcstatcpuentry.h"
#include "bwcstatentry.h"
#include "commanddecl.h"
#include "process.h"

#include <QCoreApplication>

#define BWC_FIELDS_DEFAULTS(F)                                                                     \
    F(qint32, defaultUploadMax, setDefaultUploadMax, 0)                                            \
    F(qint32, defaultDownloadMax, setDefaultDownloadMax, 0)                                        \
    F(qint32, defaultPriority, setDefaultPriority, 0)                                              \
    F(qint32, lanException, setLanException, 0)
#define BWC_FIELDS_GLOBAL_LIMITS(F)                                                                \
    F(qint32, globalUploadMax, setGlobalUploadMax, 0)                                              \
    F(qint32, globalDownloadMax, setGlobalDownloadMax, 0)
#define BWC_FIELDS_GLOBALS(F)                                                                      \
    BWC_FIELDS_GLOBAL_LIMITS(F)                                                                    \
    F(bool, enabled, setEnabled, false)
#define BWC_FIELDS_ENTRY(F) F(BWCEntryPtr, entry, setEntry, BWCEntryPtr())

#define BWC_FIELDS_BWCStart BWC_NO_FIELDS
#define BWC_FIELDS_BWCStop BWC_NO_FIELDS
#define BWC_FIELDS_BWCSetDefaults BWC_FIELDS_DEFAULTS
#define BWC_FIELDS_BWCGetDefaults BWC_FIELDS_DEFAULTS
#define BWC_FIELDS_BWCSetGlobals BWC_FIELDS_GLOBAL_LIMITS
#define BWC_FIELDS_BWCGetGlobals BWC_FIELDS_GLOBALS
#define BWC_FIELDS_BWCEnumApps(F) F(QList<BWCEntryPtr>, apps, setApps, {})
#define BWC_FIELDS_BWCSetAppSettings BWC_FIELDS_ENTRY
#define BWC_FIELDS_BWCGetAppSettings BWC_FIELDS_ENTRY
#define BWC_FIELDS_BWCRemoveAppSettings BWC_FIELDS_ENTRY
#define BWC_FIELDS_BWCResetAll BWC_NO_FIELDS
#define BWC_FIELDS_BWCStats(F) F(QList<BWCStatEntryPtr>, stats, setStats, {})
#define BWC_FIELDS_FWStatsCpu(F) F(BWCStatCpuEntryPtr, cpu, setCpu, BWCStatCpuEntryPtr())
#define BWC_FIELDS_FWStatsOffload(F)                                                               \
    F(quint32, offload0, setOffload0, 0)                                                           \
    F(quint32, offload1, setOffload1, 0)                                                           \
    F(quint32, offload2, setOffload2, 0)                                                           \
    F(quint32, offload3, setOffload3, 0)
#define BWC_FIELDS_GetProcessInfo(F)                                                               \
    F(QString, path, setPath, QString())                                                           \
    F(Process, process, setProcess, Process())
#define BWC_FIELDS_GetFileStatus BWC_NO_FIELDS
#define BWC_FIELDS_GetFileIcon(F)                                                                  \
    F(QString, path, setPath, QString())                                                           \
    F(QPixmap, icon, setIcon, QPixmap())
#define BWC_FIELDS_BWCDoSpeedTest BWC_NO_FIELDS
#define BWC_FIELDS_GetProcessName(F)                                                               \
    F(quint32, processId, setProcessId, 0)                                                         \
    F(QString, name, setName, QCoreApplication::translate("BCI_GetProcessName", "Unknown"))
#define BWC_FIELDS_IsProcessGame(F)                                                                \
    F(quint32, processId, setProcessId, 0)                                                         \
    F(qint32, answer, setAnswer, 0)
#define BWC_FIELDS_BWCAppAdded BWC_FIELDS_ENTRY
#define BWC_FIELDS_BWCAppRemoved BWC_FIELDS_ENTRY
#define BWC_FIELDS_BWCAppOnline BWC_FIELDS_ENTRY
#define BWC_FIELDS_BWCAppOffline BWC_FIELDS_ENTRY
#define BWC_FIELDS_BWCSpeedTest(F)                                                                 \
    F(qint32, result0, setResult0, 0)                                                              \
    F(qint32, result1, setResult1, 0)
#define BWC_FIELDS_BWCSpeedTestStatus(F)                                                           \
    F(qint32, state0, setState0, 0)                                                                \
    F(qint32, state1, setState1, 0)
#define BWC_FIELDS_BWCGlobalsChanged BWC_FIELDS_GLOBALS

#define BWC_BANDWIDTH_COMMANDS(X)                                                                  \
    X(GetProcessName, 0x2008)                                                                      \
    X(IsProcessGame, 0x2009)                                                                       \
    X(BWCStart, 0x800C)                                                                            \
    X(BWCStop, 0x800D)                                                                             \
    X(BWCSetDefaults, 0x800E)                                                                      \
    X(BWCGetDefaults, 0x800F)                                                                      \
    X(BWCSetGlobals, 0x8010)                                                                       \
    X(BWCGetGlobals, 0x8011)                                                                       \
    X(BWCEnumApps, 0x8012)                                                                         \
    X(BWCSetAppSettings, 0x8013)                                                                   \
    X(BWCGetAppSettings, 0x8014)                                                                   \
    X(BWCRemoveAppSettings, 0x8015)                                                                \
    X(BWCResetAll, 0x8016)                                                                         \
    X(BWCStats, 0x8017)                                                                            \
    X(FWStatsCpu, 0x8019)                                                                          \
    X(FWStatsOffload, 0x801A)                                                                      \
    X(GetProcessInfo, 0x801B)                                                                      \
    X(GetFileStatus, 0x801C)                                                                       \
    X(GetFileIcon, 0x801D)                                                                         \
    X(BWCDoSpeedTest, 0x801E)                                                                      \
    X(BWCAppAdded, 0x20002)                                                                        \
    X(BWCAppRemoved, 0x20003)                                                                      \
    X(BWCAppOnline, 0x20004)                                                                       \
    X(BWCAppOffline, 0x20005)                                                                      \
    X(BWCSpeedTest, 0x20006)                                                                       \
    X(BWCSpeedTestStatus, 0x20007)                                                                 \
    X(BWCGlobalsChanged, 0x20008)

BWC_BANDWIDTH_COMMANDS(BWC_DECLARE_LISTED)
