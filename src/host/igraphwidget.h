#pragma once

#include "datasourcehandle.h"
#include "hostexport.h"

#include <QColor>
#include <QUuid>
#include <QWidget>

// A graph the host makes for modules (IApplication::createGraphWidget): a
// live chart of the data sources added to it. A module creates it, runs the
// four set-up operations once, adds its sources with their colours and sets
// the vertical range whenever its scale changes.
class BWCHOST_EXPORT IGraphWidget : public QWidget
{
    Q_OBJECT
public:
    using QWidget::QWidget;

    // The identifier of the bandwidth strip chart.
    static QUuid bandwidthGraphId();

public slots:
    // Plots source from now on; adding a source twice changes nothing.
    virtual void addDataSource(const DataSourceHandle& source) = 0;
    // The colour of an added source's line; ignored for other sources.
    virtual void setSourceColor(const DataSourceHandle& source, const QColor& color) = 0;
    // The values at the bottom and top edge of vertical axis nAxis (only 0).
    virtual void setRange(int nAxis, double dLow, double dHigh) = 0;
    // Set-up: a caption for axis nAxis, drawn in the corner; none when null.
    virtual void setCaption(int nAxis, const QString& strCaption) = 0;
    // Set-up: non-zero draws the values of the grid lines along the left edge;
    // 0 leaves the scale to the module (which draws its own beside the graph).
    virtual void setScaleVisible(int nVisible) = 0;
    // Set-up: non-zero draws a legend of the sources' names; 0 none.
    virtual void setLegendVisible(int nVisible) = 0;
    // Set-up: width in pixels of a border drawn around the chart; 0 none.
    virtual void setBorderWidth(int nPixels) = 0;
};
