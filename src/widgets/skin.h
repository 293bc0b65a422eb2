#pragma once

#include <QColor>
#include <QPixmap>
#include <QString>

// The module's look in one place: its images, shared by every row through the
// pixmap cache, and the colours of the rows, the bars, the legends and the
// graphs.
namespace Skin {

// An image under the skins folder (a path such as "skins/shinyblack/box_1.png",
// relative to the host's folder). A file that does not load is tried again at
// the next call.
QPixmap image(const QString& path);

// Upload is orange and download green: the bars, the plots of the totals
// graphs and the legend boxes.
QColor uploadColour();
QColor downloadColour();
QString uploadLegendPath();
QString downloadLegendPath();

// A row's background: dark and light take turns down the list; the selected
// row is light grey.
QColor darkShade();
QColor lightShade();
QColor selectedShade();

// An application's name: white while it runs, dark grey while it is stopped,
// black on the selected row.
QColor nameOnline();
QColor nameOffline();
QColor nameSelected();

// The text of a control that cannot be used (CSS "grey", not Qt::gray).
QColor disabledText();

} // namespace Skin
