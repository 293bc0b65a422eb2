#pragma once

#include <QComboBox>

// The combo box of the application rows. The rows sit in a scrolling list, so
// a wheel turned over a row must scroll the list instead of changing the
// row's priority or block rule. It is drawn flat and compact, to fit the
// row's narrow controls, in the colours of its palette: Button behind the
// text, ButtonText for the text (its disabled colour when it cannot be used,
// on no background), Highlight around it while the mouse is over it; open, it
// looks pressed.
class KComboBox : public QComboBox
{
    Q_OBJECT

public:
    explicit KComboBox(QWidget* parent = nullptr);

    void showPopup() override;
    void hidePopup() override;

protected:
    void wheelEvent(QWheelEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    bool m_open = false;
};
