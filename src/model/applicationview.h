#pragma once

#include "application.h"
#include "applicationlist.h"
#include "basecommand.h"
#include "cvndatasample.h"
#include "datasourcehandle.h"
#include "records.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QMap>
#include <QMutex>
#include <QPointer>
#include <QRecursiveMutex>
#include <QWidget>

#include <memory>

class ApplicationSettings;
class IApplication;
class IGraphWidget;
class QGridLayout;
class QLabel;
class QSettings;
class QVBoxLayout;
class ServiceIO;
struct PendingApplication;
namespace Ui {
class applicationviewClass;
}

// The module's main panel: every application that uses the network as a row
// with live upload and download rates, kept in step with the service through
// a client of its own, with the controls to cap, prioritise, block or hide
// each one, and the graph of the total rates below.
class ApplicationView : public QWidget
{
    Q_OBJECT

public:
    // Time the service gets to answer each request.
    static constexpr int RequestTimeoutMS = 10000;

    ApplicationView(ApplicationSettings* settings, IApplication* host, QWidget* parent = nullptr);
    ~ApplicationView() override;

    // For the host window and the tests: what the view shows.
    const ApplicationList& applications() const { return m_list; }
    AppPtr selectedApplication() const { return m_selected; }

public slots:
    void on_comboUnits_currentIndexChanged(int index);
    void deselected(int nIndex);
    void selected(AppPtr pSelected);
    void reselected();
    void NewCommandReceived(BaseCommandPtr cmd);
    void NewBroadcastReceived(BaseCommandPtr cmd);
    void CommandTimedOut(BaseCommandPtr cmd);
    void uploadMaxChanged(AppPtr pApp, quint32 nValue);
    void downloadMaxChanged(AppPtr pApp, quint32 nValue);
    void on_checkBoxOfflineApps_stateChanged(int state);
    void appTypeChanged(qint32 nType, AppPtr papp);
    void blockApp(bool bBlock, AppPtr papp);
    void on_comboBoxSort_currentIndexChanged(int index);
    void newDefaultUL(qint32 nUpBandwidth);
    void newDefaultDL(qint32 nDnBandwidth);
    void newDefaultPriority(quint32 nPriority);
    void newDefaultBlock(bool bBlock);
    void newDefaultLanException(bool bException);
    void newBarFrameRate(quint32 nFPS);
    void newStatSampleRate(quint32 nMilliseconds);
    void doResetAll();
    void calledBWCEnable(bool bEnable);
    void newULMax(CVNDataSample sample);
    void newDLMax(CVNDataSample sample);
    void showDetails(AppPtr pApp);
    void newBWUnit(CVNDataSample sample);
    void GraphVisibility();
    void UpdateAppView();

protected:
    void timerEvent(QTimerEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // Construction
    void buildContainers();
    void createGraph();
    // Commands
    int samplePeriod() const;
    void send(BaseCommand* cmd);
    void requestEnumeration();
    void onProcessInfo(const BaseCommandPtr& cmd);
    void onEnumApps(const BaseCommandPtr& cmd);
    void onStats(const BaseCommandPtr& cmd);
    void onFileIcon(const BaseCommandPtr& cmd);
    void onAppRemoved(const BWCEntryPtr& entry);
    void scanDevices(const QList<DeviceInfoPtr>& devices);
    void queueProcessInfo(const BWCEntryPtr& entry);
    void reload();
    // Rows
    AppPtr createRow(const QString& name, const Process& process, const BWCEntryPtr& entry);
    // A listed row about to take a new entry of its own key.
    void refreshRow(const AppPtr& row, const QString& name, const Process& process,
                    const BWCEntryPtr& entry);
    void applyPriority(const AppPtr& row, bool highest, qint32 priority);
    void applyLimits(const AppPtr& row, qint32 up, qint32 down);
    void addApplication(const QString& name, const Process& process, qint32 up, qint32 down,
                        const BWCEntryPtr& entry);
    void addPending(PendingApplication* pending);
    PendingApplication* takePending(const Process& process);
    void clearSelection();
    // Takes a row that has left the list out of the layout and out of sight.
    void dropRow(const AppPtr& row);
    // Sorting and filtering
    void applySort();
    void reshade();
    void scheduleReshade();
    // Units and scale
    void showUnit(quint32 unit, bool withFullName);
    void updateScale();
    void setGraphRange(double maximum);
    // User actions: changes the entry of every row of pApp's application and
    // sends each.
    template <class Change> void sendForSame(const AppPtr& pApp, Change change);

    Ui::applicationviewClass* ui;
    std::unique_ptr<QSettings> m_settings;
    AppPtr m_selected;
    ApplicationList m_list;
    QVBoxLayout* m_rowsLayout = nullptr;
    QWidget* m_rows = nullptr;
    QWidget* m_messages = nullptr;
    QLabel* m_noDeviceLabel = nullptr;
    QLabel* m_disabledLabel = nullptr;
    ServiceIO* m_client = nullptr;
    QMutex m_pendingMutex;
    QMap<QString, PendingApplication*> m_pending;
    // Paths whose process description has been asked for, until the answer
    // comes or the request times out.
    QHash<QString, QDeadlineTimer> m_askedPaths;
    bool m_showAll = true;
    int m_sortIndex = 0;
    ApplicationSettings* m_appSettings = nullptr;
    int m_statsTimer = 0;
    int m_countTimer = 0;
    int m_parentTimer = 0;
    int m_enumTimer = 0;
    int m_sortTimer = 0;
    IApplication* m_host = nullptr;
    QPointer<IGraphWidget> m_graph;
    DataSourceHandle m_ulMaxSource;
    DataSourceHandle m_dlMaxSource;
    DataSourceHandle m_unitSource;
    DataSourceHandle m_rxSource;
    DataSourceHandle m_txSource;
    quint32 m_ulMax = 0;
    quint32 m_dlMax = 0;
    quint32 m_unit = 3;
    bool m_enumerated = false;
    QRecursiveMutex m_mutex;
    bool m_gatherStats = true;
    bool m_enabled = false;
    bool m_devicesPresent = false;
    bool m_wirelessPresent = false;
    // Set while a priority change applies itself to the rows: the highest
    // priority's implied "allow" only changes the entries then.
    bool m_quietBlock = false;
    bool m_reshadePending = false;
};
