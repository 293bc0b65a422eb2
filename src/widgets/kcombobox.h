#pragma once

#include <QComboBox>

// The combo box of the application rows. The rows sit in a scrolling list, so
// a wheel turned over a row must scroll the list instead of changing the
// row's priority or block rule. It is drawn flat and compact, to fit the
// row's narrow controls.
class KComboBox : public QComboBox
{
    Q_OBJECT

public:
    explicit KComboBox(QWidget* parent = nullptr);

protected:
    void wheelEvent(QWheelEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};
