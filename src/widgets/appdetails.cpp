#include "appdetails.h"

#include "ui_appdetails.h"

#include <QLabel>

AppDetails::AppDetails(AppPtr app, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint),
      ui(new Ui::AppDetails), m_app(app)
{
    ui->setupUi(this);
    setModal(true);
    // Every text here comes from the program's files: never markup.
    for (QLabel* label : findChildren<QLabel*>())
        label->setTextFormat(Qt::PlainText);

    const Process process = app ? app->process() : Process();
    ui->labelAppName->setText(app ? app->name() : QString());
    ui->labelFilePath->setText(process.filePath);
    ui->labelDescription->setText(process.description);
    ui->labelCompany->setText(process.company);
    ui->labelComments->setText(process.comments);
    ui->labelCopyright->setText(process.copyright);
    ui->labelTrademark->setText(process.trademark);
    // Version resources separate the parts with commas.
    ui->labelFileVersion->setText(
        QString(process.fileVersion).replace(QLatin1Char(','), QLatin1Char('.')));
    ui->labelProductVersion->setText(
        QString(process.productVersion).replace(QLatin1Char(','), QLatin1Char('.')));
    ui->labelSize->setText(formatSize(process.fileSize));
    setResult(0);
}

AppDetails::~AppDetails()
{
    delete ui;
}

QString AppDetails::formatSize(quint64 bytes)
{
    if (bytes < 1024)
        return tr("%1 %2").arg(bytes).arg(tr("Bytes"));
    if (bytes < 1048576)
        return tr("%1 %2").arg(bytes >> 10).arg(tr("KB"));
    return tr("%1 %2").arg(bytes >> 20).arg(tr("MB"));
}

void AppDetails::on_buttonDelete_clicked()
{
    done(1);
}
