// The builder places every control of the three templates by dialog units, makes
// the right widget for each kind, finds controls by id, and the texts fit.
#include "resources/Artwork.h"
#include "resources/DialogBuilder.h"
#include "resources/ResourceIds.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionButton>
#include <QtTest>

#include <set>
#include <stdexcept>

namespace {

class CCustomFrame : public QFrame {
public:
    using QFrame::QFrame;
};

// A window built from one template.
struct Built {
    QDialog dialog;
    CDialogBuilder builder;
    explicit Built(int nTemplateId) { builder.Build(&dialog, GetDialogTemplate(nTemplateId)); }
};

// One row per template.
void AddTemplateRows()
{
    QTest::addColumn<int>("templateId");
    QTest::newRow("About") << IDD_ABOUTBOX;
    QTest::newRow("main") << IDD_RECORDER;
    QTest::newRow("settings") << IDD_CUSTOM_SETTINGS;
}

}  // namespace

class DialogBuilderTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { InitResources(); }

    // Dialog units scale by base unit / 4 across and / 8 down, rounded, with the
    // right and bottom edges mapped on their own so neighbours never overlap.
    void MapDialogRect_ScalesByBaseUnits()
    {
        QCOMPARE(CDialogBuilder::MapDialogRect(QRect(21, 50, 175, 112), 6, 13), QRect(32, 81, 262, 182));
        QCOMPARE(CDialogBuilder::MapDialogRect(QRect(0, 0, 4, 8), 7, 15), QRect(0, 0, 7, 15));
        QCOMPARE(CDialogBuilder::MapDialogRect(QRect(231, 42, 9, 110), 6, 13), QRect(347, 68, 13, 179));
        // Two controls side by side in dialog units stay side by side in pixels.
        const QRect left = CDialogBuilder::MapDialogRect(QRect(217, 150, 13, 13), 7, 14);
        const QRect right = CDialogBuilder::MapDialogRect(QRect(230, 150, 13, 13), 7, 14);
        QCOMPARE(left.right() + 1, right.left());
    }

    void BaseUnits_ComeFromTheDialogFont()
    {
        const QFont font = CDialogBuilder::DialogFont(GetDialogTemplate(IDD_RECORDER));
        int x = 0, y = 0;
        CDialogBuilder::BaseUnits(font, &x, &y);
        const QFontMetrics metrics(font);
        QCOMPARE(y, metrics.height());
        const int letters = metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
        QVERIFY(qAbs(x * 52 - letters) <= 52);
        QVERIFY(x >= 4 && x <= 10);
    }

    void Build_PlacesEveryControlAndSizesTheWindow_data() { AddTemplateRows(); }
    void Build_PlacesEveryControlAndSizesTheWindow()
    {
        QFETCH(int, templateId);
        const CDialogTemplate& dialogTemplate = GetDialogTemplate(templateId);
        QDialog dialog;
        CDialogBuilder builder;
        const auto& controls = builder.Build(&dialog, dialogTemplate);
        QCOMPARE(dialog.windowTitle(), QString::fromUtf8(dialogTemplate.m_szCaption));
        QCOMPARE(dialog.size(), builder.MapDialogRect(QRect(0, 0, dialogTemplate.m_nWidth, dialogTemplate.m_nHeight)).size());

        std::set<int> ids;
        for (const CControlTemplate& control : dialogTemplate.m_controls) {
            if (control.m_nId == -1)
                continue;
            QVERIFY2(ids.insert(control.m_nId).second, "control ids are unique within a template");
            QWidget* widget = builder.FindControl(control.m_nId);
            QVERIFY(widget);
            QCOMPARE(FindControl(&dialog, control.m_nId), widget);
            QCOMPARE(controls.at(control.m_nId), widget);
            QCOMPARE(widget->property("controlId").toInt(), control.m_nId);
            const QRect expected = builder.MapDialogRect(QRect(control.m_nX, control.m_nY, control.m_nWidth, control.m_nHeight));
            QCOMPARE(widget->pos(), expected.topLeft());
            // Icons and one-line combo boxes take their own heights.
            if (control.m_kind != ControlKind::IconStatic) {
                QCOMPARE(widget->width(), expected.width());
                if (control.m_kind != ControlKind::DropDownList && control.m_kind != ControlKind::DropDownCombo)
                    QCOMPARE(widget->height(), expected.height());
            }
            QCOMPARE(widget->isHidden(), (control.m_nStyle & CS_HIDDEN) != 0);
        }
        QCOMPARE(ids.size(), controls.size());
        QVERIFY(!builder.FindControl(4242));
        QVERIFY(!FindControl(&dialog, -1));
    }

    void GetDialogTemplate_RefusesUnknownIds()
    {
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, GetDialogTemplate(101));
    }

    void MainWindow_KindsAndStyles()
    {
        Built w(IDD_RECORDER);
        auto* record = w.builder.Find<QPushButton>(1000);
        QVERIFY(record);
        QVERIFY(record->text().isEmpty());
        QVERIFY(!record->icon().isNull());
        QCOMPARE(record->accessibleName(), QString("Record"));
        QCOMPARE(record->focusPolicy(), Qt::StrongFocus);

        // Only the hidden button is the default, so Enter never reaches Exit (the main
        // window's test presses Enter).
        auto* hiddenDefault = w.builder.Find<QPushButton>(1012);
        QVERIFY(hiddenDefault->isDefault());
        QVERIFY(!w.builder.Find<QPushButton>(1)->isDefault());

        auto* background = w.builder.Find<QCheckBox>(1031);
        QCOMPARE(background->layoutDirection(), Qt::RightToLeft);
        QCOMPARE(background->text(), QString("Background"));

        auto* presets = w.builder.Find<QComboBox>(1003);
        QVERIFY(!presets->isEditable());
        QCOMPARE(presets->focusPolicy(), Qt::ClickFocus);  // no tab stop
        QCOMPARE(w.builder.Find<QComboBox>(1002)->focusPolicy(), Qt::StrongFocus);

        auto* status = w.builder.Find<QLabel>(1015);
        QCOMPARE(status->frameShadow(), QFrame::Sunken);
        QVERIFY(status->alignment() & Qt::AlignVCenter);

        auto* picture = w.builder.Find<QLabel>(1033);
        QCOMPARE(picture->pixmap().size(), QSize(114, 114));
        QCOMPARE(picture->alignment(), Qt::AlignCenter);
        QVERIFY(!picture->pixmap().isNull());

        QVERIFY(w.builder.Find<QFrame>(1032));
        QCOMPARE(w.builder.Find<QLabel>(1010)->frameShadow(), QFrame::Raised);

        // Group boxes lie under the controls they frame: a click inside reaches the list.
        w.dialog.show();
        const QWidget* hit = w.dialog.childAt(presets->geometry().center());
        QVERIFY(hit == presets || presets->isAncestorOf(hit));
        auto* info = w.builder.Find<QGroupBox>(1019);
        hit = w.dialog.childAt(w.builder.FindControl(1015)->geometry().center());
        QVERIFY(hit != info);
    }

    void SettingsWindow_SlidersRadiosAndCombo()
    {
        Built w(IDD_CUSTOM_SETTINGS);
        QVERIFY(!(w.dialog.windowFlags() & Qt::WindowCloseButtonHint));

        auto* gapSize = w.builder.Find<QSlider>(1020);
        QCOMPARE(gapSize->orientation(), Qt::Vertical);
        QCOMPARE(gapSize->tickPosition(), QSlider::TicksBothSides);
        // Minimum at the top: Up moves towards the minimum.
        gapSize->setRange(-3880, -353);
        gapSize->setPageStep(352);
        gapSize->setValue(-1764);
        gapSize->setFocus();
        QTest::keyClick(gapSize, Qt::Key_Up);
        QVERIFY(gapSize->value() < -1764);
        QTest::keyClick(gapSize, Qt::Key_PageDown);
        QVERIFY(gapSize->value() > -1764);

        auto* dcBlock = w.builder.Find<QPushButton>(1022);
        QVERIFY(dcBlock->isCheckable());

        // Two groups of radio buttons: rates and the hidden bit depths.
        auto* rate11 = w.builder.Find<QRadioButton>(1041);
        auto* rate48 = w.builder.Find<QRadioButton>(1037);
        auto* bits16 = w.builder.Find<QRadioButton>(1038);
        auto* bits24 = w.builder.Find<QRadioButton>(1039);
        QVERIFY(rate11->group() && bits16->group());
        QCOMPARE(rate11->group(), rate48->group());
        QCOMPARE(bits16->group(), bits24->group());
        QVERIFY(rate11->group() != bits16->group());
        QCOMPARE(rate11->group()->buttons().size(), 4);
        QCOMPARE(rate11->group()->id(rate48), 1037);

        auto* presetBox = w.builder.Find<QComboBox>(1003);
        QVERIFY(presetBox->isEditable());
        QCOMPARE(presetBox->insertPolicy(), QComboBox::NoInsert);
        QVERIFY(!w.builder.Find<QPushButton>(57673)->icon().isNull());
        QVERIFY(w.builder.Find<QPushButton>(1012)->isDefault());
        QVERIFY(w.builder.Find<QPushButton>(1012)->isHidden());
    }

    void Factory_MakesTheControlAndTheBuilderPlacesIt()
    {
        QDialog dialog;
        CDialogBuilder builder;
        int calls = 0;
        builder.SetFactory(1032, [&calls](const CControlTemplate& control, QWidget* parent) -> QWidget* {
            ++calls;
            QWidget* frame = new CCustomFrame(parent);
            frame->setProperty("madeFor", control.m_nId);
            return frame;
        });
        builder.Build(&dialog, GetDialogTemplate(IDD_RECORDER));
        QCOMPARE(calls, 1);
        QWidget* bar = builder.FindControl(1032);
        QVERIFY(dynamic_cast<CCustomFrame*>(bar));
        QCOMPARE(bar->parentWidget(), &dialog);
        QCOMPARE(bar->property("madeFor").toInt(), 1032);
        QCOMPARE(bar->geometry(), builder.MapDialogRect(QRect(231, 42, 9, 110)));
        QVERIFY(!dynamic_cast<CCustomFrame*>(builder.FindControl(1034)));
    }

    void SortedCombo_AddStringKeepsOrderAndFindIgnoresCase()
    {
        Built w(IDD_RECORDER);
        auto* presets = w.builder.Find<QComboBox>(1003);
        QCOMPARE(CDialogBuilder::AddString(presets, "Tape"), 0);
        QCOMPARE(CDialogBuilder::AddString(presets, "album/Tape", 7), 0);
        QCOMPARE(CDialogBuilder::AddString(presets, "Broadcast"), 1);
        QCOMPARE(CDialogBuilder::AddString(presets, "zz"), 3);
        QCOMPARE(presets->itemText(0), QString("album/Tape"));
        QCOMPARE(presets->itemData(0).toInt(), 7);
        QCOMPARE(CDialogBuilder::FindStringExact(presets, "ALBUM/TAPE"), 0);
        QCOMPARE(CDialogBuilder::FindStringExact(presets, "Album"), -1);

        auto* baseNames = w.builder.Find<QComboBox>(1002);  // unsorted
        CDialogBuilder::AddString(baseNames, "b.wav");
        QCOMPARE(CDialogBuilder::AddString(baseNames, "a.wav"), 1);
    }

    // Every text of every template fits its control with the font the platform gives.
    void Texts_FitTheirControls_data() { AddTemplateRows(); }
    void Texts_FitTheirControls()
    {
        QFETCH(int, templateId);
        Built w(templateId);
        for (QWidget* widget : w.dialog.findChildren<QWidget*>()) {
            const QFontMetrics metrics(widget->font());
            QString text;
            int room = widget->width();
            if (auto* label = qobject_cast<QLabel*>(widget)) {
                text = label->text();
                room -= 2 * label->frameWidth();
            } else if (auto* radio = qobject_cast<QRadioButton*>(widget)) {
                text = radio->text();
                room -= widget->style()->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, widget) +
                        widget->style()->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, nullptr, widget);
            } else if (auto* check = qobject_cast<QCheckBox*>(widget)) {
                text = check->text();
                room -= widget->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, widget) +
                        widget->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, widget);
            } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
                text = button->text();
                room -= 2 * widget->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, widget) / 2 + 4;
                if (!button->icon().isNull())
                    QVERIFY(button->iconSize().width() <= button->width() - 4);
            } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
                text = group->title();
                room -= 16;
            }
            if (text.isEmpty() || widget->isHidden())
                continue;
            const int needed = metrics.horizontalAdvance(text);
            QVERIFY2(needed <= room, qPrintable(QString("\"%1\" needs %2 px, has %3").arg(text).arg(needed).arg(room)));
            QVERIFY2(metrics.height() <= widget->height(), qPrintable(text));
        }
    }
};

QTEST_MAIN(DialogBuilderTest)
#include "DialogBuilderTest.moc"
