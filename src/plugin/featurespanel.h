#pragma once

#include "cvndatasample.h"
#include "datasourcehandle.h"

#include <QWidget>

class ApplicationSettings;
class IApplication;

namespace Ui {
// The form's texts share the panel's translation context, "FeaturesPanel"; the
// form widget itself is named "FeaturesPanelClass".
class FeaturesPanel;
} // namespace Ui

// The module's settings panel: switches application control on and off for
// the whole machine, edits the defaults new applications receive and resets
// every application setting after asking. It keeps no state of its own: each
// change goes straight to the settings object, whose signals bring the
// controls back in line when the values change elsewhere.
class FeaturesPanel : public QWidget
{
    Q_OBJECT

public:
    // Neither the settings object nor the host is owned.
    FeaturesPanel(ApplicationSettings* settings, IApplication* host, QWidget* parent = nullptr);
    ~FeaturesPanel() override;

public slots:
    // Asks "Reset" in a box parented to the panel's parent; only "Yes" resets.
    void on_buttonResetAll_clicked(bool checked);
    void on_buttonResetAll_clicked();
    // Item i of the priority box stands for priority i + 1: the highest
    // priority, 0, cannot be a default.
    void on_comboType_currentIndexChanged(int index);
    void on_comboBlock_currentIndexChanged(int index);
    // The form has no controls of these names; callers use them directly.
    void on_spinBarFPS_valueChanged(int nFPS);
    void on_spinStatRate_valueChanged(int nMilliseconds);
    void on_checkBWCOn_clicked(bool checked);
    void on_checkBWCOn_clicked();
    void on_checkLanExceptions_clicked(bool checked);
    void on_checkLanExceptions_clicked();
    void on_comboAppControlMode_currentIndexChanged(int index);

    void newDefaultPriority(quint32 nPriority);
    void newDefaultBlock(bool bBlock);
    // Hands the settings object's LAN exception on to the host's source.
    void newDefaultLanException(bool bException);
    void newBarFrameRate(quint32 nFPS);
    void newStatSampleRate(quint32 nMilliseconds);
    void calledBWCEnable(bool bEnable);
    void newBWUnit(CVNDataSample sample);
    // The host's LAN-exceptions value became the new default.
    void newExceptions(CVNDataSample sample);

private:
    void enableDefaults(bool bEnable);
    void askReset();

    Ui::FeaturesPanel* ui;
    ApplicationSettings* m_settings;
    DataSourceHandle m_unitSource;
    DataSourceHandle m_lanSource;
};
