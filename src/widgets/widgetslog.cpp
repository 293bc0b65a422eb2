#include "widgetslog.h"

Q_LOGGING_CATEGORY(lcWidgets, "bwc.widgets", QtInfoMsg)
