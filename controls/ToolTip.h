#pragma once
// The tooltip control of a window: shows a string of the string table while the
// mouse rests on a control (a window tool) or on a rectangle of a window (a
// rectangle tool, for areas that are not a control of their own, like the LED bars).
//
//   m_toolTip.Create(this);
//   m_toolTip.AddWindowTool(FindControl(this, 57673), 107);
//   m_toolTip.AddRectTool(this, 109, ledLeft->geometry(), 1032);
//   m_toolTip.Activate(true);
//
// Works by an event filter on each tool's window that answers QEvent::ToolTip, so
// the tools do not touch the controls' own toolTip property. TextAt tells which
// text a point would show, for tests and for the window itself.
// Window thread only.

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QString>

#include <vector>

class QWidget;

class CToolTip : public QObject {
    Q_OBJECT
public:
    explicit CToolTip(QObject* parent = nullptr);
    ~CToolTip() override;

    // Names the owner window (the tool windows are its controls). Returns true.
    bool Create(QWidget* owner);
    // Turns showing on or off for every tool (on after construction).
    void Activate(bool active);
    bool IsActive() const { return m_bActive; }

    // A tool for the whole of `control`, showing string `stringId`. Returns false
    // (adding nothing) for a null control or an unknown string.
    bool AddWindowTool(QWidget* control, int stringId);
    // A tool for `rect` of `window`, in the window's client coordinates, showing
    // string `stringId`, known by `toolId`. Returns false for a null window or an
    // unknown string. Adding a tool id that the window already has replaces it.
    bool AddRectTool(QWidget* window, int stringId, const QRect& rect, int toolId);

    // The text shown at `point` of `window` (its client coordinates): a rectangle
    // tool's of that window, else the window tool's of the window itself; empty if
    // none (or when not active).
    QString TextAt(const QWidget* window, const QPoint& point) const;
    // Number of tools.
    int ToolCount() const { return static_cast<int>(m_tools.size()); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct CTool {
        QPointer<QWidget> m_pWindow;
        bool m_bWholeWindow;
        QRect m_rect;      // rectangle tools only
        int m_nToolId;     // rectangle tools only
        QString m_strText;
    };
    const CTool* FindTool(const QWidget* window, const QPoint& point, QRect* area) const;
    void Watch(QWidget* window);

    QPointer<QWidget> m_pOwner;
    std::vector<CTool> m_tools;
    bool m_bActive = true;
};
