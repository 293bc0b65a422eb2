#pragma once

#include "hostexport.h"

// Command-line tools carry pictures (icons in process descriptions) and so
// need a QGuiApplication, but never show a window. Call before constructing
// it: picks the offscreen platform unless one is named, and keeps Qt's note
// about the unused runtime folder out of the tool's output.
namespace HeadlessGui {

BWCHOST_EXPORT void prepare();

} // namespace HeadlessGui
