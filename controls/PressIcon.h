#pragma once
// An icon control with a raised frame that shows itself pressed when clicked:
// on a left press it turns sunken, repaints at once, waits 100 ms on the window
// thread, turns raised again, repaints, and then emits clicked().
//
//   builder.SetFactory(1010, [](const CControlTemplate&, QWidget* parent) {
//       return new CPressIcon(parent); });
//   connect(FindControl<CPressIcon>(this, 1010), &CPressIcon::clicked, this, &CRecorderDlg::OnIconClicked);
//
// The dialog builder gives it its icon (it is a QLabel). Window thread only; the
// 100 ms wait blocks that thread, as a press effect is meant to.
#include <QLabel>

class CPressIcon : public QLabel {
    Q_OBJECT
public:
    explicit CPressIcon(QWidget* parent = nullptr);

    // The pause of the pressed look, 100 ms; tests may shorten it.
    void SetPressMilliseconds(int ms) { m_nPressMs = ms; }
    bool IsSunken() const;

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    void SetSunken(bool sunken);

    int m_nPressMs = 100;
};
