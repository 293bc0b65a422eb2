#pragma once

#include <QFrame>
#include <QLabel>
#include <QPair>
#include <QProgressBar>

// One direction of one application's traffic. The bar's width stands for the
// rate limit and its fill for the current rate, on a linear scale where one
// pixel is (rangeMax - rangeMin) / parent width bits per second, so the
// parent's full width is rangeMax. Dragging the right end sets a new limit.
// The two text labels and the two arrows that mark the draggable end are
// siblings of the bar (children of its parent), so they may stand beside it.
class BandwidthBar : public QProgressBar
{
    Q_OBJECT

public:
    enum Mode : quint32
    {
        Normal = 0,
        Unlimited = 1,
        Blocked = 2
    };

    BandwidthBar(const QString& name, QWidget* parent = nullptr);
    ~BandwidthBar() override;

    void setCurrent(quint32 bps);
    quint32 current() const { return m_current; }
    void setLimit(quint32 bps);
    quint32 limit() const { return m_limit; }
    void setRateRange(quint32 min, quint32 max);
    QPair<quint32, quint32> rateRange() const { return qMakePair(m_rangeMin, m_rangeMax); }
    void setMode(quint32 mode);
    quint32 mode() const { return m_mode; }
    void setUnit(quint32 unit);
    quint32 unit() const { return m_unit; }
    void setLabelsVisible(bool visible);
    bool labelsVisible() const { return m_labelsVisible; }
    bool isDragging() const { return m_dragging; }

    // Moves the bar's right end to x (in the parent's coordinates, the bar
    // standing at x = 0) and derives the limit from the new width.
    void dragTo(int x);

    const QLabel* currentLabel() const { return &m_currentLabel; }
    const QLabel* maxLabel() const { return &m_maxLabel; }
    QFrame* leftArrow() { return &m_leftArrow; }
    QFrame* rightArrow() { return &m_rightArrow; }

    // The display units, shared with the view: 0 MBps, 1 Mbps, 2 KBps, 3 Kbps,
    // 4 Bps, 5 bps. Other indices give 0 and an empty label.
    static QString unitLabel(quint32 unit);
    static quint32 wholeValue(quint32 bps, quint32 unit);
    static double fractionalValue(quint32 bps, quint32 unit);
    // "%L1 %2": two decimals only when the fraction is at least 0.01.
    static QString rateText(quint32 bps, quint32 unit);

signals:
    void mouseMoveDone(BandwidthBar* bar, quint32 limit);

public slots:
    void setValue(int value);
    void on_setValue(int value);
    void setRange(int minimum, int maximum);
    void setParentSize(int width, int height);

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    int parentWidth() const;
    int rateToPixels(quint32 bps) const;
    quint32 pixelsToRate(int pixels) const;
    void layoutLabels();
    // Ends a drag under way without a new limit: the bar shows the limit it
    // had before. Only hiding the bar (its row removed or hidden) does this.
    void cancelDrag();
    class LayoutHold;
    void forwardArrowMouse(QFrame* arrow, QMouseEvent* event);
    void paintArrow(QFrame* arrow);
    void passReleaseToRow(QMouseEvent* event);
    template <class Change> void withoutRepaint(Change change);

    bool m_dragging = false;
    QLabel m_currentLabel;
    QLabel m_maxLabel;
    QFrame m_leftArrow;
    QFrame m_rightArrow;
    quint32 m_rangeMin = 8;
    quint32 m_rangeMax = 1500000;
    quint32 m_current = 0;
    quint32 m_limit = 1500000;
    quint32 m_limitBeforeDrag = 1500000;
    QString m_name;
    quint32 m_unit = 2;
    quint32 m_mode = Normal;
    bool m_labelsVisible = true;
    // The arrow under the mouse, if any: it shows its highlighted image and
    // the bar its highlighted outline.
    QFrame* m_hoverArrow = nullptr;
    // While positive, layoutLabels() waits for the end of a compound change.
    int m_layoutHold = 0;
};
