#pragma once

#include <QDialog>

class QTextBrowser;

// A module's help page in a window of its own: pages are plain HTML shipped
// beside the executable, shown without depending on a browser.
class HelpViewer : public QDialog
{
    Q_OBJECT
public:
    explicit HelpViewer(QWidget* parent = nullptr);

    // Shows strPath; a missing page is said so in the window.
    void showPage(const QString& strPath);

private:
    QTextBrowser* m_browser;
};
