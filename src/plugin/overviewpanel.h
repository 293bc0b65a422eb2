#pragma once

#include "cvndatasample.h"
#include "datasourcehandle.h"

#include <QWidget>

class ApplicationSettings;
class CNetworkState;
class IApplication;
class IGraphWidget;

namespace Ui {
// The form's texts are translated in the context "OverviewPanelClass".
class OverviewPanelClass;
} // namespace Ui

// The module's summary: whether application control and LAN exceptions are in
// force, how many processes are active and inactive, and a strip chart of the
// machine's total upload and download with a scale of its own on the right.
// It never talks to the service: the states and counts come from the settings
// object, the chart, the maxima and the unit from the host's data sources.
class OverviewPanel : public QWidget
{
    Q_OBJECT

public:
    // Neither the settings object nor the host is owned.
    OverviewPanel(ApplicationSettings* settings, IApplication* host, QWidget* parent = nullptr);
    ~OverviewPanel() override;

public slots:
    void newDefaultLanException(bool bException);
    void calledBWCEnable(bool bEnable);
    void newActiveCount(int nCount);
    void newInactiveCount(int nCount);
    void newULMax(CVNDataSample sample);
    void newDLMax(CVNDataSample sample);
    void newBWUnit(CVNDataSample sample);
    void OnNetworkStateChange(CNetworkState* _pState);
    // The chart, its scale, its legend and its caption show only while
    // application control is on and the suite gathers statistics
    // ("GatherPerfStats" in the stored settings).
    void GraphVisibility();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void updateStatus();
    void updateScale();
    void showCounts();

    Ui::OverviewPanelClass* ui;
    ApplicationSettings* m_settings;
    IGraphWidget* m_graph = nullptr;
    IApplication* m_host;
    DataSourceHandle m_ulMaxSource;
    DataSourceHandle m_dlMaxSource;
    quint32 m_ulMax = 0;
    quint32 m_dlMax = 0;
    bool m_lanException = false;
    bool m_gather = true;
    bool m_control = false;
    DataSourceHandle m_unitSource;
    quint32 m_unit = 1;
};
