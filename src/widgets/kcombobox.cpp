#include "kcombobox.h"

#include <QPainter>
#include <QStyleOption>
#include <QWheelEvent>

namespace {

// The rows' combo boxes are 80 pixels wide and their longest text, "1 -
// Highest", needs nearly all of it: a narrow drop-down and no padding beside
// the text leave it room. They are drawn flat on the selected row's light
// background; a style sheet would give the same look at the price of styling
// data kept for each box, its list and their parts, in every row.
constexpr int kDropDownWidth = 12;
constexpr int kTextPadding = 2;
constexpr qreal kRadius = 3;
const QColor kBackground(0xd3, 0xd3, 0xd3);
const QColor kText(Qt::black);
const QColor kDisabledText(Qt::gray);

} // namespace

KComboBox::KComboBox(QWidget* parent) : QComboBox(parent) {}

void KComboBox::wheelEvent(QWheelEvent* event)
{
    // Ignored, the event travels on to the parents and finally to the list's
    // scroll area.
    event->ignore();
}

void KComboBox::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QRect area = rect();
    const bool enabled = isEnabled();
    if (enabled) {
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(kBackground);
        painter.drawRoundedRect(QRectF(area), kRadius, kRadius);
    }
    const QRect text = area.adjusted(kTextPadding, 0, -kDropDownWidth, 0);
    painter.setPen(enabled ? kText : kDisabledText);
    painter.drawText(text, Qt::AlignLeft | Qt::AlignVCenter,
                     fontMetrics().elidedText(currentText(), Qt::ElideRight, text.width()));

    QStyleOption arrow;
    arrow.initFrom(this);
    arrow.rect =
        QRect(area.right() - kDropDownWidth + 1, area.top(), kDropDownWidth - 2, area.height());
    arrow.palette.setColor(QPalette::ButtonText, enabled ? kText : kDisabledText);
    arrow.palette.setColor(QPalette::WindowText, enabled ? kText : kDisabledText);
    style()->drawPrimitive(QStyle::PE_IndicatorArrowDown, &arrow, &painter, this);
}
