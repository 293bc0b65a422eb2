#pragma once

#include <QLoggingCategory>

// The module's diagnostics (the settings object, the view, the plug-in).
// Debug lines are off unless asked for: QT_LOGGING_RULES="bwc.module.debug=true"
Q_DECLARE_LOGGING_CATEGORY(lcModule)
