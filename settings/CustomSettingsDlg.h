#pragma once
// The settings window, "Cadenzo Custom Settings".

#include "capture/Prompt.h"
#include "controls/ToolTip.h"
#include "engine/SongSplitter.h"
#include "resources/DialogBuilder.h"
#include "settings/Presets.h"
#include "settings/SettingsValues.h"

#include <QColor>
#include <QDialog>
#include <QFont>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QSlider;

/**
 * The modal settings window, built from dialog template 139. It edits a copy of
 * the ten settings values (the four gap rules on vertical sliders with live
 * labels, DC Block, Smart Gap, the sample rate, the hidden bit depth and the input
 * device) and works in place on the opener's preset list and 260-byte current
 * preset name: it applies, adds and deletes presets there at once, and those
 * changes stay even when the window ends with Escape.
 *
 *   CCustomSettingsDlg dlg(m_presets, m_szPresetName, m_crBackground, m_crText, &prompt, this);
 *   dlg.SetValues(m_values);
 *   if (dlg.exec() == QDialog::Accepted) { m_values = dlg.GetValues(); ...apply, FillPresetList }
 *
 * Every message box goes through the IPrompt (a CQtPrompt on this window when none
 * is given). The device list (EnumerateDevices) is filled while the window shows
 * and cleared (ClearDevices) when it closes. Window thread only.
 */
class CCustomSettingsDlg : public QDialog {
    Q_OBJECT

public:
    // presets, szPresetName (kPresetNameSize bytes), crBackground and crText are the
    // opener's own objects and must outlive the window. pPrompt may be null.
    CCustomSettingsDlg(CPresetList& presets, char* szPresetName, const QColor& crBackground,
                       const QColor& crText, IPrompt* pPrompt = nullptr, QWidget* pParent = nullptr);
    ~CCustomSettingsDlg() override;

    // The ten values in and out (the members below, as one record).
    void SetValues(const CSettingsValues& values);
    CSettingsValues GetValues() const;

    // Fills the controls from the values, the preset list and the device list.
    // Runs by itself when the window is first shown; calling it again does nothing.
    void OnInitDialog();

    // The window's copy of the ten settings values; set before the window runs,
    // read back after Done.
    int32_t m_nGapSize = 0;        // stored forms of the four gap rules
    int32_t m_nGapLevel = 0;
    int32_t m_nMinSong = 0;
    int32_t m_nEndGap = 0;
    int32_t m_bDCBlock = 0;        // 0 or 1
    int32_t m_bIgnoreClicks = 0;   // Smart Gap, 0 or 1
    int32_t m_nSamplesPerSec = 0;  // Hz
    int16_t m_nBitsPerSample = 0;  // 16, or 32 for the button labelled "24"
    int16_t m_nChannels = 0;       // passed through; only a preset changes it
    int32_t m_nWaveInID = 0;       // input device id, -1 for the system default device
    // How long a recording listens on after End Gap for sound to come back, in seconds
    // (0: it ends at End Gap). A setting of the user's, not of a preset.
    int32_t m_nListenSeconds = 30;

    // Lists the input devices into the device list when the window opens:
    // EnumerateDevices, unless the opener gives another way (tests that are not
    // about devices skip the sound system this way).
    std::function<int()> m_pfnEnumerateDevices;

    // The labels' texts for a stored form.
    static QString GapSizeLabel(int32_t nPosition);   // "%1.2f secs"
    static QString GapLevelLabel(int32_t nPosition);  // "%2.1f dB"
    static QString SongLabel(int32_t nPosition);      // "%2d secs", for Min Song and End Gap

    // Preset names are byte strings; both windows show them as text the same way
    // (UTF-8, or Latin-1 for bytes that are not UTF-8). A typed name becomes UTF-8,
    // kept whole.
    static QString NameToText(const std::string& name);
    static std::string TextToName(const QString& text);

protected:
    void showEvent(QShowEvent* pEvent) override;
    // The sliders' keys and wheel: one shown step, a page, or an end (see KeyStep).
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;
    void done(int nResult) override;

private:
    QMetaObject::Connection m_focusConnection;  // focus changes of the application
    void BindControls();
    void SetUpSlider(QSlider* pSlider, int nMin, int nMax, int32_t nValue);
    void SetSliderQuietly(QSlider* pSlider, int32_t nValue);
    QString SliderLabel(const QSlider* pSlider, int32_t nPosition) const;
    // The position nSteps shown steps from nPosition, towards larger values (nDirection
    // 1, up the slider) or smaller ones (-1): each step lands on the first position
    // whose label shows the next value, so every value the label can show is reached.
    int32_t KeyStep(const QSlider* pSlider, int32_t nPosition, int nDirection, int nSteps) const;
    void SetRateButtons(int32_t nRate);
    void SetBitsButtons(int16_t nBits);
    void ApplyColours();
    void FillPresetBox();
    void FillDeviceBox();
    void FillListenBox();
    void FocusDefaultButton();
    void ReleaseDevices();
    std::string PresetEntryName(int nIndex) const;
    bool RemovePreset(int nIndex);

    // Handlers.
    void OnVScroll(QSlider* pSlider, int nPosition);
    void OnAddPreset();
    void OnDeletePreset();
    void OnSelChangePreset(int nIndex);
    void OnSelChangeDevice(int nIndex);
    void OnKillFocusPreset(QWidget* pNewFocus);
    void OnPresetTextEdited(const QString& text);
    void OnDCBlock();
    void OnSmartGap();
    void OnHelp();

    PromptAnswer Ask(const std::string& text, const char* szCaption, PromptButtons buttons,
                     PromptIcon icon);

    CSongSplitter m_splitter;           // only for the slider range queries
    CPresetList& m_pPresets;            // the opener's list, edited in place
    char* m_pszPresetName;              // the opener's 260-byte current preset name
    const QColor& m_pcrBackground;      // the opener's ground colour
    const QColor& m_pcrText;            // the opener's text colour
    QFont m_fontCombo;                  // font of the two combo boxes
    CToolTip m_toolTip;                 // tooltips of Add and Delete
    IPrompt* m_pPrompt;
    std::unique_ptr<IPrompt> m_pOwnPrompt;
    CDialogBuilder m_builder;

    bool m_bInitDone = false;
    bool m_bDevicesListed = false;      // EnumerateDevices ran and ClearDevices is still due
    bool m_bAskingTypedName = false;    // the typed-name question is on screen

    // Controls bound by id.
    QCheckBox* m_pSmartGap = nullptr;       // 1035
    QLabel* m_pMinSongLabel = nullptr;      // 1030
    QLabel* m_pEndGapLabel = nullptr;       // 1031
    QSlider* m_pMinSong = nullptr;          // 1027
    QSlider* m_pEndGap = nullptr;           // 1029
    QPushButton* m_pDelete = nullptr;       // 57672
    QPushButton* m_pDefault = nullptr;      // 1012, hidden
    QLabel* m_pGapSizeLabel = nullptr;      // 1023
    QLabel* m_pGapLevelLabel = nullptr;     // 1024
    QSlider* m_pGapSize = nullptr;          // 1020
    QSlider* m_pGapLevel = nullptr;         // 1021
    QComboBox* m_pPresetBox = nullptr;      // 1003
    QPushButton* m_pDCBlock = nullptr;      // 1022, push-like toggle
    QComboBox* m_pDeviceBox = nullptr;      // 1006
    QPushButton* m_pAdd = nullptr;          // 57673
    QRadioButton* m_pRate44 = nullptr;      // 1036
    QRadioButton* m_pRate48 = nullptr;      // 1037
    QRadioButton* m_pRate22 = nullptr;      // 1042
    QRadioButton* m_pRate11 = nullptr;      // 1041
    QRadioButton* m_pBits16 = nullptr;      // 1038, hidden
    QRadioButton* m_pBits24 = nullptr;      // 1039, hidden
    QPushButton* m_pDone = nullptr;         // 1
    QPushButton* m_pHelp = nullptr;         // 57670
    QComboBox* m_pListenBox = nullptr;      // 1045, listening after End Gap
};
