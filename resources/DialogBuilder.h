#pragma once
// Makes the Qt widgets of a dialog template inside a given window.
//
//   CDialogBuilder builder;
//   builder.SetFactory(1032, [](const CControlTemplate&, QWidget* parent) { return new CLedBar(parent); });
//   builder.Build(this, GetDialogTemplate(IDD_RECORDER));
//   auto* record = builder.Find<QPushButton>(1000);
//
// Build sets the window's title, font and fixed client size, then creates every
// control in template (tab) order, places it by mapping dialog units to pixels
// with the dialog font's metrics (x by the average character width / 4, y by the
// character height / 8) and sets its text, image, style and tab stop. A control
// whose id has a factory is made by that factory (any QWidget; a QLabel subclass
// still gets its image, a QAbstractButton its text), then placed like the rest.
//
// Every control also carries its id as the property "controlId" and the object
// name "ctl<id>", so FindControl(window, id) finds it later without the builder.
//
// Kinds (see ControlKind): radio buttons of one group share an exclusive
// QButtonGroup (button->group(); the group's id of a button is its control id).
// An exclusive group refuses to uncheck its checked button: to show none checked,
// call group->setExclusive(false), uncheck, then setExclusive(true).
// Combo boxes with CS_SORTED do not sort by themselves: add entries with
// CDialogBuilder::AddString, which inserts in the case-insensitive order the
// sorted list keeps, and find them with FindStringExact. The combo box's dropped
// list shows as many entries as the template's list height holds.
// Of several default push buttons, the first in template order becomes the
// window's QPushButton::setDefault button, so a hidden default button makes Enter
// do nothing unless a visible button has the focus.
// Trackbars are vertical QSliders with their minimum at the top, as the recorder's
// stored values expect; Up and Page Up move towards the minimum.
//
// Window thread only.

#include "resources/DialogTemplate.h"

#include <QFont>
#include <QRect>
#include <QString>
#include <QVariant>

#include <functional>
#include <map>

class QComboBox;
class QWidget;

class CDialogBuilder {
public:
    using Factory = std::function<QWidget*(const CControlTemplate& control, QWidget* parent)>;

    CDialogBuilder() = default;

    // Makes control `id` with `factory` instead of the kind's standard widget.
    void SetFactory(int id, Factory factory);

    // Builds the template into `dialog` (a QDialog or any QWidget). Returns the
    // controls by id (those with id -1 are made but not listed).
    const std::map<int, QWidget*>& Build(QWidget* dialog, const CDialogTemplate& dialogTemplate);

    // The control with this id from the last Build, or nullptr.
    QWidget* FindControl(int id) const;
    template <class T>
    T* Find(int id) const { return qobject_cast<T*>(FindControl(id)); }

    // Pixels per 4 horizontal and per 8 vertical dialog units of the last Build.
    int BaseUnitX() const { return m_nBaseUnitX; }
    int BaseUnitY() const { return m_nBaseUnitY; }

    // A rectangle in dialog units as pixels, with the last Build's font.
    QRect MapDialogRect(const QRect& dialogUnits) const;

    // --- helpers that need no builder ---

    // The dialog font of a template: its face mapped to an installed one, in points.
    static QFont DialogFont(const CDialogTemplate& dialogTemplate);
    // A font like one made by face name and cell height in pixels (e.g. "MS Serif",
    // 14, weight 600): the face mapped to an installed one, sized so that its line
    // height is `pixelHeight`. Weight on the 100..900 scale (QFont::Weight).
    static QFont MakeFont(const char* face, int pixelHeight, int weight);
    // The installed family that stands in for a face name ("MS Sans Serif" -> a sans
    // serif, "MS Serif" -> a serif).
    static QString MapFontFamily(const char* face);
    // Dialog base units of a font: average width of the letters A-Z and a-z, and height.
    static void BaseUnits(const QFont& font, int* baseUnitX, int* baseUnitY);
    // Dialog units to pixels for given base units, rounding like the platform does.
    static QRect MapDialogRect(const QRect& dialogUnits, int baseUnitX, int baseUnitY);

    // Adds an entry: in sorted position when the box was built with CS_SORTED, else
    // at the end. Returns its index.
    static int AddString(QComboBox* box, const QString& text, const QVariant& data = QVariant());
    // Index of the entry whose text equals `text` ignoring case, or -1.
    static int FindStringExact(const QComboBox* box, const QString& text);

private:
    std::map<int, Factory> m_factories;
    std::map<int, QWidget*> m_controls;
    int m_nBaseUnitX = 6;
    int m_nBaseUnitY = 13;
};

// The control with this id under `window` (made by CDialogBuilder), or nullptr.
QWidget* FindControl(const QWidget* window, int id);
template <class T>
T* FindControl(const QWidget* window, int id) { return qobject_cast<T*>(FindControl(window, id)); }
