// The settings window: labels, sliders and their coupling, presets added, applied
// and deleted in the opener's list, the typed-name question, and every message
// through a scripted prompt.

#include "settings/CustomSettingsDlg.h"

#include "capture/WaveIn.h"
#include "resources/DialogBuilder.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QToolTip>
#include <QtTest>

#include <cstring>
#include <deque>
#include <functional>

namespace {

struct Question {
    std::string text;
    std::string caption;
    PromptButtons buttons;
    PromptIcon icon;
};

// Answers each message box from a script and records what was asked.
class CScriptedPrompt : public IPrompt {
public:
    std::deque<PromptAnswer> m_answers;
    std::vector<Question> m_asked;
    std::function<void()> m_onAsk;  // runs while the box would show (e.g. takes the focus)

    PromptAnswer MessageBox(const std::string& text, const std::string& caption,
                            PromptButtons buttons, PromptIcon icon) override {
        m_asked.push_back({text, caption, buttons, icon});
        if (m_onAsk) m_onAsk();
        if (m_answers.empty()) return buttons == PromptButtons::Ok ? PromptAnswer::Ok : PromptAnswer::No;
        const PromptAnswer answer = m_answers.front();
        m_answers.pop_front();
        return answer;
    }
    bool SaveFileDialog(const std::string&, const std::string&, const std::vector<PromptFileFilter>&,
                        std::string*, std::string*) override {
        return false;
    }
};

CSettingsValues Defaults() {
    return CSettingsValues();  // -1764, -582, -5293, -1236, on, on, 44100, 16, 2, -1
}

CPresets* MakePreset(CPresetList& list, const std::string& name, int32_t nGapSize = -1000,
                     int32_t nRate = 22050, int16_t nBits = 32, int32_t nDevice = -1) {
    CSettingsValues v;
    v.m_nGapSize = nGapSize;
    v.m_nGapLevel = -100;
    v.m_nMinSong = -8000;
    v.m_nEndGap = -3000;
    v.m_bDCBlock = 0;
    v.m_bIgnoreClicks = 0;
    v.m_nSamplesPerSec = nRate;
    v.m_nBitsPerSample = nBits;
    v.m_nChannels = 1;
    v.m_nWaveInID = nDevice;
    return list.Add(name, v);
}

std::vector<std::string> Names(const CPresetList& list) {
    std::vector<std::string> names;
    for (const auto& p : list) names.push_back(p->GetName());
    return names;
}

QStringList Entries(QComboBox* box) {
    QStringList entries;
    for (int i = 0; i < box->count(); ++i) entries << box->itemText(i);
    return entries;
}

// One settings window as the main window opens it, with its controls at hand.
struct Window {
    CPresetList& presets;
    char* szName;
    QColor crBackground{60, 0, 80};
    QColor crText{255, 255, 255};
    CScriptedPrompt prompt;
    CCustomSettingsDlg dlg;

    // bListDevices: list the machine's devices as the program does; otherwise the
    // window lists only what the test put into the device list.
    Window(CPresetList& list, char* name, const CSettingsValues& values = Defaults(),
           bool bListDevices = false)
        : presets(list), szName(name), dlg(list, name, crBackground, crText, &prompt) {
        if (!bListDevices) dlg.m_pfnEnumerateDevices = [] { return 1; };
        dlg.SetValues(values);
        dlg.show();
    }
    ~Window() {
        if (dlg.isVisible()) dlg.reject();
    }
    template <class T>
    T* Get(int id) { return FindControl<T>(&dlg, id); }
    QSlider* GapSize() { return Get<QSlider>(1020); }
    QSlider* GapLevel() { return Get<QSlider>(1021); }
    QSlider* MinSong() { return Get<QSlider>(1027); }
    QSlider* EndGap() { return Get<QSlider>(1029); }
    QString Label(int id) { return Get<QLabel>(id)->text(); }
    QComboBox* PresetBox() { return Get<QComboBox>(1003); }
    QComboBox* DeviceBox() { return Get<QComboBox>(1006); }
    void Add() { Get<QPushButton>(57673)->click(); }
    void Delete() { Get<QPushButton>(57672)->click(); }
    void Type(const QString& text) {
        QLineEdit* edit = PresetBox()->lineEdit();
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        // Key by key, as typed; any character (QTest::keyClicks takes Latin-1 only).
        for (QChar ch : text) {
            QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(ch));
            QCoreApplication::sendEvent(edit, &press);
            QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(ch));
            QCoreApplication::sendEvent(edit, &release);
        }
    }
    void Pick(const QString& entry) {
        const int i = PresetBox()->findText(entry, Qt::MatchFixedString | Qt::MatchCaseSensitive);
        QVERIFY(i >= 0);
        PresetBox()->setCurrentIndex(i);
        emit PresetBox()->activated(i);
    }
    bool Activate() {
        dlg.activateWindow();
        return QTest::qWaitForWindowActive(&dlg);
    }
    void Focus(QWidget* pWidget, Qt::FocusReason reason = Qt::MouseFocusReason) {
        pWidget->setFocus(reason);
        QTRY_VERIFY(pWidget->hasFocus());
    }
    // Activates the window and types a name into the focused preset box.
    void TypeInFocusedBox(const QString& text) {
        QVERIFY(Activate());
        Focus(PresetBox());
        Type(text);
    }
    // The one question asked so far was exactly this box.
    void ExpectAsked(const std::string& text, const std::string& caption, PromptButtons buttons,
                     PromptIcon icon) {
        QCOMPARE(prompt.m_asked.size(), size_t(1));
        const Question& q = prompt.m_asked[0];
        QCOMPARE(q.text, text);
        QCOMPARE(q.caption, caption);
        QVERIFY(q.buttons == buttons);
        QVERIFY(q.icon == icon);
    }
};

void AddDevice(const char* name) {
    auto* caps = new CWaveInCaps;
    std::strncpy(caps->m_szName, name, sizeof(caps->m_szName) - 1);
    g_waveInDevices.push_back(caps);
}

}  // namespace

class CustomSettingsDlgTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_presets.RemoveAll();
        CopyPresetName(m_szName, "Album/Tape");
        ClearDevices();
    }

    void cleanup() {
        ClearDevices();
    }

    void Labels_ForStoredForms_data() {
        QTest::addColumn<int>("slider");
        QTest::addColumn<int>("position");
        QTest::addColumn<QString>("label");
        // Each slider's top and bottom ends (the defaults are read off the window).
        QTest::newRow("gap size top") << 1020 << -3880 << "2.20 secs";
        QTest::newRow("gap size bottom") << 1020 << -353 << "0.20 secs";
        QTest::newRow("gap size -100") << 1020 << -100 << "0.06 secs";
        QTest::newRow("gap level top") << 1021 << -3276 << "-20.0 dB";
        QTest::newRow("gap level bottom") << 1021 << -1 << "-90.3 dB";
        QTest::newRow("min song top") << 1027 << -21168 << "120 secs";
        QTest::newRow("min song bottom") << 1027 << -1764 << "10 secs";
        QTest::newRow("end gap top") << 1029 << -5292 << "30 secs";
        QTest::newRow("end gap bottom") << 1029 << -882 << " 5 secs";
    }

    void Labels_ForStoredForms() {
        QFETCH(int, slider);
        QFETCH(int, position);
        QFETCH(QString, label);
        QString text;
        if (slider == 1020) text = CCustomSettingsDlg::GapSizeLabel(position);
        else if (slider == 1021) text = CCustomSettingsDlg::GapLevelLabel(position);
        else text = CCustomSettingsDlg::SongLabel(position);
        QCOMPARE(text, label);
    }

    void Open_WithDefaults_ShowsTheirLabelsSlidersAndSwitches() {
        Window w(m_presets, m_szName);
        QCOMPARE(w.dlg.windowTitle(), QString("Cadenzo Custom Settings"));
        QCOMPARE(w.Label(1023), QString("1.00 secs"));
        QCOMPARE(w.Label(1024), QString("-35.0 dB"));
        QCOMPARE(w.Label(1030), QString("30 secs"));
        QCOMPARE(w.Label(1031), QString(" 7 secs"));
        QVERIFY(w.Get<QPushButton>(1022)->isCheckable());
        QVERIFY(w.Get<QPushButton>(1022)->isChecked());
        QVERIFY(w.Get<QCheckBox>(1035)->isChecked());
        QVERIFY(w.Get<QRadioButton>(1036)->isChecked());
        QVERIFY(!w.Get<QRadioButton>(1041)->isChecked());
        QCOMPARE(w.DeviceBox()->currentText(), QString("System Default"));
        // The bit depth buttons exist, hidden, and show the value.
        QVERIFY(w.Get<QRadioButton>(1038)->isChecked());
        QVERIFY(w.Get<QRadioButton>(1038)->isHidden());
        QVERIFY(w.Get<QRadioButton>(1039)->isHidden());
        // No preset named "Album/Tape": nothing selected, the edit field empty.
        QCOMPARE(w.PresetBox()->currentIndex(), -1);
        QCOMPARE(w.PresetBox()->currentText(), QString());
        QVERIFY(w.prompt.m_asked.empty());

        // The sliders' ranges, ticks and pages.
        struct { QSlider* slider; int min, max, step; } expected[] = {
            {w.GapSize(), -3880, -353, 352}, {w.GapLevel(), -3276, -1, 327},
            {w.MinSong(), -21168, -1764, 1940}, {w.EndGap(), -5292, -882, 441}};
        for (const auto& e : expected) {
            QCOMPARE(e.slider->minimum(), e.min);
            QCOMPARE(e.slider->maximum(), e.max);
            QCOMPARE(e.slider->tickInterval(), e.step);
            QCOMPARE(e.slider->pageStep(), e.step);
            QCOMPARE(e.slider->tickPosition(), QSlider::TicksBothSides);
        }
        QCOMPARE(w.GapSize()->value(), -1764);
        QCOMPARE(w.EndGap()->value(), -1236);

        // Switches store their values; Done hands them back.
        w.Get<QPushButton>(1022)->click();
        w.Get<QCheckBox>(1035)->click();
        w.Get<QRadioButton>(1037)->click();
        w.Get<QPushButton>(1)->click();
        QCOMPARE(w.dlg.result(), int(QDialog::Accepted));
        const CSettingsValues v = w.dlg.GetValues();
        QCOMPARE(v.m_bDCBlock, 0);
        QCOMPARE(v.m_bIgnoreClicks, 0);
        QCOMPARE(v.m_nSamplesPerSec, 48000);
        QCOMPARE(v.m_nGapSize, -1764);
    }

    void Open_ListsDevicesWithSystemDefaultLast() {
        // Two records already in the list; the window's listing appends what the
        // machine has after them (one silent ALSA input in the test's environment).
        AddDevice("Line In");
        AddDevice("USB Mic");
        CSettingsValues values = Defaults();
        values.m_nWaveInID = 1;
        {
            Window w(m_presets, m_szName, values, true);
            QComboBox* box = w.DeviceBox();
            QCOMPARE(box->itemText(0), QString("Line In"));
            QCOMPARE(box->itemData(0).toInt(), 0);
            QCOMPARE(box->itemText(1), QString("USB Mic"));
            QCOMPARE(box->currentIndex(), 1);
            QCOMPARE(box->count(), GetDeviceCount() + 1);
            QCOMPARE(box->itemText(box->count() - 1), QString("System Default"));
            QCOMPARE(box->itemData(box->count() - 1).toInt(), -1);

            box->setCurrentIndex(box->count() - 1);
            emit box->activated(box->count() - 1);
            QCOMPARE(w.dlg.GetValues().m_nWaveInID, -1);
            w.Get<QPushButton>(1)->click();
            // The list lives only while the window is open.
            QCOMPARE(GetDeviceCount(), 0);
        }
        // A device id that no entry has selects nothing.
        values.m_nWaveInID = 99;
        Window w(m_presets, m_szName, values);
        QCOMPARE(w.DeviceBox()->currentIndex(), -1);
        QCOMPARE(w.dlg.GetValues().m_nWaveInID, 99);
    }

    void Open_BorrowsTheOpenersColours() {
        Window w(m_presets, m_szName);
        QCOMPARE(w.dlg.palette().color(QPalette::Window), QColor(60, 0, 80));
        QCOMPARE(w.Get<QLabel>(1023)->palette().color(QPalette::WindowText), QColor(255, 255, 255));
        QCOMPARE(w.Get<QCheckBox>(1035)->palette().color(QPalette::WindowText), QColor(255, 255, 255));
        QCOMPARE(w.PresetBox()->palette().color(QPalette::Base), QColor(0, 0, 0));
        QCOMPARE(w.PresetBox()->palette().color(QPalette::Text), QColor(50, 200, 50));
        QCOMPARE(w.DeviceBox()->palette().color(QPalette::Text), QColor(50, 200, 50));
    }

    // The arrow keys walk a slider through every value its label can show, one at a time
    // and in order both ways (End Gap 15 s among them); Page Up/Down take a larger step,
    // Home and End go to the ends; label and value follow. Real key events.
    void Sliders_KeysStepThroughEveryShownValue_data() {
        QTest::addColumn<int>("slider");
        QTest::addColumn<int>("label");
        QTest::addColumn<double>("unit");   // 0: steps of uneven size (decibels)
        QTest::addColumn<int>("values");    // how many values the label shows over the range
        QTest::newRow("end gap") << 1029 << 1031 << 1.0 << 26;
        QTest::newRow("min song") << 1027 << 1030 << 1.0 << 111;
        QTest::newRow("gap size") << 1020 << 1023 << 0.01 << 201;
        QTest::newRow("gap level") << 1021 << 1024 << 0.0 << 0;
    }
    void Sliders_KeysStepThroughEveryShownValue() {
        QFETCH(int, slider);
        QFETCH(int, label);
        QFETCH(double, unit);
        QFETCH(int, values);
        Window w(m_presets, m_szName);
        QSlider* s = w.Get<QSlider>(slider);
        auto shown = [&] { return w.Label(label).trimmed().split(' ').first().toDouble(); };
        QTest::keyClick(s, Qt::Key_End);
        QCOMPARE(s->value(), s->maximum());
        QList<double> up{shown()};
        for (int n = 0; s->value() != s->minimum() && n < 5000; ++n) {
            QTest::keyClick(s, Qt::Key_Up);
            QVERIFY2(shown() > up.last(), qPrintable(w.Label(label)));
            if (unit > 0) QVERIFY2(qAbs(shown() - up.last() - unit) < unit / 4, qPrintable(w.Label(label)));
            up << shown();
        }
        if (values > 0) QCOMPARE(up.size(), values);
        QList<double> down{shown()};
        while (s->value() != s->maximum() && down.size() <= up.size()) {
            QTest::keyClick(s, Qt::Key_Down);
            down.prepend(shown());
        }
        QCOMPARE(down, up);
        // The window's value is the slider's.
        const CSettingsValues v = w.dlg.GetValues();
        QCOMPARE(slider == 1029 ? v.m_nEndGap : slider == 1027 ? v.m_nMinSong : slider == 1020 ? v.m_nGapSize
                                                                                                : v.m_nGapLevel,
                 s->value());
        QTest::keyClick(s, Qt::Key_Home);
        QCOMPARE(s->value(), s->minimum());
        if (slider == 1029) {
            // From the default 7 s: a page is 5 s, and 15 s is two steps up from 13 s.
            Window d(m_presets, m_szName);
            QSlider* e = d.EndGap();
            QTest::keyClick(e, Qt::Key_PageUp);
            QCOMPARE(d.Label(1031), QString("12 secs"));
            QTest::keyClick(e, Qt::Key_Up);
            QTest::keyClick(e, Qt::Key_Up);
            QTest::keyClick(e, Qt::Key_Up);
            QCOMPARE(d.Label(1031), QString("15 secs"));
            QCOMPARE(d.dlg.GetValues().m_nEndGap, -2646);
            QTest::keyClick(e, Qt::Key_PageDown);
            QCOMPARE(d.Label(1031), QString("10 secs"));
        }
    }

    void Sliders_MinSongAndEndGapPushEachOther() {
        CSettingsValues values = Defaults();
        values.m_nEndGap = -5292;  // 30 secs
        Window w(m_presets, m_szName, values);
        QCOMPARE(w.Label(1031), QString("30 secs"));
        w.MinSong()->triggerAction(QAbstractSlider::SliderToMaximum);  // its bottom, 10 secs
        QCOMPARE(w.Label(1030), QString("10 secs"));
        QCOMPARE(w.EndGap()->value(), -1764);
        QCOMPARE(w.Label(1031), QString("10 secs"));
        const CSettingsValues v = w.dlg.GetValues();
        QCOMPARE(v.m_nMinSong, -1764);
        QCOMPARE(v.m_nEndGap, -1764);
        // Moving Min Song up again leaves the end gap where it is.
        w.MinSong()->triggerAction(QAbstractSlider::SliderPageStepSub);
        QCOMPARE(w.dlg.GetValues().m_nEndGap, -1764);

        // End Gap moved above Min Song pushes Min Song up with it.
        w.EndGap()->triggerAction(QAbstractSlider::SliderToMinimum);  // its top, 30 secs
        QCOMPARE(w.Label(1031), QString("30 secs"));
        QCOMPARE(w.MinSong()->value(), -5292);
        QCOMPARE(w.Label(1030), QString("30 secs"));
        QCOMPARE(w.dlg.GetValues().m_nMinSong, -5292);
        // Dragging the thumb updates the label while it moves.
        w.GapSize()->setSliderDown(true);
        w.GapSize()->setSliderPosition(-3880);
        QCOMPARE(w.Label(1023), QString("2.20 secs"));
        w.GapSize()->setSliderDown(false);
        QCOMPARE(w.dlg.GetValues().m_nGapSize, -3880);
    }

    void GapSizeOutsideSlider_KeptUntilMovedAndAddedAtTheSlider() {
        CSettingsValues values = Defaults();
        values.m_nGapSize = -100;  // 0.06 s: valid for the splitter, below the slider's range
        {
            Window w(m_presets, m_szName, values);
            QCOMPARE(w.GapSize()->value(), -353);
            QCOMPARE(w.Label(1023), QString("0.06 secs"));
            w.GapLevel()->triggerAction(QAbstractSlider::SliderPageStepAdd);  // another slider
            w.Get<QPushButton>(1)->click();
            QCOMPARE(w.dlg.GetValues().m_nGapSize, -100);
        }
        {
            // Add stores the slider's position; the window keeps the value it was given.
            CSettingsValues others = values;
            others.m_nSamplesPerSec = 48000;
            others.m_nBitsPerSample = 32;
            others.m_nWaveInID = 3;
            Window w(m_presets, m_szName, others);
            w.Type("Vinyl");
            w.Add();
            QVERIFY(w.prompt.m_asked.empty());
            QCOMPARE(m_presets.GetSize(), size_t(1));
            const CPresets* p = m_presets.Find("Vinyl");
            QVERIFY(p);
            CSettingsValues stored = others;
            stored.m_nGapSize = -353;
            QVERIFY(p->GetValues() == stored);
            QCOMPARE(QString(m_szName), QString("Vinyl"));
            QCOMPARE(w.PresetBox()->currentText(), QString("Vinyl"));
            QVERIFY(w.PresetBox()->currentIndex() >= 0);
            QCOMPARE(w.dlg.GetValues().m_nGapSize, -100);
        }
        // A scroll action on the slider, even one that cannot move it further, takes its position.
        Window w(m_presets, m_szName, values);
        w.GapSize()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        QCOMPARE(w.Label(1023), QString("0.20 secs"));
        w.Get<QPushButton>(1)->click();
        QCOMPARE(w.dlg.GetValues().m_nGapSize, -353);
    }

    void Add_WithEmptyName_SaysSo() {
        MakePreset(m_presets, "Rock");
        Window w(m_presets, m_szName);
        w.Add();
        w.ExpectAsked("You need to enter a name for the preset.", "Preset Error", PromptButtons::Ok,
                      PromptIcon::None);
        QCOMPARE(m_presets.GetSize(), size_t(1));
        QCOMPARE(QString(m_szName), QString("Album/Tape"));
    }

    void Add_WithNameInOtherCase_AsksToReplace() {
        MakePreset(m_presets, "Rock");
        MakePreset(m_presets, "Jazz");
        Window w(m_presets, m_szName);
        w.prompt.m_answers = {PromptAnswer::No, PromptAnswer::Yes};
        w.Type("ROCK");
        w.Add();
        w.ExpectAsked("The preset, ROCK, exists.\n"
                      "Are you sure you want to over-write this preset?\n\n"
                      "If you want to add a new preset follow these steps:\n"
                      "Step 1: Type a new name in the edit box.\n"
                      "Step 2: Click on the plus button.\n",
                      "Preset Warning", PromptButtons::YesNo, PromptIcon::Question);
        // No changes nothing.
        QCOMPARE(Names(m_presets), (std::vector<std::string>{"Rock", "Jazz"}));
        QCOMPARE(m_presets.Find("Rock")->m_nGapSize, -1000);
        QCOMPARE(Entries(w.PresetBox()), (QStringList{"Jazz", "Rock"}));
        QCOMPARE(QString(m_szName), QString("Album/Tape"));

        // Yes replaces the preset with the window's values under the typed name.
        w.Add();
        QCOMPARE(w.prompt.m_asked.size(), size_t(2));
        QCOMPARE(Names(m_presets), (std::vector<std::string>{"Jazz", "ROCK"}));
        QCOMPARE(m_presets.Find("ROCK")->m_nGapSize, -1764);
        QCOMPARE(Entries(w.PresetBox()), (QStringList{"Jazz", "ROCK"}));
        QCOMPARE(w.PresetBox()->currentText(), QString("ROCK"));
        QCOMPARE(QString(m_szName), QString("ROCK"));
    }

    void Add_KeepsLongNamesWhole_CurrentNameCutBeforeACharacter() {
        // 300 characters, the last ones two bytes each in UTF-8.
        const QString typed = QString(250, QChar('a')) + QString(50, QChar(0x00E9));
        {
            Window w(m_presets, m_szName);
            w.Type(typed);
            w.Add();
            QCOMPARE(m_presets.GetSize(), size_t(1));
            const std::string name = m_presets.GetAt(0)->GetName();
            QCOMPARE(QString::fromUtf8(name.c_str()), typed);
            QCOMPARE(Entries(w.PresetBox()), QStringList{typed});
            // The 260-byte current name holds 250 + 4 whole characters of 2 bytes.
            QCOMPARE(std::string(m_szName), name.substr(0, 258));
        }
        // A window opened later still finds it by that current name; deleting it finds it too.
        Window w(m_presets, m_szName);
        QCOMPARE(w.PresetBox()->currentText(), typed);
        w.prompt.m_answers = {PromptAnswer::Yes};
        w.Delete();
        QVERIFY(m_presets.IsEmpty());
    }

    void Delete_LastPreset_EmptiesBoxAndCurrentName() {
        MakePreset(m_presets, "Solo");
        CopyPresetName(m_szName, "solo");  // the box finds it ignoring case
        Window w(m_presets, m_szName);
        QCOMPARE(w.PresetBox()->currentText(), QString("Solo"));
        w.prompt.m_answers = {PromptAnswer::Yes};
        w.Delete();
        w.ExpectAsked("Are you sure you want to delete the preset, Solo?\n", "Preset Warning",
                      PromptButtons::YesNo, PromptIcon::Question);
        QVERIFY(m_presets.IsEmpty());
        QCOMPARE(w.PresetBox()->count(), 0);
        QCOMPARE(w.PresetBox()->currentText(), QString());
        QCOMPARE(m_szName[0], '\0');
    }

    void Delete_SelectsAlphabeticallyFirst_WithoutChangingValues() {
        MakePreset(m_presets, "Zed");
        MakePreset(m_presets, "alpha");
        MakePreset(m_presets, "Mid");
        CopyPresetName(m_szName, "Mid");
        CSettingsValues values = Defaults();
        values.m_nGapSize = -2000;
        Window w(m_presets, m_szName, values);
        QCOMPARE(Entries(w.PresetBox()), (QStringList{"alpha", "Mid", "Zed"}));

        // No keeps everything.
        w.prompt.m_answers = {PromptAnswer::No};
        w.Delete();
        QCOMPARE(m_presets.GetSize(), size_t(3));
        QCOMPARE(QString(m_szName), QString("Mid"));

        w.prompt.m_answers = {PromptAnswer::Yes};
        w.Delete();
        QCOMPARE(Names(m_presets), (std::vector<std::string>{"Zed", "alpha"}));
        QCOMPARE(w.PresetBox()->currentText(), QString("alpha"));
        QCOMPARE(QString(m_szName), QString("alpha"));
        QVERIFY(w.dlg.GetValues() == values);
        QCOMPARE(w.GapSize()->value(), -2000);
        QCOMPARE(w.Label(1023), QString("1.13 secs"));
    }

    void Delete_WithNothingSelected() {
        MakePreset(m_presets, "Rock");
        Window w(m_presets, m_szName);
        w.Delete();
        w.ExpectAsked("No preset is selected", "Preset Warning", PromptButtons::Ok, PromptIcon::None);

        // Typed text that is no preset is cleared, without a question.
        w.Type("Draft");
        w.Delete();
        QCOMPARE(w.prompt.m_asked.size(), size_t(1));
        QCOMPARE(w.PresetBox()->currentText(), QString());
        QCOMPARE(m_presets.GetSize(), size_t(1));
    }

    void Pick_AppliesThePreset() {
        AddDevice("Line In");
        MakePreset(m_presets, "Tape", -3000, 11025, 32, 0);
        MakePreset(m_presets, "Radio", -500, 22050, 16, 5);
        MakePreset(m_presets, "Odd", -1000, 96000);
        Window w(m_presets, m_szName);
        w.Pick("Tape");
        QCOMPARE(QString(m_szName), QString("Tape"));
        struct { QSlider* slider; int nLabel, nValue; const char* szLabel; } shown[] = {
            {w.GapSize(), 1023, -3000, "1.70 secs"}, {w.GapLevel(), 1024, -100, "-50.3 dB"},
            {w.MinSong(), 1030, -8000, "45 secs"}, {w.EndGap(), 1031, -3000, "17 secs"}};
        for (const auto& e : shown) {
            QCOMPARE(e.slider->value(), e.nValue);
            QCOMPARE(w.Label(e.nLabel), QString(e.szLabel));
        }
        QVERIFY(!w.Get<QPushButton>(1022)->isChecked());
        QVERIFY(!w.Get<QCheckBox>(1035)->isChecked());
        QVERIFY(w.Get<QRadioButton>(1041)->isChecked());
        QVERIFY(!w.Get<QRadioButton>(1036)->isChecked());
        QVERIFY(w.Get<QRadioButton>(1039)->isChecked());
        QCOMPARE(w.DeviceBox()->currentText(), QString("Line In"));
        CSettingsValues v = w.dlg.GetValues();
        QCOMPARE(v.m_nSamplesPerSec, 11025);
        QCOMPARE(v.m_nBitsPerSample, int16_t(32));
        QCOMPARE(v.m_nChannels, int16_t(1));
        QCOMPARE(v.m_nWaveInID, 0);
        QCOMPARE(v.m_bDCBlock, 0);

        // A device id that the box does not list selects no entry.
        w.Pick("Radio");
        QCOMPARE(w.DeviceBox()->currentIndex(), -1);
        QVERIFY(w.Get<QRadioButton>(1038)->isChecked());
        QVERIFY(w.Get<QRadioButton>(1042)->isChecked());
        v = w.dlg.GetValues();
        QCOMPARE(v.m_nWaveInID, 5);
        QCOMPARE(v.m_nGapSize, -500);

        // A rate that is not one of the four buttons' leaves the buttons as they were.
        w.Pick("Odd");
        QVERIFY(w.Get<QRadioButton>(1042)->isChecked());
        QCOMPARE(w.dlg.GetValues().m_nSamplesPerSec, 96000);
        QVERIFY(w.prompt.m_asked.empty());
    }

    void OutOfStep_PickAndDeleteChangeNothing() {
        MakePreset(m_presets, "Rock");
        MakePreset(m_presets, "Jazz");
        CopyPresetName(m_szName, "Jazz");
        Window w(m_presets, m_szName);
        // The list changes behind the window's back: the box still lists both.
        m_presets.Remove("Rock");
        w.Pick("Rock");
        QVERIFY(w.dlg.GetValues() == Defaults());
        QCOMPARE(QString(m_szName), QString("Jazz"));

        w.prompt.m_answers = {PromptAnswer::Yes};
        w.Delete();  // "Rock" is selected now
        QCOMPARE(Names(m_presets), (std::vector<std::string>{"Jazz"}));
        QCOMPARE(Entries(w.PresetBox()), (QStringList{"Jazz", "Rock"}));
        QCOMPARE(QString(m_szName), QString("Jazz"));
    }

    // A typed name that equals a preset's is the user's text: the box never applies that
    // preset by itself when the focus leaves it (mouse on +, on -, or Tab).
    void TypedExistingName_LeavingTheBox_NeverAppliesThePreset() {
        MakePreset(m_presets, "Rock");
        Window w(m_presets, m_szName);
        w.Pick("Rock");
        QCOMPARE(w.MinSong()->value(), -8000);
        QVERIFY(w.Activate());
        QPushButton* add = w.Get<QPushButton>(57673);
        QPushButton* del = w.Get<QPushButton>(57672);

        // +: over-write Rock with the moved Min Song.
        w.MinSong()->triggerAction(QAbstractSlider::SliderPageStepAdd);  // -6060, 34 secs
        w.Focus(w.PresetBox());
        w.Type("Rock");
        w.prompt.m_answers = {PromptAnswer::Yes};
        QTest::mouseClick(add, Qt::LeftButton);
        QCOMPARE(w.prompt.m_asked.size(), size_t(1));
        QVERIFY(w.prompt.m_asked[0].text.rfind("The preset, Rock, exists.\n", 0) == 0);
        QCOMPARE(w.MinSong()->value(), -6060);
        QCOMPARE(w.Label(1030), QString("34 secs"));
        QCOMPARE(m_presets.GetSize(), size_t(1));
        QCOMPARE(m_presets.Find("Rock")->m_nMinSong, -6060);

        // -: the typed text is cleared; nothing is loaded or deleted.
        w.MinSong()->triggerAction(QAbstractSlider::SliderPageStepAdd);  // -4120
        w.Focus(w.PresetBox());
        w.Type("Rock");
        QTest::mouseClick(del, Qt::LeftButton);
        QCOMPARE(w.prompt.m_asked.size(), size_t(1));
        QCOMPARE(m_presets.GetSize(), size_t(1));
        QCOMPARE(w.PresetBox()->currentText(), QString());
        QCOMPARE(w.MinSong()->value(), -4120);

        // Tab, and a click on another control: the typed-name question, values kept.
        for (int nWay = 0; nWay < 2; ++nWay) {
            w.Focus(w.PresetBox());
            w.Type("Rock");
            w.prompt.m_answers = {PromptAnswer::No};
            if (nWay == 0) QTest::keyClick(w.PresetBox()->lineEdit(), Qt::Key_Tab);
            else QTest::mouseClick(w.Get<QCheckBox>(1035), Qt::LeftButton);
            QTRY_COMPARE(w.prompt.m_asked.size(), size_t(2 + nWay));
            QCOMPARE(w.prompt.m_asked.back().text,
                     std::string("You have changed the current preset name.\n"
                                 "Do you want to add the new preset, Rock?\n"));
            QCOMPARE(w.MinSong()->value(), -4120);
            QCOMPARE(w.dlg.GetValues().m_nMinSong, -4120);
            QCOMPARE(w.PresetBox()->currentIndex(), -1);
        }
        QCOMPARE(m_presets.Find("Rock")->m_nMinSong, -6060);
    }

    // Each rate button stores its own rate.
    void RateButtons_StoreTheirRates_data() {
        QTest::addColumn<int>("button");
        QTest::addColumn<int>("rate");
        QTest::newRow("11.25 kHz") << 1041 << 11025;
        QTest::newRow("22.05 kHz") << 1042 << 22050;
        QTest::newRow("44.1 kHz") << 1036 << 44100;
        QTest::newRow("48 kHz") << 1037 << 48000;
    }

    void RateButtons_StoreTheirRates() {
        QFETCH(int, button);
        QFETCH(int, rate);
        CSettingsValues values = Defaults();
        values.m_nSamplesPerSec = 96000;  // none of the four: no button checked at first
        Window w(m_presets, m_szName, values);
        QTest::mouseClick(w.Get<QRadioButton>(button), Qt::LeftButton);
        w.Get<QPushButton>(1)->click();
        QCOMPARE(w.dlg.GetValues().m_nSamplesPerSec, rate);
    }

    void TypedName_FocusElsewhere_AsksOnce() {
        MakePreset(m_presets, "Rock");
        CopyPresetName(m_szName, "Rock");
        Window w(m_presets, m_szName);
        w.TypeInFocusedBox("New One");  // typing over a selected preset leaves no entry selected
        QCOMPARE(w.PresetBox()->currentIndex(), -1);
        w.prompt.m_answers = {PromptAnswer::No};
        w.Focus(w.Get<QCheckBox>(1035));
        w.ExpectAsked("You have changed the current preset name.\n"
                      "Do you want to add the new preset, New One?\n",
                      "Preset Warning", PromptButtons::YesNo, PromptIcon::Question);
        // No leaves the text in the box and the list alone.
        QCOMPARE(w.PresetBox()->currentText(), QString("New One"));
        QCOMPARE(m_presets.GetSize(), size_t(1));
        QCOMPARE(QString(m_szName), QString("Rock"));
        // Moving on between other controls asks nothing more.
        w.Focus(w.Get<QRadioButton>(1037), Qt::TabFocusReason);
        QCOMPARE(w.prompt.m_asked.size(), size_t(1));
        // A selected preset asks nothing when the focus leaves.
        w.Pick("Rock");
        w.Focus(w.PresetBox());
        w.Focus(w.Get<QCheckBox>(1035));
        QCOMPARE(w.prompt.m_asked.size(), size_t(1));
    }

    void TypedName_MessageBoxTakingFocus_DoesNotAskAgain() {
        Window w(m_presets, m_szName);
        w.TypeInFocusedBox("Live");
        // While the question shows, its box takes the focus; when it closes the focus
        // goes back to the preset box and on to the control that was clicked.
        int depth = 0;
        w.prompt.m_onAsk = [&] {
            if (++depth > 1) return;  // a second question inside the first: the fault itself
            QDialog box(&w.dlg);
            auto* button = new QPushButton("No", &box);
            box.show();
            box.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&box));
            button->setFocus();
            QCoreApplication::processEvents();
            box.close();
            w.dlg.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&w.dlg));
            w.PresetBox()->setFocus(Qt::OtherFocusReason);
            QCoreApplication::processEvents();
            w.Get<QCheckBox>(1035)->setFocus(Qt::MouseFocusReason);
            QCoreApplication::processEvents();
        };
        w.prompt.m_answers = {PromptAnswer::No};
        w.Get<QCheckBox>(1035)->setFocus(Qt::MouseFocusReason);
        QTRY_VERIFY(!w.prompt.m_asked.empty());
        QCoreApplication::processEvents();
        QCOMPARE(w.prompt.m_asked.size(), size_t(1));
        QCOMPARE(m_presets.GetSize(), size_t(0));
        w.prompt.m_onAsk = nullptr;
    }

    void TypedName_OtherWindowTakingFocus_DoesNotAsk() {
        Window w(m_presets, m_szName);
        w.TypeInFocusedBox("Live");
        // Another window (a help page, another program) takes the focus: no question.
        QDialog other(&w.dlg);
        auto* button = new QPushButton("OK", &other);
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        w.Focus(button, Qt::OtherFocusReason);
        other.close();
        QVERIFY(w.Activate());
        QCoreApplication::processEvents();
        QVERIFY(w.prompt.m_asked.empty());
        // Its own drop-down list does not ask either.
        w.Focus(w.PresetBox());
        w.PresetBox()->showPopup();
        QCoreApplication::processEvents();
        w.PresetBox()->hidePopup();
        QCoreApplication::processEvents();
        QVERIFY(w.prompt.m_asked.empty());
        QCOMPARE(w.PresetBox()->currentText(), QString("Live"));
    }

    void TypedName_Yes_AddsAtOnce() {
        Window w(m_presets, m_szName);
        w.TypeInFocusedBox("Live");
        w.prompt.m_answers = {PromptAnswer::Yes};
        w.GapSize()->setFocus(Qt::TabFocusReason);
        QTRY_COMPARE(m_presets.GetSize(), size_t(1));
        QCOMPARE(w.prompt.m_asked.size(), size_t(1));
        QCOMPARE(m_presets.GetAt(0)->GetName(), std::string("Live"));
        QCOMPARE(QString(m_szName), QString("Live"));
        QCOMPARE(w.PresetBox()->currentText(), QString("Live"));
        QVERIFY(w.PresetBox()->currentIndex() >= 0);
    }

    void TypedName_FocusToAdd_DoesNotAsk() {
        Window w(m_presets, m_szName);
        w.TypeInFocusedBox("Studio");
        QPushButton* add = w.Get<QPushButton>(57673);
        w.Focus(add);
        QVERIFY(w.prompt.m_asked.empty());
        add->click();
        QVERIFY(w.prompt.m_asked.empty());
        QCOMPARE(Names(m_presets), std::vector<std::string>{"Studio"});
    }

    void Escape_KeepsPresetChanges() {
        MakePreset(m_presets, "Rock");
        MakePreset(m_presets, "Jazz");
        CopyPresetName(m_szName, "Jazz");
        Window w(m_presets, m_szName);
        QVERIFY(w.Activate());
        w.Type("Blues");
        w.Add();
        w.Pick("Rock");
        w.prompt.m_answers = {PromptAnswer::Yes};
        w.Delete();
        QCOMPARE(Names(m_presets), (std::vector<std::string>{"Jazz", "Blues"}));
        QCOMPARE(QString(m_szName), QString("Blues"));
        QTest::keyClick(&w.dlg, Qt::Key_Escape);
        QTRY_VERIFY(!w.dlg.isVisible());
        QCOMPARE(w.dlg.result(), int(QDialog::Rejected));
        QCOMPARE(Names(m_presets), (std::vector<std::string>{"Jazz", "Blues"}));
        QCOMPARE(QString(m_szName), QString("Blues"));
        QCOMPARE(w.prompt.m_asked.size(), size_t(1));
    }

    void Tooltips_OfAddAndDelete() {
        Window w(m_presets, m_szName);
        QVERIFY(w.Activate());
        for (auto [id, text] : {std::pair<int, const char*>{57673, "Add a Preset"}, {57672, "Delete a Preset"}}) {
            QPushButton* button = w.Get<QPushButton>(id);
            QHelpEvent event(QEvent::ToolTip, QPoint(2, 2), button->mapToGlobal(QPoint(2, 2)));
            QCoreApplication::sendEvent(button, &event);
            QTRY_COMPARE(QToolTip::text(), QString(text));
            QToolTip::hideText();
        }
    }

private:
    CPresetList m_presets;
    char m_szName[kPresetNameSize];
};

QTEST_MAIN(CustomSettingsDlgTest)
#include "CustomSettingsDlgTest.moc"
