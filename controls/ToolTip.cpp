#include "controls/ToolTip.h"

#include "resources/Strings.h"

#include <QHelpEvent>
#include <QToolTip>
#include <QWidget>

CToolTip::CToolTip(QObject* parent) : QObject(parent) {}

CToolTip::~CToolTip()
{
    for (const CTool& tool : m_tools)
        if (tool.m_pWindow)
            tool.m_pWindow->removeEventFilter(this);
}

bool CToolTip::Create(QWidget* owner)
{
    m_pOwner = owner;
    return true;
}

void CToolTip::Activate(bool active)
{
    m_bActive = active;
    if (!active)
        QToolTip::hideText();
}

void CToolTip::Watch(QWidget* window)
{
    // Installing twice would call the filter twice; remove first to keep one.
    window->removeEventFilter(this);
    window->installEventFilter(this);
}

bool CToolTip::AddWindowTool(QWidget* control, int stringId)
{
    const QString text = LoadString(stringId);
    if (!control || text.isEmpty())
        return false;
    for (CTool& tool : m_tools) {
        if (tool.m_bWholeWindow && tool.m_pWindow == control) {
            tool.m_strText = text;
            return true;
        }
    }
    m_tools.push_back({control, true, QRect(), 0, text});
    Watch(control);
    return true;
}

bool CToolTip::AddRectTool(QWidget* window, int stringId, const QRect& rect, int toolId)
{
    const QString text = LoadString(stringId);
    if (!window || text.isEmpty())
        return false;
    for (CTool& tool : m_tools) {
        if (!tool.m_bWholeWindow && tool.m_pWindow == window && tool.m_nToolId == toolId) {
            tool.m_rect = rect;
            tool.m_strText = text;
            return true;
        }
    }
    m_tools.push_back({window, false, rect, toolId, text});
    Watch(window);
    return true;
}

const CToolTip::CTool* CToolTip::FindTool(const QWidget* window, const QPoint& point, QRect* area) const
{
    // Rectangle tools first: they name parts of a window more closely than the window.
    for (const CTool& tool : m_tools) {
        if (!tool.m_bWholeWindow && tool.m_pWindow == window && tool.m_rect.contains(point)) {
            *area = tool.m_rect;
            return &tool;
        }
    }
    for (const CTool& tool : m_tools) {
        if (tool.m_bWholeWindow && tool.m_pWindow == window && window->rect().contains(point)) {
            *area = window->rect();
            return &tool;
        }
    }
    return nullptr;
}

QString CToolTip::TextAt(const QWidget* window, const QPoint& point) const
{
    if (!m_bActive || !window)
        return QString();
    QRect area;
    const CTool* tool = FindTool(window, point, &area);
    return tool ? tool->m_strText : QString();
}

bool CToolTip::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::ToolTip && m_bActive) {
        auto* window = qobject_cast<QWidget*>(watched);
        auto* help = static_cast<QHelpEvent*>(event);
        QRect area;
        const CTool* tool = window ? FindTool(window, help->pos(), &area) : nullptr;
        if (tool) {
            // The tip goes away when the mouse leaves the tool's area.
            QToolTip::showText(help->globalPos(), tool->m_strText, window, area);
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}
