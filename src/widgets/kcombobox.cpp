#include "kcombobox.h"

#include <QPainter>
#include <QStyleOption>
#include <QWheelEvent>

namespace {

// The rows' combo boxes are 80 pixels wide and their longest text, "1 -
// Highest", needs nearly all of it: a narrow drop-down and no padding beside
// the text leave it room. A style sheet would give the same look at the price
// of styling data kept for each box, its list and their parts, in every row.
constexpr int kDropDownWidth = 12;
constexpr int kTextPadding = 2;
constexpr qreal kRadius = 3;

} // namespace

KComboBox::KComboBox(QWidget* parent) : QComboBox(parent)
{
    setAttribute(Qt::WA_Hover);
}

void KComboBox::wheelEvent(QWheelEvent* event)
{
    // Ignored, the event travels on to the parents and finally to the list's
    // scroll area.
    event->ignore();
}

void KComboBox::showPopup()
{
    m_open = true;
    update();
    QComboBox::showPopup();
}

void KComboBox::hidePopup()
{
    m_open = false;
    update();
    QComboBox::hidePopup();
}

void KComboBox::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QRectF area = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const bool enabled = isEnabled();
    const QPalette::ColorGroup group = enabled ? QPalette::Active : QPalette::Disabled;
    const QColor text = palette().color(group, QPalette::ButtonText);
    if (enabled) {
        const QColor button = palette().color(group, QPalette::Button);
        const bool hover = underMouse();
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(hover || m_open ? palette().color(group, QPalette::Highlight) : button);
        painter.setBrush(m_open ? button.darker(115) : hover ? button.lighter(106) : button);
        painter.drawRoundedRect(area, kRadius, kRadius);
    }
    const QRect textArea = rect().adjusted(kTextPadding, 0, -kDropDownWidth, 0);
    painter.setPen(text);
    painter.drawText(textArea, Qt::AlignLeft | Qt::AlignVCenter,
                     fontMetrics().elidedText(currentText(), Qt::ElideRight, textArea.width()));

    QStyleOption arrow;
    arrow.initFrom(this);
    arrow.rect = QRect(rect().right() - kDropDownWidth + 1, rect().top(), kDropDownWidth - 2,
                       rect().height());
    arrow.palette.setColor(QPalette::ButtonText, text);
    arrow.palette.setColor(QPalette::WindowText, text);
    style()->drawPrimitive(m_open ? QStyle::PE_IndicatorArrowUp : QStyle::PE_IndicatorArrowDown,
                           &arrow, &painter, this);
}
