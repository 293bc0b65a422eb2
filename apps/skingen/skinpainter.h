#pragma once

#include <QColor>
#include <QImage>

// Draws every image of the dark skin. Each function returns a finished image
// in its final pixel size, so the widgets show it unscaled and crisp.
class SkinPainter
{
public:
    // Priority level 1 (highest) to 4 (low): a meter of four bars, of which
    // 5 - level are lit, so the levels differ in count and not only in colour.
    static QImage priorityBox(int level);
    static QImage blocked();
    static QImage arrow(bool pointsLeft, bool hover);
    static QImage magnifyingGlass();
    static QImage legendBox(const QColor& base);
    static QImage pluginIcon(const QColor& ink);

private:
    static QImage canvas(int width, int height);
};
