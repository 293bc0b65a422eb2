#include "bandwidthbar.h"

#include "skin.h"
#include "widgetslog.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

// The bar is an outline with the fill in its palette's highlight colour; the
// outline turns blue while the mouse is over an arrow. The texts are small
// and dark, shown on the selected row only, whose background is light. All
// of it is painted here rather than by style sheets, which would make Qt keep
// styling data for each bar, label and arrow of every row.
const QColor kOutline(0xaa, 0xaa, 0xaa);
const QColor kHoverOutline(0x00, 0x59, 0xfa);
const QColor kLabelText(0x15, 0x15, 0x15);
constexpr int kLabelPixelSize = 10;
// The maximum stands right-aligned against the bar's end, where the left arrow
// is; the margin keeps its text clear of the arrow.
constexpr int kMaxLabelMargin = 12;

QPixmap arrowImage(bool left, bool hover)
{
    return Skin::image(QStringLiteral("skins/shinyblack/arrow-%1%2.png")
                           .arg(left ? QLatin1String("left") : QLatin1String("right"),
                                hover ? QLatin1String("-hover") : QLatin1String()));
}

void styleLabel(QLabel& label)
{
    label.setObjectName(QStringLiteral("labelBandwidthBar"));
    QFont font = label.font();
    font.setPixelSize(kLabelPixelSize);
    label.setFont(font);
    QPalette palette = label.palette();
    palette.setColor(QPalette::WindowText, kLabelText);
    label.setPalette(palette);
}

// The end of the bar that can be grabbed, in pixels from its right edge.
const int kGripWidth = 64;

} // namespace

BandwidthBar::BandwidthBar(const QString& name, QWidget* parent)
    : QProgressBar(parent), m_currentLabel(parent ? parent : this),
      m_maxLabel(parent ? parent : this), m_leftArrow(parent ? parent : this),
      m_rightArrow(parent ? parent : this), m_name(name)
{
    setTextVisible(false);
    setMouseTracking(true);
    QProgressBar::setValue(0);
    connect(this, SIGNAL(valueChanged(int)), this, SLOT(on_setValue(int)));

    styleLabel(m_currentLabel);
    styleLabel(m_maxLabel);
    m_maxLabel.setContentsMargins(0, 0, kMaxLabelMargin, 0);
    m_maxLabel.setMouseTracking(true);
    m_leftArrow.setObjectName(QStringLiteral("leftArrow"));
    m_rightArrow.setObjectName(QStringLiteral("rightArrow"));
    for (QFrame* arrow : {&m_leftArrow, &m_rightArrow}) {
        arrow->setMouseTracking(true);
        arrow->setCursor(Qt::SizeHorCursor);
        arrow->installEventFilter(this);
    }
    m_maxLabel.installEventFilter(this);
    m_leftArrow.show();
    m_rightArrow.hide();
}

BandwidthBar::~BandwidthBar()
{
    // The labels and arrows die after this body; they must not reach the
    // filter of a bar that is half gone.
    m_maxLabel.removeEventFilter(this);
    m_leftArrow.removeEventFilter(this);
    m_rightArrow.removeEventFilter(this);
    if (QWidget::mouseGrabber() == this)
        releaseMouse();
}

QString BandwidthBar::unitLabel(quint32 unit)
{
    switch (unit) {
    case 0:
        return tr("MBps");
    case 1:
        return tr("Mbps");
    case 2:
        return tr("KBps");
    case 3:
        return tr("Kbps");
    case 4:
        return tr("Bps");
    case 5:
        return tr("bps");
    default:
        return QString();
    }
}

quint32 BandwidthBar::wholeValue(quint32 bps, quint32 unit)
{
    switch (unit) {
    case 0:
        return bps / 8000000;
    case 1:
        return bps / 1000000;
    case 2:
        return bps / 8000;
    case 3:
        return bps / 1000;
    case 4:
        return bps / 8;
    case 5:
        return bps;
    default:
        return 0;
    }
}

double BandwidthBar::fractionalValue(quint32 bps, quint32 unit)
{
    switch (unit) {
    case 0:
        return bps / 1e6 / 8;
    case 1:
        return bps / 1e6;
    case 2:
        return bps / 1000.0 / 8;
    case 3:
        return bps / 1000.0;
    case 4:
        return bps / 8.0;
    case 5:
        return bps;
    default:
        return 0;
    }
}

namespace {

// Fills the two lowest remaining place markers of pattern with the rate and
// the unit's label.
QString fillRate(const QString& pattern, quint32 bps, quint32 unit)
{
    const double fraction = BandwidthBar::fractionalValue(bps, unit);
    const quint32 whole = BandwidthBar::wholeValue(bps, unit);
    const QString number =
        fraction - whole >= 0.01 ? pattern.arg(fraction, 0, 'f', 2) : pattern.arg(whole);
    return number.arg(BandwidthBar::unitLabel(unit));
}

// A label repaints the row beneath it whenever its text is set, even to the
// same text, and the labels are laid out with every change of the rate:
// setting only real changes spares the row those paints.
void setLabelText(QLabel& label, const QString& text)
{
    if (label.text() != text)
        label.setText(text);
}

// The arrows are laid out with every change of the rate. Even to the same
// place, moving or resizing a widget makes Qt work out again what its parent's
// children cover at the next paint of the list.
void resizeIfChanged(QWidget& widget, const QSize& size)
{
    if (widget.size() != size)
        widget.resize(size);
}

void moveIfChanged(QWidget& widget, const QPoint& position)
{
    if (widget.pos() != position)
        widget.move(position);
}

} // namespace

QString BandwidthBar::rateText(quint32 bps, quint32 unit)
{
    return fillRate(QStringLiteral("%L1 %2"), bps, unit);
}

// setLimit and setParentSize pass through intermediate limits and widths. Laid
// out, those would change the label texts back and forth, and each change
// repaints the row; so the labels are laid out once, for the final state.
class BandwidthBar::LayoutHold
{
public:
    explicit LayoutHold(BandwidthBar* bar) : m_bar(bar) { ++m_bar->m_layoutHold; }
    ~LayoutHold()
    {
        if (--m_bar->m_layoutHold == 0)
            m_bar->layoutLabels();
    }
    LayoutHold(const LayoutHold&) = delete;
    LayoutHold& operator=(const LayoutHold&) = delete;

private:
    BandwidthBar* m_bar;
};

int BandwidthBar::parentWidth() const
{
    return parentWidget() ? parentWidget()->width() : width();
}

int BandwidthBar::rateToPixels(quint32 bps) const
{
    const int scaleWidth = isVisible() ? parentWidth() : 400;
    const double perPixel = (double(m_rangeMax) - double(m_rangeMin)) / scaleWidth;
    if (!(perPixel > 0) || std::isinf(perPixel))
        return bps == 0 ? 0 : INT_MAX; // a degenerate scale: anything fills it
    return int(std::min(std::trunc(bps / perPixel), double(INT_MAX)));
}

quint32 BandwidthBar::pixelsToRate(int pixels) const
{
    const int scaleWidth = parentWidth();
    if (scaleWidth <= 0)
        return m_rangeMin;
    const double rate = pixels * ((double(m_rangeMax) - double(m_rangeMin)) / scaleWidth);
    return quint32(std::clamp(std::trunc(rate), 0.0, double(UINT_MAX)));
}

// QProgressBar repaints itself at once when its value or range changes: a
// statistics cycle would paint every bar of the list there and then, and a
// bar changed while its row paints would be refused with a warning. So the
// change is made with updates off, which queues one ordinary update instead,
// and only when something changes.
template <class Change> void BandwidthBar::withoutRepaint(Change change)
{
    if (!updatesEnabled()) {
        change();
        return;
    }
    setUpdatesEnabled(false);
    change();
    setUpdatesEnabled(true); // schedules the update
}

void BandwidthBar::setValue(int value)
{
    const int clamped = std::clamp(value, minimum(), std::max(minimum(), maximum()));
    if (clamped == QProgressBar::value())
        return;
    withoutRepaint([&] { QProgressBar::setValue(clamped); });
}

void BandwidthBar::on_setValue(int)
{
    layoutLabels();
}

void BandwidthBar::setRange(int minimum, int maximum)
{
    if (minimum != this->minimum() || maximum != this->maximum())
        withoutRepaint([&] { QProgressBar::setRange(minimum, maximum); });
    layoutLabels();
}

void BandwidthBar::setParentSize(int, int height)
{
    LayoutHold hold(this);
    const int barHeight = std::max(0, height / 2 - 4);
    if (this->height() != barHeight)
        resize(width(), barHeight);
    setLimit(m_limit);
    setCurrent(m_current);
}

void BandwidthBar::setCurrent(quint32 bps)
{
    const bool changed = bps != m_current;
    m_current = bps;
    setValue(rateToPixels(bps));
    if (changed)
        layoutLabels();
}

void BandwidthBar::dragTo(int x)
{
    int newWidth = x < 2 ? 1 : x;
    if (value() > newWidth)
        setValue(newWidth);
    bool edge = false;
    const int room = parentWidth() - 6;
    if (newWidth > room) {
        newWidth = std::max(1, room);
        edge = true;
    }
    resize(newWidth, height());
    setRange(0, newWidth);

    m_limit = pixelsToRate(newWidth);
    if (m_limit < m_rangeMin || newWidth == 1)
        m_limit = m_rangeMin;
    if (edge)
        m_limit = m_rangeMax;
    layoutLabels();
}

void BandwidthBar::setLimit(quint32 bps)
{
    // The user's drag decides the limit until the release; the service hears
    // of it then, and what it answers comes later.
    if (m_dragging) {
        layoutLabels();
        return;
    }
    LayoutHold hold(this);
    dragTo(rateToPixels(bps));
    m_limit = bps;
    if (m_limit < m_rangeMin || width() == 1)
        m_limit = m_rangeMin;
}

void BandwidthBar::setRateRange(quint32 min, quint32 max)
{
    m_rangeMin = min;
    m_rangeMax = max;
    if (m_current < min)
        m_current = min;
    if (m_current > max)
        m_current = max;
}

void BandwidthBar::setMode(quint32 mode)
{
    m_mode = mode;
    if (mode == Unlimited || mode == Blocked) {
        setEnabled(false);
        m_current = 0;
        setValue(0);
        setLimit(m_rangeMax);
    } else {
        setEnabled(true);
    }
    layoutLabels();
}

void BandwidthBar::setUnit(quint32 unit)
{
    if (unit == m_unit)
        return;
    m_unit = unit;
    layoutLabels();
}

void BandwidthBar::setLabelsVisible(bool visible)
{
    if (visible == m_labelsVisible)
        return;
    m_labelsVisible = visible;
    m_currentLabel.setVisible(visible);
    m_maxLabel.setVisible(visible);
    m_leftArrow.setVisible(visible);
    m_rightArrow.setVisible(visible);
    layoutLabels();
}

void BandwidthBar::layoutLabels()
{
    if (m_layoutHold > 0)
        return;
    const int barWidth = width();
    const int top = y() + 5;
    if (m_mode != Normal && m_mode != Unlimited) {
        if (m_labelsVisible) {
            if (m_mode == Blocked)
                setLabelText(m_currentLabel, tr("Blocked"));
            m_currentLabel.adjustSize();
            m_currentLabel.move(barWidth / 2 - m_currentLabel.width() / 2, top);
            setLabelText(m_maxLabel, QString());
        }
        m_leftArrow.hide();
        m_rightArrow.hide();
        setCurrent(0);
        return;
    }

    const int arrowSize = std::max(0, height() - 8);
    resizeIfChanged(m_leftArrow, QSize(arrowSize, arrowSize));
    resizeIfChanged(m_rightArrow, QSize(arrowSize, arrowSize));
    // A disabled bar cannot be dragged, and the event filter would hide its
    // arrows again at once; showing them anyway would make every layout pass
    // show and hide them, and so repaint the row without end.
    const bool showArrows = parentWidget() && parentWidget()->isVisible() && isEnabled();
    if (showArrows)
        m_leftArrow.show();

    moveIfChanged(m_leftArrow, QPoint(barWidth - m_leftArrow.width() - 4, top - 2));
    moveIfChanged(m_rightArrow, QPoint(barWidth + 4, top - 2));
    if (barWidth < parentWidth() - m_rightArrow.width()) {
        if (showArrows)
            m_rightArrow.show();
    } else {
        m_rightArrow.hide();
    }

    // Only the selected row shows its labels. The others are left as they
    // are (formatting, sizing and moving them would restyle hundreds of hidden
    // labels on every statistics cycle) and laid out when they are shown.
    if (!m_labelsVisible)
        return;
    setLabelText(m_currentLabel, fillRate(tr("Current %1: %L2 %3").arg(m_name), m_current, m_unit));
    m_currentLabel.adjustSize();
    setLabelText(m_maxLabel, fillRate(tr("Max %1: %L2 %3").arg(m_name), m_limit, m_unit));
    m_maxLabel.adjustSize();

    const int currentWidth = m_currentLabel.width();
    const int maxWidth = m_maxLabel.width();
    const int arrowWidth = m_rightArrow.width();
    if (barWidth < currentWidth + 100 + maxWidth) {
        if (barWidth < currentWidth + 50) {
            // Too narrow for either label: both stand to the right of the bar.
            m_currentLabel.move(barWidth + arrowWidth + 7, top);
            m_maxLabel.move(barWidth + arrowWidth + currentWidth + 28, top);
        } else {
            m_maxLabel.move(barWidth + arrowWidth + 7, top);
            m_currentLabel.move(x() + 7, top);
        }
    } else {
        m_maxLabel.move(barWidth - maxWidth - 10, top);
        m_currentLabel.move(x() + 7, top);
    }
}

void BandwidthBar::mouseMoveEvent(QMouseEvent* event)
{
    qCDebug(lcWidgets, "mouseMoveEvent");
    const int x = event->position().toPoint().x();
    if (hasMouseTracking()) {
        if (x < width() - kGripWidth) {
            setCursor(Qt::ArrowCursor);
            qCDebug(lcWidgets, "regular cursor");
        } else {
            setCursor(Qt::SizeHorCursor);
            qCDebug(lcWidgets, "sizing cursor");
        }
    }
    if (m_dragging)
        dragTo(x);
}

void BandwidthBar::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && hasMouseTracking() &&
        event->position().toPoint().x() >= width() - kGripWidth) {
        grabMouse();
        qCDebug(lcWidgets, "down");
        m_dragging = true;
        m_limitBeforeDrag = m_limit;
        return;
    }
    QProgressBar::mousePressEvent(event);
}

void BandwidthBar::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QProgressBar::mouseReleaseEvent(event);
        return;
    }
    // A drag ends with the limit the user dragged to, also when the row was
    // unselected under it (a new instance started, the view was shown again).
    if (!hasMouseTracking() && !m_dragging) {
        passReleaseToRow(event);
        return;
    }
    if (QWidget::mouseGrabber() == this)
        releaseMouse();
    qCDebug(lcWidgets, "up");
    m_dragging = false;
    emit mouseMoveDone(this, m_limit);
}

void BandwidthBar::cancelDrag()
{
    if (!m_dragging)
        return;
    if (QWidget::mouseGrabber() == this)
        releaseMouse();
    m_dragging = false;
    setLimit(m_limitBeforeDrag);
}

void BandwidthBar::hideEvent(QHideEvent* event)
{
    cancelDrag();
    QProgressBar::hideEvent(event);
}

void BandwidthBar::passReleaseToRow(QMouseEvent* event)
{
    // bar -> bars area -> row body -> row
    QWidget* row = parentWidget();
    for (int step = 1; step < 3 && row; ++step)
        row = row->parentWidget();
    if (!row) {
        event->ignore();
        return;
    }
    QMouseEvent forwarded(event->type(), mapTo(row, event->position()), event->globalPosition(),
                          event->button(), event->buttons(), event->modifiers());
    QCoreApplication::sendEvent(row, &forwarded);
}

void BandwidthBar::forwardArrowMouse(QFrame* arrow, QMouseEvent* event)
{
    const QPointF at = event->position();
    const qreal x =
        arrow == &m_leftArrow ? width() - m_leftArrow.width() + at.x() - 4 : width() + at.x() + 4;
    QMouseEvent mapped(event->type(), QPointF(x, at.y()), event->globalPosition(), event->button(),
                       event->buttons(), event->modifiers());
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        mousePressEvent(&mapped);
        break;
    case QEvent::MouseButtonRelease:
        mouseReleaseEvent(&mapped);
        break;
    default:
        mouseMoveEvent(&mapped);
        break;
    }
}

bool BandwidthBar::eventFilter(QObject* watched, QEvent* event)
{
    QFrame* arrow = watched == &m_leftArrow    ? &m_leftArrow
                    : watched == &m_rightArrow ? &m_rightArrow
                                               : nullptr;
    if (!arrow && watched != &m_maxLabel)
        return QProgressBar::eventFilter(watched, event);

    if (isVisible()) {
        if (!isEnabled()) {
            // A bar in the unlimited or blocked mode cannot be dragged.
            m_leftArrow.hide();
            m_rightArrow.hide();
            return QProgressBar::eventFilter(watched, event);
        }
        if (m_leftArrow.isHidden()) {
            m_leftArrow.show();
            m_rightArrow.show();
        }
    }
    if (arrow) {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseMove:
            forwardArrowMouse(arrow, static_cast<QMouseEvent*>(event));
            return true;
        case QEvent::Enter:
        case QEvent::Leave:
            m_hoverArrow = event->type() == QEvent::Enter ? arrow : nullptr;
            update();
            arrow->update();
            return true;
        case QEvent::Paint:
            paintArrow(arrow);
            return true;
        default:
            break;
        }
    }
    return QProgressBar::eventFilter(watched, event);
}

void BandwidthBar::paintArrow(QFrame* arrow)
{
    QPainter painter(arrow);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawPixmap(arrow->rect(), arrowImage(arrow == &m_leftArrow, arrow == m_hoverArrow));
}

void BandwidthBar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QRect inner = rect().adjusted(1, 1, -1, -1);
    const qint64 span = qint64(maximum()) - minimum();
    if (span > 0 && value() > minimum() && inner.isValid()) {
        const int filled = int(inner.width() * (qint64(value()) - minimum()) / span);
        const QRect fill(inner.topLeft(), QSize(filled, inner.height()));
        const QColor colour = palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled,
                                              QPalette::Highlight);
        QLinearGradient gradient(fill.topLeft(), fill.bottomLeft());
        gradient.setColorAt(0, colour.lighter(120));
        gradient.setColorAt(1, colour);
        painter.fillRect(fill, gradient);
    }
    painter.setPen(m_hoverArrow ? kHoverOutline : kOutline);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}
