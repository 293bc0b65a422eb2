#pragma once

#include <QColor>
#include <QImage>
#include <QString>

// Draws the simulated applications' icons: a rounded square in the
// application's colour with the first letter of its name.
class IconPainter
{
public:
    static constexpr int Size = 32;

    static QImage paint(const QString& name, const QColor& colour);
};
