#pragma once

#include "cvndatasample.h"
#include "datasourcehandle.h"

#include <QMainWindow>
#include <QPointer>

class HelpViewer;
class HostApplication;
class IPlugin;
class QAction;
class QLabel;
class QSplitter;
class QTabWidget;
class UnitMenu;

// The suite's main window with one module: its main view as a tab (the view
// follows the tab widget's currentChanged), its features and overview panels
// in a column beside it, the unit chooser and the LAN-exceptions switch in the
// menus, the module's help on F1 and the service's state in the status bar.
//
// The window owns the panels and the module object. Closing it disposes of
// the panels first, then lets the module release its settings (destroy), then
// deletes the module.
class SuiteWindow : public QMainWindow
{
    Q_OBJECT
public:
    // Initialises the module with the host and asks it for its panels.
    SuiteWindow(IPlugin* plugin, HostApplication* host, QWidget* parent = nullptr);
    ~SuiteWindow() override;

    QWidget* mainPanel() const { return m_main; }
    QWidget* featuresPanel() const { return m_features; }
    QWidget* overviewPanel() const { return m_overview; }
    // Rows of the main view that are on screen.
    int visibleRowCount() const;
    // Panels, then the module's settings, then the module; safe to call twice.
    void shutdown();

public slots:
    void showHelp();
    void setServiceOnline(bool bOnline);

protected:
    void closeEvent(QCloseEvent* event) override;

private slots:
    void OnLanExceptions(CVNDataSample sample);

private:
    void buildMenus();

    IPlugin* m_plugin;
    HostApplication* m_host;
    QSplitter* m_splitter;
    QTabWidget* m_tabs;
    QPointer<QWidget> m_main;
    QPointer<QWidget> m_features;
    QPointer<QWidget> m_overview;
    QString m_moduleName;
    DataSourceHandle m_lanSource;
    QAction* m_lanAction = nullptr;
    QAction* m_helpAction = nullptr;
    UnitMenu* m_unitMenu = nullptr;
    QLabel* m_serviceLabel;
    QPointer<HelpViewer> m_help;
};
