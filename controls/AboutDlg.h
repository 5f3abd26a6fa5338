#pragma once
// The About box: the program icon, "Cadenzo Version 1.3", our copyright line,
// description and credit, the About picture and OK, all black on light grey
// (192, 192, 192) whatever the opener's colours.
//
//   CAboutDlg about(this);
//   about.exec();
//
// Window thread only.

#include <QColor>
#include <QDialog>

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);

    QColor BackgroundColour() const { return m_crBackground; }

private:
    QColor m_crBackground;
};
