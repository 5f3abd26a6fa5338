#include "resources/DialogBuilder.h"

#include "resources/Artwork.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>

#include <cmath>

namespace {

const char* const kIdProperty = "controlId";
const char* const kSortedProperty = "cadenzoSorted";

// Installed stand-ins, nearest first, for the faces the templates name.
// DejaVu Sans first: its letters are wider, but so is its average character width,
// so texts keep their room in dialog units, and its line height stays 13 pixels at 8 points.
const char* const kSansFamilies[] = {"DejaVu Sans", "Liberation Sans", "Nimbus Sans", "Arial", "Helvetica"};
const char* const kSerifFamilies[] = {"DejaVu Serif", "Liberation Serif", "Nimbus Roman", "Times New Roman"};

// Icons in buttons leave a few pixels of the button's face around them.
int ButtonIconSize(const QSize& buttonSize)
{
    int side = std::min(buttonSize.width(), buttonSize.height()) - 6;
    return std::max(8, std::min(32, side));
}

// Integer a * b / c rounded to nearest, as the platform's dialog-unit mapping does.
int MulDiv(int a, int b, int c)
{
    return static_cast<int>(std::lround(static_cast<double>(a) * b / c));
}

}  // namespace

void CDialogBuilder::SetFactory(int id, Factory factory)
{
    m_factories[id] = std::move(factory);
}

QString CDialogBuilder::MapFontFamily(const char* face)
{
    const QString name = QString::fromUtf8(face ? face : "");
    const bool serif = name.contains(QLatin1String("Serif"), Qt::CaseInsensitive) &&
                       !name.contains(QLatin1String("Sans"), Qt::CaseInsensitive);
    const QStringList installed = QFontDatabase::families();
    if (serif) {
        for (const char* family : kSerifFamilies)
            if (installed.contains(QLatin1String(family)))
                return QLatin1String(family);
        return QStringLiteral("Serif");
    }
    for (const char* family : kSansFamilies)
        if (installed.contains(QLatin1String(family)))
            return QLatin1String(family);
    return QStringLiteral("Sans Serif");
}

QFont CDialogBuilder::DialogFont(const CDialogTemplate& dialogTemplate)
{
    QFont font(MapFontFamily(dialogTemplate.m_szFontFace));
    font.setPointSize(dialogTemplate.m_nPointSize);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

QFont CDialogBuilder::MakeFont(const char* face, int pixelHeight, int weight)
{
    QFont font(MapFontFamily(face));
    font.setWeight(static_cast<QFont::Weight>(std::max(1, std::min(1000, weight))));
    // The cell height includes the line's leading; shrink the em size until the
    // line height fits, never below 6 pixels.
    int size = std::max(1, pixelHeight);
    font.setPixelSize(size);
    while (size > 6 && QFontMetrics(font).height() > pixelHeight) {
        --size;
        font.setPixelSize(size);
    }
    return font;
}

void CDialogBuilder::BaseUnits(const QFont& font, int* baseUnitX, int* baseUnitY)
{
    const QFontMetrics metrics(font);
    const int letters =
        metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    // (width / 26 + 1) / 2: the average letter width, rounded.
    *baseUnitX = std::max(1, (letters / 26 + 1) / 2);
    *baseUnitY = std::max(1, metrics.height());
}

QRect CDialogBuilder::MapDialogRect(const QRect& du, int baseUnitX, int baseUnitY)
{
    const int left = MulDiv(du.x(), baseUnitX, 4);
    const int top = MulDiv(du.y(), baseUnitY, 8);
    const int right = MulDiv(du.x() + du.width(), baseUnitX, 4);
    const int bottom = MulDiv(du.y() + du.height(), baseUnitY, 8);
    return QRect(left, top, right - left, bottom - top);
}

QRect CDialogBuilder::MapDialogRect(const QRect& dialogUnits) const
{
    return MapDialogRect(dialogUnits, m_nBaseUnitX, m_nBaseUnitY);
}

QWidget* CDialogBuilder::FindControl(int id) const
{
    auto it = m_controls.find(id);
    return it == m_controls.end() ? nullptr : it->second;
}

int CDialogBuilder::AddString(QComboBox* box, const QString& text, const QVariant& data)
{
    if (!box)
        return -1;
    int index = box->count();
    if (box->property(kSortedProperty).toBool()) {
        // After any entries that compare equal, as the sorted list does.
        index = 0;
        while (index < box->count() && QString::compare(box->itemText(index), text, Qt::CaseInsensitive) <= 0)
            ++index;
    }
    box->insertItem(index, text, data);
    return index;
}

int CDialogBuilder::FindStringExact(const QComboBox* box, const QString& text)
{
    if (!box)
        return -1;
    for (int i = 0; i < box->count(); ++i)
        if (QString::compare(box->itemText(i), text, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

const std::map<int, QWidget*>& CDialogBuilder::Build(QWidget* dialog, const CDialogTemplate& dialogTemplate)
{
    m_controls.clear();
    const QFont font = DialogFont(dialogTemplate);
    dialog->setFont(font);
    dialog->setWindowTitle(QString::fromUtf8(dialogTemplate.m_szCaption));
    BaseUnits(font, &m_nBaseUnitX, &m_nBaseUnitY);

    Qt::WindowFlags flags = dialog->windowFlags();
    flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    flags &= ~(Qt::WindowMaximizeButtonHint | Qt::WindowContextHelpButtonHint);
    if (dialogTemplate.m_nStyle & DS_SYSMENU)
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    else
        flags &= ~(Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    if (dialogTemplate.m_nStyle & DS_MINIMIZEBOX)
        flags |= Qt::WindowMinimizeButtonHint;
    else
        flags &= ~Qt::WindowMinimizeButtonHint;
    if (dialog->isWindow())
        dialog->setWindowFlags(flags);
    const QRect client = MapDialogRect(QRect(0, 0, dialogTemplate.m_nWidth, dialogTemplate.m_nHeight));
    dialog->setFixedSize(client.size());

    bool defaultSet = false;
    QButtonGroup* radioGroup = nullptr;
    QList<QWidget*> groupBoxes;
    QWidget* previousTab = nullptr;

    for (const CControlTemplate& control : dialogTemplate.m_controls) {
        const QRect rect =
            MapDialogRect(QRect(control.m_nX, control.m_nY, control.m_nWidth, control.m_nHeight));
        const QString text = QString::fromUtf8(control.m_szText ? control.m_szText : "");
        const unsigned style = control.m_nStyle;
        QWidget* widget = nullptr;

        auto factory = m_factories.find(control.m_nId);
        if (control.m_nId != -1 && factory != m_factories.end() && factory->second)
            widget = factory->second(control, dialog);

        if (control.m_kind != ControlKind::RadioButton)
            radioGroup = nullptr;

        if (!widget) {
            switch (control.m_kind) {
            case ControlKind::PushButton:
            case ControlKind::PushLikeCheckBox: {
                auto* button = new QPushButton(dialog);
                button->setCheckable(control.m_kind == ControlKind::PushLikeCheckBox);
                widget = button;
                break;
            }
            case ControlKind::CheckBox: {
                auto* box = new QCheckBox(dialog);
                if (style & CS_TEXT_LEFT)
                    box->setLayoutDirection(Qt::RightToLeft);
                widget = box;
                break;
            }
            case ControlKind::RadioButton:
                widget = new QRadioButton(dialog);
                break;
            case ControlKind::GroupBox:
                widget = new QGroupBox(dialog);
                break;
            case ControlKind::Label:
            case ControlKind::BitmapStatic:
            case ControlKind::IconStatic:
                widget = new QLabel(dialog);
                break;
            case ControlKind::FrameStatic:
                widget = new QFrame(dialog);
                break;
            case ControlKind::DropDownList:
            case ControlKind::DropDownCombo:
                widget = new QComboBox(dialog);
                break;
            case ControlKind::VerticalTrackbar:
                widget = new QSlider(Qt::Vertical, dialog);
                break;
            }
        }

        widget->setProperty(kIdProperty, control.m_nId);
        if (control.m_nId != -1) {
            widget->setObjectName(QStringLiteral("ctl%1").arg(control.m_nId));
            m_controls[control.m_nId] = widget;
        }
        widget->setGeometry(rect);

        // Content and style by what the widget is.
        if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            if ((style & CS_ICON) && control.m_nImageId) {
                const int side = ButtonIconSize(rect.size());
                button->setIcon(LoadIcon(control.m_nImageId));
                button->setIconSize(QSize(side, side));
                button->setAccessibleName(text);
            } else {
                button->setText(text);
            }
            if (auto* push = qobject_cast<QPushButton*>(button)) {
                push->setAutoDefault(true);
                if ((style & CS_DEFAULT) && !defaultSet) {
                    push->setDefault(true);
                    defaultSet = true;
                }
            }
            if (auto* radio = qobject_cast<QRadioButton*>(button)) {
                if (!radioGroup || (style & CS_GROUP)) {
                    radioGroup = new QButtonGroup(dialog);
                    radioGroup->setExclusive(true);
                }
                radioGroup->addButton(radio, control.m_nId);
            }
        } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
            group->setTitle(text);
            if (style & CS_CENTER)
                group->setAlignment(Qt::AlignHCenter);
            groupBoxes.append(group);
        } else if (auto* label = qobject_cast<QLabel*>(widget)) {
            if (control.m_kind == ControlKind::BitmapStatic && control.m_nImageId) {
                // The picture sits in the middle of its place, which keeps the
                // window's balance when the font's units differ from the picture's.
                label->setPixmap(LoadBitmap(control.m_nImageId));
                label->setAlignment(Qt::AlignCenter);
            } else if (control.m_kind == ControlKind::IconStatic && control.m_nImageId) {
                label->setPixmap(LoadIconPixmap(control.m_nImageId, 32));
                label->setAlignment(Qt::AlignCenter);
                const int frame = (style & CS_RAISED_FRAME) ? 2 : 0;
                label->resize(32 + 2 * frame, 32 + 2 * frame);
            } else {
                label->setTextFormat(Qt::PlainText);
                label->setText(text);
                Qt::Alignment align = Qt::AlignLeft;
                if (style & CS_CENTER)
                    align = Qt::AlignHCenter;
                else if (style & CS_RIGHT)
                    align = Qt::AlignRight;
                align |= (style & CS_VCENTER) ? Qt::AlignVCenter : Qt::AlignTop;
                label->setAlignment(align);
            }
            if (style & CS_SUNKEN_EDGE) {
                label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
                label->setLineWidth(1);
            } else if (style & CS_RAISED_FRAME) {
                label->setFrameStyle(QFrame::Panel | QFrame::Raised);
                label->setLineWidth(2);
            }
        } else if (auto* box = qobject_cast<QComboBox*>(widget)) {
            box->setProperty(kSortedProperty, (style & CS_SORTED) != 0);
            if (control.m_kind == ControlKind::DropDownCombo) {
                box->setEditable(true);
                box->setInsertPolicy(QComboBox::NoInsert);
                box->setCompleter(nullptr);
            }
            // The template's height is that of the dropped list; the box itself is one line.
            const int lineHeight = box->sizeHint().height();
            box->resize(rect.width(), lineHeight);
            const int itemHeight = std::max(1, QFontMetrics(box->font()).height() + 2);
            box->setMaxVisibleItems(std::max(1, (rect.height() - lineHeight) / itemHeight));
        } else if (auto* slider = qobject_cast<QSlider*>(widget)) {
            slider->setOrientation(Qt::Vertical);
            slider->setInvertedAppearance(true);
            slider->setInvertedControls(true);
            slider->setTickPosition((style & CS_TICKS_BOTH) ? QSlider::TicksBothSides : QSlider::TicksRight);
        }

        if (style & CS_TABSTOP) {
            widget->setFocusPolicy(Qt::StrongFocus);
            if (previousTab)
                QWidget::setTabOrder(previousTab, widget);
            previousTab = widget;
        } else if (qobject_cast<QAbstractButton*>(widget) || qobject_cast<QSlider*>(widget) ||
                   qobject_cast<QComboBox*>(widget)) {
            // Reached by the mouse only, like a control without a tab stop.
            widget->setFocusPolicy(Qt::ClickFocus);
        } else {
            widget->setFocusPolicy(Qt::NoFocus);
        }
        widget->setVisible(!(style & CS_HIDDEN));
    }

    for (QWidget* group : groupBoxes)
        group->lower();
    return m_controls;
}

QWidget* FindControl(const QWidget* window, int id)
{
    if (!window || id == -1)
        return nullptr;
    return window->findChild<QWidget*>(QStringLiteral("ctl%1").arg(id));
}
