#include "kcombobox.h"

#include <QWheelEvent>

KComboBox::KComboBox(QWidget* parent) : QComboBox(parent) {}

void KComboBox::wheelEvent(QWheelEvent* event)
{
    // Ignored, the event travels on to the parents and finally to the list's
    // scroll area.
    event->ignore();
}
