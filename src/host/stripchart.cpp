#include "stripchart.h"

#include "datasource.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace {

const QColor gridColor(0, 0, 0, 28);
const QColor textColor(80, 80, 80);
constexpr qreal lineWidth = 2.0;
constexpr int fillAlpha = 48;

// "1.5M", "250k", "12": values on the scale are rates, so short SI prefixes.
QString compactNumber(double value)
{
    static const char* const prefixes[] = {"", "k", "M", "G", "T"};
    int prefix = 0;
    while (std::fabs(value) >= 1000.0 && prefix < 4) {
        value /= 1000.0;
        ++prefix;
    }
    return QString::number(value, 'g', 3) + QLatin1String(prefixes[prefix]);
}

// The last part of a dotted source name ("BandwidthTx").
QString shortSourceName(const QString& name)
{
    return name.section(QLatin1Char('.'), -1);
}

} // namespace

StripChart::StripChart(QWidget* parent) : IGraphWidget(parent)
{
    // Every pixel is painted in paintEvent, so Qt need not clear first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

StripChart::~StripChart() = default;

void StripChart::setHistoryLength(int nSamples)
{
    m_historyLength = std::max(2, nSamples);
    for (Plot& plot : m_plots) {
        while (int(plot.values.size()) > m_historyLength)
            plot.values.pop_front();
    }
    update();
}

void StripChart::setBackgroundColor(const QColor& color)
{
    m_background = color;
    update();
}

QSize StripChart::sizeHint() const
{
    return QSize(360, 96);
}

QSize StripChart::minimumSizeHint() const
{
    return QSize(40, 24);
}

void StripChart::addDataSource(const DataSourceHandle& source)
{
    if (!source || findPlot(source.get()))
        return;
    m_plots.push_back(Plot{source, QColor(Qt::darkGray), {}});
    // Show what the source saw before the chart existed.
    Plot& plot = m_plots.back();
    const int kept = int(source->getSampleCount(-1));
    for (int i = std::max(0, kept - m_historyLength); i < kept; ++i)
        append(plot, source->getValue(-1, i));
    connect(source.get(), &DataSource::newData, this, &StripChart::OnNewData);
    update();
}

void StripChart::setSourceColor(const DataSourceHandle& source, const QColor& color)
{
    if (Plot* plot = findPlot(source.get())) {
        plot->color = color;
        update();
    }
}

void StripChart::setRange(int nAxis, double dLow, double dHigh)
{
    if (nAxis != 0 || !std::isfinite(dLow) || !std::isfinite(dHigh))
        return;
    // An empty or inverted range would divide by zero or flip the chart.
    m_low = dLow;
    m_high = dHigh > dLow ? dHigh : dLow + 1.0;
    update();
}

void StripChart::setCaption(int nAxis, const QString& strCaption)
{
    if (nAxis != 0)
        return;
    m_caption = strCaption;
    update();
}

void StripChart::setScaleVisible(int nVisible)
{
    m_scaleVisible = nVisible != 0;
    update();
}

void StripChart::setLegendVisible(int nVisible)
{
    m_legendVisible = nVisible != 0;
    update();
}

void StripChart::setBorderWidth(int nPixels)
{
    m_borderWidth = std::clamp(nPixels, 0, 16);
    update();
}

void StripChart::OnNewData(CVNDataSample sample)
{
    if (Plot* plot = findPlot(qobject_cast<const DataSource*>(sender()))) {
        append(*plot, sample.value);
        update();
    }
}

StripChart::Plot* StripChart::findPlot(const DataSource* source)
{
    if (!source)
        return nullptr;
    auto it = std::find_if(m_plots.begin(), m_plots.end(),
                           [source](const Plot& plot) { return plot.source.get() == source; });
    return it == m_plots.end() ? nullptr : &*it;
}

void StripChart::append(Plot& plot, const QVariant& value)
{
    bool ok = false;
    const double number = value.toDouble(&ok);
    if (!ok || !std::isfinite(number))
        return;
    plot.values.push_back(number);
    if (int(plot.values.size()) > m_historyLength)
        plot.values.pop_front();
}

QRectF StripChart::chartRect() const
{
    return QRectF(rect()).adjusted(m_borderWidth, m_borderWidth, -m_borderWidth, -m_borderWidth);
}

double StripChart::yFor(const QRectF& chart, double value) const
{
    const double share = std::clamp((value - m_low) / (m_high - m_low), 0.0, 1.0);
    return chart.bottom() - share * chart.height();
}

void StripChart::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), m_background);
    const QRectF chart = chartRect();
    if (chart.width() < 2 || chart.height() < 2)
        return;

    drawGrid(painter, chart);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.save();
    painter.setClipRect(chart);
    // Fills first, so no source's fill veils another's line.
    for (const Plot& plot : m_plots)
        drawPlot(painter, chart, plot, true);
    for (const Plot& plot : m_plots)
        drawPlot(painter, chart, plot, false);
    painter.restore();

    if (m_scaleVisible)
        drawScale(painter, chart);
    if (m_legendVisible)
        drawLegend(painter, chart);
    if (!m_caption.isNull()) {
        painter.setPen(textColor);
        painter.drawText(chart.adjusted(4, 2, -4, -2), Qt::AlignHCenter | Qt::AlignTop, m_caption);
    }
    if (m_borderWidth > 0) {
        const qreal half = m_borderWidth / 2.0;
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setPen(QPen(textColor, m_borderWidth));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(QRectF(rect()).adjusted(half, half, -half, -half));
    }
}

void StripChart::drawGrid(QPainter& painter, const QRectF& chart) const
{
    painter.setPen(QPen(gridColor, 1));
    for (int quarter = 1; quarter < 4; ++quarter) {
        const int y = qRound(chart.top() + chart.height() * quarter / 4.0);
        painter.drawLine(QPointF(chart.left(), y), QPointF(chart.right(), y));
    }
    const double step = chart.width() / (m_historyLength - 1);
    for (int back = GridSteps; back < m_historyLength; back += GridSteps) {
        const int x = qRound(chart.right() - back * step);
        painter.drawLine(QPointF(x, chart.top()), QPointF(x, chart.bottom()));
    }
}

void StripChart::drawPlot(QPainter& painter, const QRectF& chart, const Plot& plot,
                          bool bFill) const
{
    const int count = int(plot.values.size());
    if (count == 0)
        return;
    const double step = chart.width() / (m_historyLength - 1);
    QPainterPath line;
    for (int i = 0; i < count; ++i) {
        const QPointF point(chart.right() - (count - 1 - i) * step, yFor(chart, plot.values[i]));
        if (i == 0)
            line.moveTo(point);
        else
            line.lineTo(point);
    }
    if (count == 1)
        line.lineTo(line.currentPosition() + QPointF(1, 0));

    if (!bFill) {
        painter.setPen(QPen(plot.color, lineWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(line);
        return;
    }
    QPainterPath area = line;
    area.lineTo(line.currentPosition().x(), chart.bottom() + lineWidth);
    area.lineTo(line.elementAt(0).x, chart.bottom() + lineWidth);
    area.closeSubpath();
    QColor fill = plot.color;
    fill.setAlpha(fillAlpha);
    painter.fillPath(area, fill);
}

void StripChart::drawScale(QPainter& painter, const QRectF& chart) const
{
    painter.setPen(textColor);
    const QFontMetrics metrics(font());
    for (int quarter = 0; quarter <= 4; ++quarter) {
        const double value = m_high - (m_high - m_low) * quarter / 4.0;
        const double y = chart.top() + chart.height() * quarter / 4.0;
        const double top =
            std::clamp(y - metrics.height() / 2.0, chart.top(), chart.bottom() - metrics.height());
        painter.drawText(QRectF(chart.left() + 2, top, chart.width() / 3, metrics.height()),
                         Qt::AlignLeft | Qt::AlignVCenter, compactNumber(value));
    }
}

void StripChart::drawLegend(QPainter& painter, const QRectF& chart) const
{
    const QFontMetrics metrics(font());
    const int box = metrics.height() / 2 + 2;
    double x = chart.right() - 4;
    for (auto it = m_plots.rbegin(); it != m_plots.rend(); ++it) {
        const QString name = shortSourceName(it->source->name());
        x -= metrics.horizontalAdvance(name);
        painter.setPen(textColor);
        painter.drawText(QPointF(x, chart.top() + 2 + metrics.ascent()), name);
        x -= box + 4;
        painter.fillRect(QRectF(x, chart.top() + 2 + (metrics.height() - box) / 2.0, box, box),
                         it->color);
        x -= 10;
    }
}
