#include "kcombobox.h"

#include <QWheelEvent>

// The rows' combo boxes are 80 pixels wide and their longest text, "1 -
// Highest", needs nearly all of it: a narrow drop-down and no padding beside
// the text leave it room.
const char* const kCompactSheet = "QComboBox { padding: 0px 0px 0px 2px; }"
                                  "QComboBox::drop-down { width: 12px; }";

KComboBox::KComboBox(QWidget* parent) : QComboBox(parent)
{
    setStyleSheet(QLatin1String(kCompactSheet));
}

void KComboBox::wheelEvent(QWheelEvent* event)
{
    // Ignored, the event travels on to the parents and finally to the list's
    // scroll area.
    event->ignore();
}
