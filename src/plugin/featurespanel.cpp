#include "featurespanel.h"

#include "applicationsettings.h"
#include "datasource.h"
#include "iapplication.h"
#include "ui_featurespanel.h"

#include <QMessageBox>
#include <QPushButton>

FeaturesPanel::FeaturesPanel(ApplicationSettings* settings, IApplication* host, QWidget* parent)
    : QWidget(parent), ui(new Ui::FeaturesPanel), m_settings(settings)
{
    ui->setupUi(this);
    // The button's clicked(bool) also reaches the form without argument, which
    // would ask twice for one click; the by-name connection keeps the first.
    disconnect(ui->buttonResetAll, SIGNAL(clicked()), this, SLOT(on_buttonResetAll_clicked()));
    // The combo boxes show the form's first items until the settings object
    // announces its values: a panel made before the service has answered
    // would otherwise show the settings object's start values as if they
    // were the service's.
    enableDefaults(m_settings->isBWCEnabled());

    connect(m_settings, SIGNAL(newDefaultPriority(quint32)), this,
            SLOT(newDefaultPriority(quint32)));
    connect(m_settings, SIGNAL(newDefaultBlock(bool)), this, SLOT(newDefaultBlock(bool)));
    connect(m_settings, SIGNAL(newDefaultLanException(bool)), this,
            SLOT(newDefaultLanException(bool)));
    connect(m_settings, SIGNAL(newBarFrameRate(quint32)), this, SLOT(newBarFrameRate(quint32)));
    connect(m_settings, SIGNAL(newStatSampleRate(quint32)), this, SLOT(newStatSampleRate(quint32)));
    connect(m_settings, SIGNAL(calledBWCEnable(bool)), this, SLOT(calledBWCEnable(bool)));

    if (host) {
        m_unitSource = host->getDataSource(QStringLiteral("Application.BandwidthUnit"));
        m_lanSource = host->getDataSource(QStringLiteral("System.Network.LanExceptions"));
    }
    if (m_unitSource) {
        connect(m_unitSource.get(), SIGNAL(newData(CVNDataSample)), this,
                SLOT(newBWUnit(CVNDataSample)));
        newBWUnit(CVNDataSample(m_unitSource->getValue(-1, -1)));
    }
    if (m_lanSource)
        connect(m_lanSource.get(), SIGNAL(newData(CVNDataSample)), this,
                SLOT(newExceptions(CVNDataSample)));
}

FeaturesPanel::~FeaturesPanel()
{
    delete ui;
}

void FeaturesPanel::on_buttonResetAll_clicked(bool)
{
    askReset();
}

void FeaturesPanel::on_buttonResetAll_clicked()
{
    askReset();
}

void FeaturesPanel::askReset()
{
    QMessageBox box(QMessageBox::Question, tr("Reset"),
                    tr("Do you wish to reset all of your Applications settings?"),
                    QMessageBox::NoButton, parentWidget());
    QPushButton* yes = box.addButton(tr("Yes"), QMessageBox::YesRole);
    box.addButton(tr("No"), QMessageBox::NoRole);
    box.setDefaultButton(yes);
    // Escape and the window's close control count as "No".
    box.exec();
    if (box.clickedButton() == yes)
        m_settings->resetAll();
}

void FeaturesPanel::on_comboType_currentIndexChanged(int index)
{
    m_settings->setDefaultPriority(quint32(index + 1));
}

void FeaturesPanel::on_comboBlock_currentIndexChanged(int index)
{
    m_settings->setDefaultBlock(index == 1);
}

void FeaturesPanel::on_spinBarFPS_valueChanged(int nFPS)
{
    m_settings->setBarFrameRate(quint32(nFPS));
}

void FeaturesPanel::on_spinStatRate_valueChanged(int nMilliseconds)
{
    m_settings->setStatSampleRate(quint32(nMilliseconds));
}

void FeaturesPanel::on_checkBWCOn_clicked(bool checked)
{
    m_settings->setBWCEnable(checked);
}

void FeaturesPanel::on_checkBWCOn_clicked()
{
    on_checkBWCOn_clicked(false);
}

void FeaturesPanel::on_checkLanExceptions_clicked(bool checked)
{
    m_settings->setDefaultLanException(checked);
}

void FeaturesPanel::on_checkLanExceptions_clicked()
{
    on_checkLanExceptions_clicked(false);
}

void FeaturesPanel::on_comboAppControlMode_currentIndexChanged(int index)
{
    m_settings->setBWCEnable(index == 0);
    enableDefaults(m_settings->isBWCEnabled());
}

void FeaturesPanel::newDefaultPriority(quint32 nPriority)
{
    ui->comboType->setCurrentIndex(int(nPriority) - 1);
}

void FeaturesPanel::newDefaultBlock(bool bBlock)
{
    ui->comboBlock->setCurrentIndex(bBlock ? 1 : 0);
}

void FeaturesPanel::newDefaultLanException(bool bException)
{
    if (!m_lanSource)
        return;
    // The source follows the service; a source that never had a value gets
    // one even when it would read the same.
    const CVNDataSample current = m_lanSource->getSample(-1, -1);
    if (current.value.toBool() != bException || m_lanSource->getSampleCount(-1) == 0)
        m_lanSource->publish(bException);
}

void FeaturesPanel::newBarFrameRate(quint32) {}

void FeaturesPanel::newStatSampleRate(quint32) {}

void FeaturesPanel::calledBWCEnable(bool bEnable)
{
    const int index = bEnable ? 0 : 1;
    ui->comboAppControlMode->setCurrentIndex(index);
    on_comboAppControlMode_currentIndexChanged(index);
}

// The panel shows no rates, so the unit changes nothing here.
void FeaturesPanel::newBWUnit(CVNDataSample) {}

void FeaturesPanel::newExceptions(CVNDataSample sample)
{
    m_settings->setDefaultLanException(sample.value.toBool());
}

void FeaturesPanel::enableDefaults(bool bEnable)
{
    ui->buttonResetAll->setEnabled(bEnable);
    ui->comboBlock->setEnabled(bEnable);
    ui->comboType->setEnabled(bEnable);
}
