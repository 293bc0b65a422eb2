#pragma once

#include <QString>

// The labels of the scales beside the totals graphs (the main view's and the
// overview panel's).
namespace ScaleText {

// A rate in bits per second in a display unit: the whole number, printed as
// a signed 32-bit one ("no limit" in bits per second reads -1), or below one
// unit the last four characters of its three-decimal form (".125").
QString format(quint32 nBPS, quint32 nUnit);

} // namespace ScaleText
