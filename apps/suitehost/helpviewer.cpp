#include "helpviewer.h"

#include <QFileInfo>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

HelpViewer::HelpViewer(QWidget* parent) : QDialog(parent), m_browser(new QTextBrowser(this))
{
    setObjectName(QStringLiteral("HelpViewer"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_browser);
    m_browser->setOpenExternalLinks(true);
    resize(720, 640);
}

void HelpViewer::showPage(const QString& strPath)
{
    if (QFileInfo::exists(strPath)) {
        m_browser->setSource(QUrl::fromLocalFile(strPath));
        setWindowTitle(tr("Help - %1").arg(m_browser->documentTitle()));
    } else {
        m_browser->setPlainText(tr("The help page %1 is missing.").arg(strPath));
        setWindowTitle(tr("Help"));
    }
    show();
    raise();
    activateWindow();
}
