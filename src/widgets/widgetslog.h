#pragma once

#include <QLoggingCategory>

// The rows' diagnostics: a line on every paint and every mouse move over a
// bar. Off unless asked for: QT_LOGGING_RULES="bwc.widgets.debug=true"
Q_DECLARE_LOGGING_CATEGORY(lcWidgets)
