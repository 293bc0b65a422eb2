#pragma once

#include "application.h"

#include <QDialog>

namespace Ui {
// The form's texts share the dialog's translation context, "AppDetails"; the
// form widget itself is named "AppDetailsClass".
class AppDetails;
}

// The modal dialog with an application's file details. Its one button, "Hide
// Until Active", ends it with the result 1; any other way out gives 0.
class AppDetails : public QDialog
{
    Q_OBJECT

public:
    AppDetails(AppPtr app, QWidget* parent = nullptr);
    ~AppDetails() override;

    // "1023 Bytes", "1 KB", "1 MB": whole units, cut down, never rounded up.
    static QString formatSize(quint64 bytes);

public slots:
    void on_buttonDelete_clicked();

private:
    Ui::AppDetails* ui;
    AppPtr m_app;
};
