// The main window without a recording: its start state, the base file list, the preset
// list, the settings window, the small commands and the Exit sequence.
#include "app/RecorderDlg.h"

#include "app/RecorderApp.h"

#include "AppTestSupport.h"
#include "ScriptedPrompt.h"

#include "controls/AboutDlg.h"
#include "controls/PressIcon.h"
#include "controls/ToolTip.h"
#include "resources/DialogBuilder.h"
#include "resources/Help.h"
#include "resources/ResourceIds.h"
#include "settings/CustomSettingsDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTextBrowser>
#include <QTextDocument>
#include <QtTest>

#include <memory>

namespace {

QComboBox* Box(CRecorderDlg& dlg, int id) { return qobject_cast<QComboBox*>(dlg.GetControl(id)); }
QPushButton* Button(CRecorderDlg& dlg, int id) { return qobject_cast<QPushButton*>(dlg.GetControl(id)); }

// The settings window's device list without asking the sound system: the window then
// offers only the system default device.
int ListNoDevices() { return 1; }

QStringList Entries(QComboBox* box)
{
    QStringList texts;
    for (int i = 0; i < box->count(); ++i) texts << box->itemText(i);
    return texts;
}

CSettingsValues Values(int32_t gapSize, int32_t gapLevel, int32_t minSong, int32_t endGap, int32_t rate,
                       int16_t bits, int32_t device)
{
    CSettingsValues v;
    v.m_nGapSize = gapSize;
    v.m_nGapLevel = gapLevel;
    v.m_nMinSong = minSong;
    v.m_nEndGap = endGap;
    v.m_nSamplesPerSec = rate;
    v.m_nBitsPerSample = bits;
    v.m_nWaveInID = device;
    return v;
}

// A private store and preset folder, the scripted prompt, and the window opened on them.
struct CFixture {
    CAppTestPlace place;
    CScriptedPrompt prompt;
    std::unique_ptr<CRecorderDlg> pDlg;

    CRecorderDlg& Open()
    {
        pDlg = std::make_unique<CRecorderDlg>(&prompt, place.store.get(), place.Dir());
        return *pDlg;
    }
};

}  // namespace

class TestRecorderDlg : public QObject {
    Q_OBJECT
private slots:
    void EmptyStore_StartsIdleWithDefaults()
    {
        CFixture f;
        WritePresetFile(f.place.Dir(), {{"Rock", DefaultValues()}, {"Album/Tape", DefaultValues()}, {"Voice", DefaultValues()}});
        CRecorderDlg& dlg = f.Open();
        dlg.show();

        QCOMPARE(dlg.windowTitle(), QString("Novu Cadenzo"));
        QCOMPARE(Box(dlg, 1002)->count(), 0);
        QCOMPARE(std::string(dlg.GetWaveFile().GetFileName()), std::string());
        // The preset box is sorted and shows the stored (default) preset, not applied.
        QCOMPARE(Entries(Box(dlg, 1003)), QStringList({"Album/Tape", "Rock", "Voice"}));
        QCOMPARE(Box(dlg, 1003)->currentText(), QString("Album/Tape"));
        QCOMPARE(std::string(dlg.GetPresetName()), std::string("Album/Tape"));
        QVERIFY(dlg.GetSettingsValues() == DefaultValues());
        // Coloured scheme: white on dark purple; combo boxes green on black, status red on black.
        QVERIFY(qobject_cast<QCheckBox*>(dlg.GetControl(1031))->isChecked());
        QCOMPARE(dlg.GetBackgroundColour(), 0x0250003Cu);
        QCOMPARE(dlg.palette().color(QPalette::Window), QColor(60, 0, 80));
        QCOMPARE(dlg.palette().color(QPalette::WindowText), QColor(255, 255, 255));
        QCOMPARE(Box(dlg, 1002)->palette().color(QPalette::ButtonText), QColor(50, 200, 50));
        QCOMPARE(Box(dlg, 1003)->palette().color(QPalette::Button), QColor(0, 0, 0));
        for (int id : {1015, 1016, 1017, 1020}) {
            QCOMPARE(dlg.GetControl(id)->palette().color(QPalette::WindowText), QColor(255, 0, 0));
            QCOMPARE(dlg.GetControl(id)->palette().color(QPalette::Window), QColor(0, 0, 0));
        }
        QVERIFY(!dlg.IsStatusPictureActive());
        QVERIFY(!qobject_cast<QLabel*>(dlg.GetControl(1033))->pixmap().isNull());
        // Idle: Stop disabled, everything else enabled; the meter runs.
        QVERIFY(!Button(dlg, 1011)->isEnabled());
        for (int id : {1000, 1004, 1018, 1, 57670, 1001})
            QVERIFY2(Button(dlg, id)->isEnabled(), qPrintable(QString::number(id)));
        QVERIFY(Box(dlg, 1002)->isEnabled() && Box(dlg, 1003)->isEnabled());
        QVERIFY(dlg.GetMeter().IsRunning());
        QVERIFY(!Button(dlg, 1000)->icon().isNull());
        QVERIFY(f.prompt.boxes.empty());
    }

    void EmptyStore_WithoutAlbumTapePreset_SelectsNothing()
    {
        CFixture f;
        WritePresetFile(f.place.Dir(), {{"Rock", DefaultValues()}});
        CRecorderDlg& dlg = f.Open();
        QCOMPARE(Box(dlg, 1003)->count(), 1);
        QCOMPARE(Box(dlg, 1003)->currentIndex(), -1);
    }

    void PresetNameNotInUtf8_ShownAlikeInBothWindowsAndStoredByteForByte()
    {
        CFixture f;
        const std::string name = "Caf\xE9";  // code page 1252, from an old preset file
        WritePresetFile(f.place.Dir(), {{name, DefaultValues()}});
        f.place.store->setValue("Version 1/Preset", QByteArray::fromStdString(name));
        CRecorderDlg& dlg = f.Open();
        const QString shown = QString::fromUtf8("Caf\xC3\xA9");
        QCOMPARE(Box(dlg, 1003)->currentText(), shown);
        QString inSettings;
        dlg.SetDeviceLister(ListNoDevices);
        dlg.SetDialogRunner([&inSettings](QDialog& settings) {
            qobject_cast<CCustomSettingsDlg*>(&settings)->OnInitDialog();
            inSettings = FindControl<QComboBox>(&settings, 1003)->currentText();
            return int(QDialog::Rejected);
        });
        dlg.OnCustomize();
        QCOMPARE(inSettings, shown);
        dlg.OnOK();
        QCOMPARE(f.place.store->value("Version 1/Preset").toByteArray().toStdString(), name);
    }

    void New_OffersWavPatternOrCurrentPath_CancelChangesNothing()
    {
        CFixture f;
        CRecorderDlg& dlg = f.Open();
        const std::string song = f.place.Path("Song.wav");
        f.prompt.fileAnswers.push_back({song, "Song.wav"});
        QTest::mouseClick(Button(dlg, 1004), Qt::LeftButton);

        QCOMPARE(f.prompt.fileQuestions.size(), size_t(1));
        const auto& q = f.prompt.fileQuestions[0];
        QCOMPARE(q.initialName, std::string("*.wav"));
        QCOMPARE(q.defaultExt, std::string("wav"));
        QCOMPARE(q.filters.size(), size_t(2));
        QCOMPARE(q.filters[0].description, std::string("Windows PCM (*.wav)"));
        QCOMPARE(q.filters[0].pattern, std::string("*.wav"));
        QCOMPARE(q.filters[1].description, std::string("All files (*.*)"));
        QCOMPARE(q.filters[1].pattern, std::string("*.*"));
        // The list shows the file name; the writer has the full path.
        QCOMPARE(Entries(Box(dlg, 1002)), QStringList({"Song.wav"}));
        QCOMPARE(Box(dlg, 1002)->currentIndex(), 0);
        QCOMPARE(std::string(dlg.GetWaveFile().GetFileName()), song);

        // With a base file the dialog starts from its full path; cancelling it changes nothing.
        dlg.OnNew();
        QCOMPARE(f.prompt.fileQuestions.size(), size_t(2));
        QCOMPARE(f.prompt.fileQuestions[1].initialName, song);
        QCOMPARE(Entries(Box(dlg, 1002)), QStringList({"Song.wav"}));
        QCOMPARE(std::string(dlg.GetWaveFile().GetFileName()), song);
    }

    void New_ExistingPath_MovesToTop()
    {
        CFixture f;
        CRecorderDlg& dlg = f.Open();
        for (const char* name : {"A.wav", "B.wav", "C.wav"}) {
            f.prompt.fileAnswers.push_back({f.place.Path(name), ""});
            dlg.OnNew();
        }
        QCOMPARE(Entries(Box(dlg, 1002)), QStringList({"C.wav", "B.wav", "A.wav"}));
        // Choosing A again removes its old entry and puts it on top, selected.
        f.prompt.fileAnswers.push_back({f.place.Path("A.wav"), ""});
        dlg.OnNew();
        QCOMPARE(Entries(Box(dlg, 1002)), QStringList({"A.wav", "C.wav", "B.wav"}));
        QCOMPARE(Box(dlg, 1002)->currentIndex(), 0);
        QCOMPARE(std::string(dlg.GetWaveFile().GetFileName()), f.place.Path("A.wav"));
        // Choosing another entry in the list makes it the base file.
        Box(dlg, 1002)->setCurrentIndex(2);
        dlg.OnSelChangeBaseName();
        QCOMPARE(std::string(dlg.GetWaveFile().GetFileName()), f.place.Path("B.wav"));
    }

    void New_SameNameInAnotherFolder_AddsSecondEntry()
    {
        CFixture f;
        QVERIFY(QDir(f.place.dir.path()).mkdir("other"));
        CRecorderDlg& dlg = f.Open();
        f.prompt.fileAnswers.push_back({f.place.Path("Song.wav"), ""});
        f.prompt.fileAnswers.push_back({f.place.Path("other/Song.wav"), ""});
        dlg.OnNew();
        dlg.OnNew();
        QCOMPARE(Entries(Box(dlg, 1002)), QStringList({"Song.wav", "Song.wav"}));
        QCOMPARE(dlg.GetBaseNamePath(0), f.place.Path("other/Song.wav"));
        QCOMPARE(dlg.GetBaseNamePath(1), f.place.Path("Song.wav"));
        QCOMPARE(std::string(dlg.GetWaveFile().GetFileName()), f.place.Path("other/Song.wav"));
    }

    void Enter_AfterNew_DoesNothing()
    {
        CFixture f;
        CRecorderDlg& dlg = f.Open();
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        f.prompt.fileAnswers.push_back({f.place.Path("Song.wav"), ""});
        dlg.OnNew();
        QTest::keyClick(&dlg, Qt::Key_Return);
        QTest::keyClick(&dlg, Qt::Key_Enter);
        // No recording started, no box, and the window is still open.
        QVERIFY(dlg.isVisible());
        QVERIFY(!dlg.GetSession().IsRecording());
        QVERIFY(f.prompt.boxes.empty());
        QCOMPARE(f.prompt.fileQuestions.size(), size_t(1));
    }

    void Record_WithoutBaseFile_AsksAndOpensNew()
    {
        CFixture f;
        CRecorderDlg& dlg = f.Open();
        f.prompt.fileAnswers.push_back({f.place.Path("Tape.wav"), ""});
        QTest::mouseClick(Button(dlg, 1000), Qt::LeftButton);
        QCOMPARE(f.prompt.boxes.size(), size_t(1));
        QCOMPARE(f.prompt.boxes[0].text, std::string("You need to enter a Base File Name."));
        QCOMPARE(f.prompt.boxes[0].caption, std::string("Missing Destination"));
        QCOMPARE(f.prompt.boxes[0].icon, PromptIcon::Exclamation);
        // Then the New command: the chosen file is the base file, and nothing records yet.
        QCOMPARE(f.prompt.fileQuestions.size(), size_t(1));
        QCOMPARE(Entries(Box(dlg, 1002)), QStringList({"Tape.wav"}));
        QVERIFY(!dlg.GetSession().IsRecording());
        QVERIFY(!Button(dlg, 1011)->isEnabled());
    }

    void Preset_ValidAppliesSilently_OutOfRangeOneErrorPerFailingValue()
    {
        CFixture f;
        // Gap size 5.0006 s, gap level 0 dB and end gap 34 s are refused; the minimum song,
        // the switches, the format and the device are fine.
        CSettingsValues bad = Values(-8821, -32768, -3528, -6000, 48000, 32, 3);
        bad.m_bDCBlock = 0;
        const CSettingsValues voice = Values(-900, -1000, -1764, -882, 22050, 16, -1);
        WritePresetFile(f.place.Dir(), {{"Album/Tape", DefaultValues()}, {"Broken", bad}, {"Voice", voice}});
        CRecorderDlg& dlg = f.Open();
        QComboBox* presets = Box(dlg, 1003);
        // A valid preset applies without a box.
        presets->setCurrentIndex(presets->findText("Voice"));
        dlg.OnSelChangePreset();
        QVERIFY(f.prompt.boxes.empty());
        QVERIFY(dlg.GetSettingsValues() == voice);
        QCOMPARE(dlg.GetSplitter().GetSamplesPerSec(), 22050);
        QCOMPARE(std::string(dlg.GetPresetName()), std::string("Voice"));

        presets->setCurrentIndex(presets->findText("Broken"));
        dlg.OnSelChangePreset();

        QCOMPARE(f.prompt.boxes.size(), size_t(3));
        const char* texts[] = {"Gap size is not between 0.01 and 5 seconds.\n",
                               "Gap level is not between -6 and -144 dB.\n",
                               "End gap is not between 1 and 30 seconds.\n"};
        for (size_t i = 0; i < 3; ++i) {
            QCOMPARE(f.prompt.boxes[i].text, std::string(texts[i]));
            QCOMPARE(f.prompt.boxes[i].caption, std::string("ERROR"));
            QCOMPARE(f.prompt.boxes[i].icon, PromptIcon::Stop);
            QCOMPARE(f.prompt.boxes[i].buttons, PromptButtons::Ok);
        }
        // Every value is applied all the same, the device id included.
        QVERIFY(dlg.GetSettingsValues() == bad);
        QCOMPARE(dlg.GetSplitter().GetDcBlock(), 0);
        QCOMPARE(dlg.GetSplitter().GetSamplesPerSec(), 48000);
        QCOMPARE(int(dlg.GetSplitter().GetBitsPerSample()), 32);
        QCOMPARE(dlg.GetWaveIn().GetDevice(), 3);
        QCOMPARE(std::string(dlg.GetPresetName()), std::string("Broken"));
    }

    void Customize_Done_AppliesValuesAndRefillsPresets()
    {
        CFixture f;
        WritePresetFile(f.place.Dir(), {{"Album/Tape", DefaultValues()}});
        CRecorderDlg& dlg = f.Open();
        dlg.SetDeviceLister(ListNoDevices);
        QString title;
        dlg.SetDialogRunner([&](QDialog& settings) {
            QTimer::singleShot(0, &settings, [&settings, &title] {
                title = settings.windowTitle();
                // The settings window starts from the main window's values.
                QVERIFY(FindControl<QRadioButton>(&settings, 1036)->isChecked());
                QVERIFY(FindControl<QPushButton>(&settings, 1022)->isChecked());
                // 48 kHz, then the current values as a new preset "Live Set", then Done.
                FindControl<QRadioButton>(&settings, 1037)->click();
                auto* box = FindControl<QComboBox>(&settings, 1003);
                box->setEditText("Live Set");
                QTest::mouseClick(FindControl<QPushButton>(&settings, 57673), Qt::LeftButton);
                QTest::mouseClick(FindControl<QPushButton>(&settings, 1), Qt::LeftButton);
            });
            return settings.exec();
        });
        QTest::mouseClick(Button(dlg, 1018), Qt::LeftButton);
        QCOMPARE(title, QString("Cadenzo Custom Settings"));
        QCOMPARE(dlg.GetSettingsValues().m_nSamplesPerSec, 48000);
        QCOMPARE(dlg.GetSplitter().GetSamplesPerSec(), 48000);
        // The preset list was refilled and shows the name the settings window left.
        QCOMPARE(Entries(Box(dlg, 1003)), QStringList({"Album/Tape", "Live Set"}));
        QCOMPARE(std::string(dlg.GetPresetName()), std::string("Live Set"));
        QCOMPARE(Box(dlg, 1003)->currentText(), QString("Live Set"));
        QVERIFY(dlg.GetPresets().Find("Live Set"));
        QCOMPARE(dlg.GetPresets().Find("Live Set")->m_nSamplesPerSec, 48000);
    }

    void Customize_Escape_ChangesNothing()
    {
        CFixture f;
        WritePresetFile(f.place.Dir(), {{"Album/Tape", DefaultValues()}});
        CRecorderDlg& dlg = f.Open();
        dlg.SetDeviceLister(ListNoDevices);
        int result = -1;
        dlg.SetDialogRunner([&](QDialog& settings) {
            QTimer::singleShot(0, &settings, [&settings] {
                FindControl<QRadioButton>(&settings, 1037)->click();
                FindControl<QRadioButton>(&settings, 1041)->click();
                QTest::keyClick(&settings, Qt::Key_Escape);
            });
            result = settings.exec();
            return result;
        });
        dlg.OnCustomize();
        QCOMPARE(result, int(QDialog::Rejected));
        QVERIFY(dlg.GetSettingsValues() == DefaultValues());
        QCOMPARE(dlg.GetSplitter().GetSamplesPerSec(), 44100);
        QCOMPARE(Box(dlg, 1003)->currentText(), QString("Album/Tape"));
        QVERIFY(f.prompt.boxes.empty());
    }

    void Background_Unchecked_UsesSystemColoursAndLightPictures()
    {
        CFixture f;
        CRecorderDlg& dlg = f.Open();
        auto* check = qobject_cast<QCheckBox*>(dlg.GetControl(1031));
        auto* picture = qobject_cast<QLabel*>(dlg.GetControl(1033));
        const QImage purple = picture->pixmap().toImage();
        check->click();
        QCOMPARE(dlg.GetBackgroundFlag(), 0);
        const QPalette system = QApplication::palette();
        QCOMPARE(dlg.palette().color(QPalette::Window), system.color(QPalette::Button));
        QCOMPARE(dlg.palette().color(QPalette::WindowText), system.color(QPalette::WindowText));
        QVERIFY(picture->pixmap().toImage() != purple);
        // Combo boxes and status fields keep their colours in both schemes.
        QCOMPARE(Box(dlg, 1002)->palette().color(QPalette::ButtonText), QColor(50, 200, 50));
        QCOMPARE(dlg.GetControl(1017)->palette().color(QPalette::WindowText), QColor(255, 0, 0));
        // Back on: plain values after a switch, the same dark purple on a true-colour screen.
        check->click();
        QCOMPARE(dlg.GetBackgroundColour(), 0x0250003Cu);
        QCOMPARE(dlg.GetTextColour(), 0x00FFFFFFu);
        QCOMPARE(picture->pixmap().toImage(), purple);
        // A system colour change re-applies the scheme without touching the check box.
        dlg.OnSysColorChange();
        QVERIFY(check->isChecked());
        QCOMPARE(dlg.palette().color(QPalette::Window), QColor(60, 0, 80));
    }

    void SystemColourChange_ReappliesScheme()
    {
        CFixture f;
        f.place.store->setValue("Version 1/Background", 0);
        CRecorderDlg& dlg = f.Open();
        const QPalette old = QApplication::palette();
        QPalette desktop = old;
        desktop.setColor(QPalette::Button, QColor(10, 120, 200));
        desktop.setColor(QPalette::WindowText, QColor(250, 250, 0));
        QApplication::setPalette(desktop);
        QCOMPARE(dlg.palette().color(QPalette::Window), QColor(10, 120, 200));
        QCOMPARE(dlg.palette().color(QPalette::WindowText), QColor(250, 250, 0));
        QVERIFY(!qobject_cast<QCheckBox*>(dlg.GetControl(1031))->isChecked());
        QApplication::setPalette(old);
        QCOMPARE(dlg.palette().color(QPalette::Window), old.color(QPalette::Button));
    }

    void ToolTips_NameEachControlAndLedBar()
    {
        CFixture f;
        CRecorderDlg& dlg = f.Open();
        CToolTip* tips = dlg.GetToolTip();
        QVERIFY(tips);
        const std::pair<int, const char*> controls[] = {{1000, "Record"}, {1011, "Stop recording"},
            {1002, "Select base filename from list"}, {1004, "Create new base file"}, {1001, "Open the sound mixer"}};
        for (const auto& c : controls) {
            QWidget* control = dlg.GetControl(c.first);
            QCOMPARE(tips->TextAt(control, control->rect().center()), QString(c.second));
        }
        // The LED bars are rectangles of the window itself.
        QCOMPARE(tips->TextAt(&dlg, dlg.GetControl(1032)->geometry().center()), QString("Level Left (2dB/LED)\nClick to watch the input before recording"));
        QCOMPARE(tips->TextAt(&dlg, dlg.GetControl(1034)->geometry().center()), QString("Level Right (2dB/LED)\nClick to watch the input before recording"));
        QCOMPARE(tips->TextAt(&dlg, QPoint(1, 1)), QString());
    }

    // The context menu's first entry and a click on the icon both open the About box;
    // Escape is ignored and saves nothing (it is not Exit).
    void AboutFromMenuAndIcon_EscapeIgnored()
    {
        CFixture f;
        CRecorderDlg& dlg = f.Open();
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QStringList shown;
        dlg.SetDialogRunner([&](QDialog& box) {
            shown << box.metaObject()->className() << box.windowTitle();
            return int(QDialog::Accepted);
        });
        QStringList entries;
        QTimer::singleShot(0, &dlg, [&entries] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu) return;
            for (QAction* action : menu->actions()) entries << action->text();
            menu->actions().first()->trigger();
            menu->close();
        });
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), dlg.mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(&dlg, &event);
        QCOMPARE(entries.first(), QString("&About Cadenzo..."));

        auto* icon = qobject_cast<CPressIcon*>(dlg.GetControl(1010));
        QVERIFY(icon);
        icon->SetPressMilliseconds(0);
        QTest::mouseClick(icon, Qt::LeftButton);
        QCOMPARE(shown, QStringList({"CAboutDlg", "About Cadenzo", "CAboutDlg", "About Cadenzo"}));

        QTest::keyClick(&dlg, Qt::Key_Escape);
        QVERIFY(dlg.isVisible());
        QCOMPARE(dlg.result(), 0);
        QVERIFY(f.place.store->allKeys().isEmpty());
    }

    void Help_ShowsPageOfActiveWindow()
    {
        CFixture f;
        CRecorderDlg& dlg = f.Open();
        dlg.SetDeviceLister(ListNoDevices);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QString shown;
        QTimer::singleShot(0, &dlg, [&shown] {
            QWidget* help = QApplication::activeModalWidget();
            if (!help) return;
            if (auto* browser = help->findChild<QTextBrowser*>()) shown = browser->toPlainText();
            qobject_cast<QDialog*>(help)->reject();
        });
        QTest::mouseClick(Button(dlg, 57670), Qt::LeftButton);
        QTextDocument page;
        page.setHtml(LoadHelpPage(IDH_RECORDER));
        QVERIFY(!page.toPlainText().isEmpty());
        QCOMPARE(shown, page.toPlainText());
        // The settings window has its own topic, whatever the main window's title shows.
        dlg.setWindowTitle("Song2.wav: Novu Cadenzo");
        QCOMPARE(CRecorderApp::HelpTopicOf(&dlg), IDH_RECORDER);
        int topic = 0;
        dlg.SetDialogRunner([&topic](QDialog& settings) {
            topic = CRecorderApp::HelpTopicOf(&settings);
            return int(QDialog::Rejected);
        });
        dlg.OnCustomize();
        QCOMPARE(topic, IDH_CUSTOM_SETTINGS);
    }

    void Mixer_StartsFirstMixerFound_NoneFoundSaysWhatToInstall()
    {
        CFixture f;
        CRecorderDlg& dlg = f.Open();
        const QByteArray oldPath = qgetenv("PATH");
        // No mixer anywhere: the user learns which were tried and what to install.
        qputenv("PATH", f.place.dir.filePath("nowhere").toLocal8Bit());
        QTest::mouseClick(Button(dlg, 1001), Qt::LeftButton);
        QCOMPARE(f.prompt.boxes.size(), size_t(1));
        QCOMPARE(f.prompt.boxes[0].text,
                 std::string("No mixer program could be started.\n\nCadenzo tried: pavucontrol, "
                             "pavucontrol-qt, pwvucontrol, gnome-control-center sound, kcmshell6 "
                             "kcm_pulseaudio, kcmshell5 kcm_pulseaudio, x-terminal-emulator -e "
                             "alsamixer.\n\nInstall one of them, for example the package "
                             "\"pavucontrol\" (sudo apt install pavucontrol),\nthen press Mixer again.\n"));
        QCOMPARE(f.prompt.boxes[0].caption, std::string("Mixer Not Found"));
        QVERIFY(f.prompt.boxes[0].icon == PromptIcon::Exclamation);
        f.prompt.boxes.clear();
        // A pavucontrol on the PATH is started.
        const QString marker = f.place.dir.filePath("mixer-started");
        QFile script(f.place.dir.filePath("pavucontrol"));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write(QString("#!/bin/sh\n/usr/bin/touch '%1'\n").arg(marker).toUtf8());
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("PATH", f.place.dir.path().toLocal8Bit());
        QTest::mouseClick(Button(dlg, 1001), Qt::LeftButton);
        qputenv("PATH", oldPath);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(marker), 30000);
        QVERIFY(f.prompt.boxes.empty());
        QVERIFY(dlg.MixerCommands().first() == "pavucontrol");
    }

    void Exit_SavesAndSecondWindowReadsBack()
    {
        CAppTestPlace place;
        const CSettingsValues voice = Values(-900, -1000, -1764, -882, 22050, 16, -1);
        WritePresetFile(place.Dir(), {{"Album/Tape", DefaultValues()}, {"Voice", voice}});
        {
            CScriptedPrompt prompt;
            CRecorderDlg dlg(&prompt, place.store.get(), place.Dir());
            for (const char* name : {"A.wav", "B.wav", "C.wav", "D.wav", "E.wav"}) {
                prompt.fileAnswers.push_back({place.Path(name), ""});
                dlg.OnNew();
            }
            Box(dlg, 1002)->setCurrentIndex(1);  // D.wav
            dlg.OnSelChangeBaseName();
            Box(dlg, 1003)->setCurrentIndex(Box(dlg, 1003)->findText("Voice"));
            dlg.OnSelChangePreset();
            qobject_cast<QCheckBox*>(dlg.GetControl(1031))->click();
            dlg.GetPresets().Add("Added", voice);
            dlg.show();
            dlg.move(140, 90);
            dlg.OnOK();
            QCOMPARE(dlg.result(), int(QDialog::Accepted));
            QVERIFY(prompt.boxes.empty());
        }
        place.OpenStore();
        CScriptedPrompt prompt;
        CRecorderDlg again(&prompt, place.store.get(), place.Dir());
        // The selected entry comes back on top and selected, then the first three others.
        QCOMPARE(Entries(Box(again, 1002)), QStringList({"D.wav", "E.wav", "C.wav", "B.wav"}));
        QCOMPARE(Box(again, 1002)->currentIndex(), 0);
        QCOMPARE(std::string(again.GetWaveFile().GetFileName()), place.Path("D.wav"));
        QVERIFY(again.GetSettingsValues() == voice);
        QCOMPARE(again.GetSplitter().GetSamplesPerSec(), 22050);
        QCOMPARE(std::string(again.GetPresetName()), std::string("Voice"));
        QCOMPARE(Box(again, 1003)->currentText(), QString("Voice"));
        QCOMPARE(Entries(Box(again, 1003)), QStringList({"Added", "Album/Tape", "Voice"}));
        QCOMPARE(again.GetBackgroundFlag(), 0);
        QCOMPARE(again.pos(), QPoint(140, 90));
        QVERIFY(!qobject_cast<QCheckBox*>(again.GetControl(1031))->isChecked());
        QVERIFY(prompt.boxes.empty());
    }

    void Close_RunsExitSequence()
    {
        CFixture f;
        CRecorderDlg& dlg = f.Open();
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        f.prompt.fileAnswers.push_back({f.place.Path("Tape.wav"), ""});
        dlg.OnNew();
        QVERIFY(dlg.close());
        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        // The file itself, read while the window's store is still alive: Exit wrote it out.
        QFile conf(f.place.dir.filePath("Cadenzio.conf"));
        QVERIFY(conf.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(conf.readAll()).split('\n');
        QVERIFY(lines.contains("[Version%201]"));
        QVERIFY(lines.contains("OutfileName0=" + QString::fromStdString(f.place.Path("Tape.wav"))));
        QVERIFY(lines.contains("Preset=Album/Tape"));
        QVERIFY(QFile::exists(f.place.dir.filePath("Tunex1.pre")));
    }

};

QTEST_MAIN(TestRecorderDlg)
#include "tst_recorderdlg.moc"
