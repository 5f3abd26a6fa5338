#include "controls/PressIcon.h"

#include <QMouseEvent>
#include <QThread>

CPressIcon::CPressIcon(QWidget* parent) : QLabel(parent)
{
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setLineWidth(2);
    setAlignment(Qt::AlignCenter);
}

bool CPressIcon::IsSunken() const
{
    return frameShadow() == QFrame::Sunken;
}

void CPressIcon::SetSunken(bool sunken)
{
    setFrameShadow(sunken ? QFrame::Sunken : QFrame::Raised);
    // Paint now, frame included, so the look changes before the wait.
    repaint();
}

void CPressIcon::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QLabel::mousePressEvent(event);
        return;
    }
    SetSunken(true);
    if (m_nPressMs > 0)
        QThread::msleep(static_cast<unsigned long>(m_nPressMs));
    SetSunken(false);
    event->accept();
    emit clicked();
}
