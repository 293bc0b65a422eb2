#pragma once

#include "cvndatasample.h"
#include "hostexport.h"
#include "igraphwidget.h"

#include <deque>
#include <vector>

// The host's bandwidth graph: a strip chart of its data sources, newest
// sample at the right edge, one sample per step, scrolling left as samples
// arrive (the sources publish about once a second). Each source is a line in
// its own colour over a faint fill; a light grid divides the height in
// quarters and the width in steps of GridSteps samples.
class BWCHOST_EXPORT StripChart : public IGraphWidget
{
    Q_OBJECT
public:
    // Three minutes at one sample a second.
    static constexpr int DefaultHistoryLength = 180;
    static constexpr int GridSteps = 30;

    explicit StripChart(QWidget* parent = nullptr);
    ~StripChart() override;

    // Samples kept and shown per source (at least 2); older ones drop off.
    void setHistoryLength(int nSamples);
    int historyLength() const { return m_historyLength; }
    double rangeLow() const { return m_low; }
    double rangeHigh() const { return m_high; }
    void setBackgroundColor(const QColor& color);
    QColor backgroundColor() const { return m_background; }
    int sourceCount() const { return int(m_plots.size()); }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

public slots:
    void addDataSource(const DataSourceHandle& source) override;
    void setSourceColor(const DataSourceHandle& source, const QColor& color) override;
    void setRange(int nAxis, double dLow, double dHigh) override;
    void setCaption(int nAxis, const QString& strCaption) override;
    void setScaleVisible(int nVisible) override;
    void setLegendVisible(int nVisible) override;
    void setBorderWidth(int nPixels) override;

protected:
    void paintEvent(QPaintEvent* event) override;

private slots:
    void OnNewData(CVNDataSample sample);

private:
    struct Plot
    {
        DataSourceHandle source;
        QColor color;
        std::deque<double> values;
    };

    Plot* findPlot(const DataSource* source);
    void append(Plot& plot, const QVariant& value);
    QRectF chartRect() const;
    double yFor(const QRectF& chart, double value) const;
    void drawGrid(QPainter& painter, const QRectF& chart) const;
    void drawPlot(QPainter& painter, const QRectF& chart, const Plot& plot, bool bFill) const;
    void drawScale(QPainter& painter, const QRectF& chart) const;
    void drawLegend(QPainter& painter, const QRectF& chart) const;

    std::vector<Plot> m_plots;
    int m_historyLength = DefaultHistoryLength;
    double m_low = 0.0;
    double m_high = 1.0;
    QColor m_background = Qt::white;
    QString m_caption;
    bool m_scaleVisible = false;
    bool m_legendVisible = false;
    int m_borderWidth = 0;
};
