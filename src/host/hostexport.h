#pragma once

#include <QtCore/qglobal.h>

// The host library is loaded by the host shell and by every plug-in module in
// the same process; they must share one copy of its meta-objects, so it is a
// shared library and its public classes are exported explicitly.
#if defined(BWCHOST_LIBRARY)
#define BWCHOST_EXPORT Q_DECL_EXPORT
#else
#define BWCHOST_EXPORT Q_DECL_IMPORT
#endif
