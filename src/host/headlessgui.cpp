#include "headlessgui.h"

#include <QString>
#include <QtGlobal>

namespace {

QtMessageHandler standardHandler = nullptr;

void quietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set")))
        return;
    standardHandler(type, context, message);
}

} // namespace

namespace HeadlessGui {

void prepare()
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (!standardHandler)
        standardHandler = qInstallMessageHandler(quietHandler);
}

} // namespace HeadlessGui
