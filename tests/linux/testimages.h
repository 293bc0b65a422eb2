#pragma once

// Pictures for icon tests: real ones, and files that only pose as pictures.

#include <QByteArray>
#include <QColor>

namespace TestImages {

// A square PNG of one colour.
QByteArray png(int side, QColor colour = Qt::red);
// A PNG whose header claims a picture of width by height, with no pixels.
QByteArray pngClaiming(quint32 width, quint32 height);
// An SVG whose title expands entities of entities (a small billion laughs).
QByteArray nestedEntitiesSvg();

} // namespace TestImages
