#include "modellog.h"

Q_LOGGING_CATEGORY(lcModule, "bwc.module", QtInfoMsg)
