#pragma once

// The whole command catalogue.

#include "bwccommands.h"
#include "devicecommands.h"
#include "extensioncommands.h"
#include "sessioncommands.h"

#define BWC_ALL_COMMANDS(X)                                                                        \
    BWC_SESSION_COMMANDS(X)                                                                        \
    BWC_BANDWIDTH_COMMANDS(X)                                                                      \
    BWC_DEVICE_COMMANDS(X)                                                                         \
    BWC_EXTENSION_COMMANDS(X)
