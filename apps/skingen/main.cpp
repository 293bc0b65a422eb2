// Writes the skin images into the folder given on the command line (the
// repository's skins/ folder), in the sub-folders the widgets load them from.

#include "skinpainter.h"

#include <QCoreApplication>
#include <QDir>
#include <QPainter>
#include <QTextStream>

namespace {

bool save(const QImage& image, const QDir& dir, const QString& name)
{
    const QString path = dir.filePath(name);
    if (!image.save(path, "PNG")) {
        QTextStream(stderr) << "skingen: cannot write " << path << '\n';
        return false;
    }
    QTextStream(stdout) << path << '\n';
    return true;
}

} // namespace

// A contact sheet of every image in the skin, enlarged without smoothing on
// the row backgrounds (dark, light and selected), for reviewing the artwork.
int writeSheet(const QDir& root, const QString& out)
{
    const QStringList files = {"shinyblack/box_1.png",
                               "shinyblack/box_2.png",
                               "shinyblack/box_3.png",
                               "shinyblack/box_4.png",
                               "shinyblack/blocked.png",
                               "shinyblack/arrow-left.png",
                               "shinyblack/arrow-left-hover.png",
                               "shinyblack/arrow-right.png",
                               "shinyblack/arrow-right-hover.png",
                               "shinyblack/Magnifying Glass.png",
                               "shinyblack/orangebox.png",
                               "shinyblack/greenbox.png",
                               "pluginicon/apps_wt_24.png",
                               "pluginicon/apps_bk_24.png"};
    const QColor backgrounds[] = {QColor(0x22, 0x22, 0x22), QColor(0x55, 0x55, 0x55),
                                  QColor(Qt::lightGray)};
    const int cell = 28, zoom = 6;
    QImage sheet(files.size() * cell * zoom, 3 * cell * zoom, QImage::Format_ARGB32);
    QPainter p(&sheet);
    for (int row = 0; row < 3; ++row) {
        p.fillRect(0, row * cell * zoom, sheet.width(), cell * zoom, backgrounds[row]);
        for (int i = 0; i < files.size(); ++i) {
            const QImage image(root.filePath(files.at(i)));
            if (image.isNull()) {
                QTextStream(stderr) << "skingen: cannot read " << files.at(i) << '\n';
                return 1;
            }
            const QImage big = image.scaled(image.size() * zoom);
            p.drawImage(QPoint(i * cell * zoom + (cell * zoom - big.width()) / 2,
                               row * cell * zoom + (cell * zoom - big.height()) / 2),
                        big);
        }
    }
    p.end();
    return sheet.save(out, "PNG") ? 0 : 1;
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 4 && args.at(1) == QLatin1String("--sheet"))
        return writeSheet(QDir(args.at(2)), args.at(3));
    if (args.size() != 2) {
        QTextStream(stderr) << "usage: skingen <skins folder>\n"
                               "       skingen --sheet <skins folder> <sheet.png>\n";
        return 2;
    }
    QDir root(args.at(1));
    if (!root.mkpath(QStringLiteral("shinyblack")) || !root.mkpath(QStringLiteral("pluginicon"))) {
        QTextStream(stderr) << "skingen: cannot create folders under " << root.path() << '\n';
        return 1;
    }
    const QDir skin(root.filePath(QStringLiteral("shinyblack")));
    const QDir plugin(root.filePath(QStringLiteral("pluginicon")));

    bool ok = true;
    for (int level = 1; level <= 4; ++level)
        ok &= save(SkinPainter::priorityBox(level), skin, QStringLiteral("box_%1.png").arg(level));
    ok &= save(SkinPainter::blocked(), skin, QStringLiteral("blocked.png"));
    ok &= save(SkinPainter::arrow(true, false), skin, QStringLiteral("arrow-left.png"));
    ok &= save(SkinPainter::arrow(true, true), skin, QStringLiteral("arrow-left-hover.png"));
    ok &= save(SkinPainter::arrow(false, false), skin, QStringLiteral("arrow-right.png"));
    ok &= save(SkinPainter::arrow(false, true), skin, QStringLiteral("arrow-right-hover.png"));
    ok &= save(SkinPainter::magnifyingGlass(), skin, QStringLiteral("Magnifying Glass.png"));
    // The legend colours match the plots of the totals graph.
    ok &= save(SkinPainter::legendBox(QColor(232, 151, 0)), skin, QStringLiteral("orangebox.png"));
    ok &= save(SkinPainter::legendBox(QColor(90, 155, 2)), skin, QStringLiteral("greenbox.png"));
    ok &= save(SkinPainter::pluginIcon(QColor(0xf2, 0xf2, 0xf2)), plugin,
               QStringLiteral("apps_wt_24.png"));
    ok &= save(SkinPainter::pluginIcon(QColor(0x1a, 0x1a, 0x1a)), plugin,
               QStringLiteral("apps_bk_24.png"));
    return ok ? 0 : 1;
}
