#pragma once
// The recorder's main window.

#include "app/Appearance.h"
#include "app/SongsDlg.h"
#include "capture/InputMonitor.h"
#include "capture/RecordSession.h"
#include "capture/WaveFile.h"
#include "capture/WaveIn.h"
#include "controls/LevelMeter.h"
#include "engine/SongSplitter.h"
#include "settings/PersistedSettings.h"
#include "settings/PresetFile.h"
#include "settings/Presets.h"
#include "settings/SettingsValues.h"

#include <QDialog>
#include <QEvent>
#include <QFont>
#include <QIcon>
#include <QPalette>
#include <QPixmap>
#include <QPointer>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class CLedBar;
class CPressIcon;

class CToolTip;
class IPrompt;
class QCheckBox;
class QComboBox;
class QLabel;
class QTimer;
class QMenu;
class QPushButton;
class QSettings;

/**
 * Events the recording worker posts to the main window. They are queued with
 * QCoreApplication::postEvent, never sent, so the worker never waits for the window;
 * the window handles them in customEvent on its own thread, in the order posted.
 */
class CRecordProgressEvent : public QEvent {
public:
    static const QEvent::Type kType;
    CRecordProgressEvent(int64_t nBytes, bool bCut) : QEvent(kType), m_nBytes(nBytes), m_bCut(bCut) {}
    int64_t m_nBytes;  // bytes of the buffer just processed
    bool m_bCut;       // a new song file began in it
};

class CRecordDoneEvent : public QEvent {
public:
    static const QEvent::Type kType;
    CRecordDoneEvent() : QEvent(kType) {}
};

// The input monitor ended by itself (the device failed or its input came to an end).
class CMonitorEndedEvent : public QEvent {
public:
    static const QEvent::Type kType;
    CMonitorEndedEvent() : QEvent(kType) {}
};

class CRecordErrorEvent : public QEvent {
public:
    static const QEvent::Type kType;
    CRecordErrorEvent(std::string strText, std::string strCaption)
        : QEvent(kType), m_strText(std::move(strText)), m_strCaption(std::move(strCaption)) {}
    std::string m_strText;
    std::string m_strCaption;
};

/**
 * The main window, "Novu Cadenzo": the only top-level window, run modally by the
 * application for the whole run of the program.
 *
 * It owns every long-lived object: the song splitter, the WAV writer, the capture
 * device, the recording session (with its lock, buffer event and level record), the
 * presets, the LED bars with their meter, and the tooltips. It keeps its own copy of the
 * ten settings values beside the splitter and gives every change to both.
 *
 * Construct it with the prompt that asks the user everything and the settings store
 * (tests pass a scripted prompt and an INI file); optionally choose a recording on disk
 * as the capture source with UseCaptureFile before exec(). Everything else is set up in
 * OnInitDialog, which the constructor runs. Exit (and the close box) stops a running
 * recording, saves presets and settings and ends the dialog; Escape is ignored, so a
 * stray key never ends a recording or loses the settings.
 *
 * Window thread only. The recording worker reaches the window through the Post...
 * functions of IRecordWindow, which only queue events; the meter thread reads the level
 * record through the session, under the session lock.
 */
class CRecorderDlg : public QDialog, public IRecordWindow, public IMonitorWindow, public IBaseNameList,
                     public IWindowPlacement, public IPresetWindow {
    Q_OBJECT
public:
    // pPrompt and pStore must outlive the window. presetDirectory: the folder of the
    // preset files; empty means the working directory.
    CRecorderDlg(IPrompt* pPrompt, QSettings* pStore, const std::string& presetDirectory = std::string(),
                 QWidget* pParent = nullptr);
    ~CRecorderDlg() override;

    // Records from a recording on disk instead of the sound card (test builds and the
    // screenshots): bPaced delivers it at the speed of a sound card.
    bool UseCaptureFile(const std::string& strPath, bool bPaced);

    // --- commands (also driven by the tests) ---
    void OnNew();
    void OnSelChangeBaseName();
    void OnRecord();
    void OnStop();
    void OnCustomize();
    void OnSelChangePreset();
    void OnBackground();
    void OnMixer();
    void OnIconClicked();
    void OnAbout();
    void OnHelp();
    void OnSysColorChange();
    void OnOK();     // the Exit sequence
    void OnClose();  // the close box: the Exit sequence
    void OnSize(int nType);
    // Opens the Songs window for the current base file (the right-click menu and the
    // offer shown when a recording has ended).
    void OnSongs();
    // Watching the input while idle: a click on the LED bars (or the context menu's
    // "Watch Input Levels") starts it, a second one ends it; Record, Exit and a device
    // failure end it too.
    void OnMonitor();
    bool IsMonitoring() const { return m_pMonitor->IsRunning(); }

    void AddBaseName(const std::string& path) override;
    void FillPresetList();

    // --- what tests and the settings window read ---
    CRecordSession& GetSession() { return *m_pSession; }
    CInputMonitor& GetMonitor() { return *m_pMonitor; }
    CSongSplitter& GetSplitter() { return m_splitter; }
    CWaveFile& GetWaveFile() { return m_waveFile; }
    CWaveIn& GetWaveIn() { return m_waveIn; }
    CLevelMeter& GetMeter() { return m_meter; }
    CPresetList& GetPresets() { return m_presets; }
    const char* GetPresetName() const { return m_szPresetName; }
    const CSettingsValues& GetSettingsValues() const { return m_values; }
    uint32_t GetBackgroundColour() const { return m_crBackground; }
    uint32_t GetTextColour() const { return m_crText; }
    int GetBackgroundFlag() const { return m_bBackground; }
    bool IsStatusPictureActive() const { return m_bPictureActive; }
    CToolTip* GetToolTip() const { return m_pToolTip.get(); }
    CLedBar* GetLedBar(int nChannel) const { return nChannel == 0 ? m_ledLeft : m_ledRight; }
    QWidget* GetControl(int nId) const;
    // The Mixer button's candidates, tried in order until one starts; when none does,
    // the Mixer button names them all and says what to install.
    static QStringList MixerCommands();
    // The runner of the settings window; tests replace it to end it as a user would.
    // It gets the window, already filled, and returns its exec() result.
    using DialogRunner = std::function<int(QDialog&)>;
    void SetDialogRunner(DialogRunner runner) { m_runDialog = std::move(runner); }
    // How the settings window lists the input devices; empty: the sound system's list.
    // Tests that are not about devices give a list of their own.
    void SetDeviceLister(std::function<int()> lister) { m_listDevices = std::move(lister); }
    // The Songs window while it is open, and the offer to open it after a recording.
    CSongsDlg* GetSongsDlg() const { return m_pSongsDlg; }
    QWidget* GetSongsOffer() const { return m_pSongsOffer; }

    // --- IRecordWindow ---
    void PostRecordProgress(int64_t nBytes, bool bCut) override;
    void PostRecordDone() override;
    void PostErrorBox(const std::string& strText, const std::string& strCaption) override;
    void EnableRecordingControls(bool bRecording) override;
    void SetStatusText(RecordStatusField field, const std::string& strText) override;
    void SetStatusPicture(bool bActive) override;
    bool IsMinimised() const override;
    void SetWindowTitle(const std::string& strTitle) override;
    void SetWaitCursor(bool bWait) override;
    void FocusBaseFileName() override;
    void RunNewCommand() override;
    std::string GetBaseFileText() const override;
    std::string GetBaseFilePath() const override;

    // --- IMonitorWindow ---
    void PostMonitorEnded() override;

    // --- IBaseNameList ---
    int GetBaseNameCount() const override;
    int GetSelectedBaseName() const override;
    std::string GetBaseNamePath(int index) const override;
    void RemoveBaseName(int index) override;

    // --- IWindowPlacement ---
    CWindowPlacement GetWindowPlacement() const override;
    void SetWindowPlacement(const CWindowPlacement& placement) override;
    int32_t GetScreenWidth() const override;
    int32_t GetScreenHeight() const override;
    int32_t GetIconWidth() const override;
    int32_t GetIconHeight() const override;

    // --- IPresetWindow ---
    void ClearPresetBox() override;
    void AddPresetToBox(const std::string& name) override;
    int FindPresetInBox(const std::string& name) const override;
    void SelectPresetInBox(int index) override;
    void FocusDefaultButton() override;

public slots:
    void reject() override;  // Escape: ignored

protected:
    void customEvent(QEvent* pEvent) override;
    void changeEvent(QEvent* pEvent) override;
    void closeEvent(QCloseEvent* pEvent) override;
    void paintEvent(QPaintEvent* pEvent) override;
    void contextMenuEvent(QContextMenuEvent* pEvent) override;
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;

private:
    void OnInitDialog();
    void BuildControls();
    void SetupAppearance();
    void ApplyColours();
    void LoadPictures();
    void SetupLedFont();
    void SetupMeters();
    void SetupToolTips();
    void ApplySettingsValues(const CSettingsValues& values, bool bReportErrors);
    void ShowSplitterError();
    void StopMonitor();
    void MonitorStopped();  // watching has ended: the peak display stops, the columns go dark
    uint32_t SystemButtonFace() const;
    uint32_t SystemText() const;
    CSettingsHost MakeSettingsHost();
    void OfferSongs(const std::string& strBasePath, size_t nSongs);
    void OpenSongs(const std::string& strBasePath);
    std::vector<std::string> FinishedSongs() const;  // full paths of the finished song files
    void FollowRecordingInSongs();

    IPrompt* m_pPrompt;
    QSettings* m_pStore;
    std::string m_strPresetDirectory;

    // Owned engine, file and capture objects; the session works on them.
    CSongSplitter m_splitter;
    CWaveFile m_waveFile;
    CWaveIn m_waveIn;
    std::unique_ptr<CRecordSession> m_pSession;
    std::unique_ptr<CInputMonitor> m_pMonitor;

    int m_bLargeFonts = 0;       // 1 on a large-font screen
    int m_nNumColors = CAppearance::kTrueColour;
    int m_bBackground = 1;       // 1 for the coloured scheme
    int32_t m_nListenSeconds = kDefaultListenSeconds;  // listening after End Gap, seconds
    int m_nSizeType = 0;         // 1 while minimised

    CSettingsValues m_values;    // the window's copy of the ten settings values

    CPresetList m_presets;
    char m_szPresetName[kPresetNameSize] = "Album/Tape";
    CPresetFile m_presetFile;

    // Controls (made by the dialog builder, owned by the window as its children).
    QPushButton* m_pDefaultButton = nullptr;  // 1012, hidden
    QPushButton* m_pRecord = nullptr;         // 1000
    QComboBox* m_pPresetBox = nullptr;        // 1003
    QComboBox* m_pBaseNameBox = nullptr;      // 1002
    QPushButton* m_pNew = nullptr;            // 1004
    QPushButton* m_pStop = nullptr;           // 1011
    QPushButton* m_pCustomize = nullptr;      // 1018
    CPressIcon* m_pIcon = nullptr;            // 1010
    QCheckBox* m_pBackground = nullptr;       // 1031
    QPushButton* m_pExit = nullptr;           // 1
    QPushButton* m_pHelp = nullptr;           // 57670
    QLabel* m_pCurFile = nullptr;             // 1015
    QLabel* m_pSongTime = nullptr;            // 1016
    QLabel* m_pTotalTime = nullptr;           // 1017
    QLabel* m_pClipped = nullptr;             // 1020
    QLabel* m_pPicture = nullptr;             // 1033
    QPushButton* m_pMixer = nullptr;          // 1001
    CLedBar* m_ledLeft = nullptr;             // 1032
    CLedBar* m_ledRight = nullptr;            // 1034

    QFont m_fontLed;
    CLevelMeter m_meter;         // after the session and the bars: it reads both
    QTimer* m_pMonitorPeakTimer = nullptr;  // shows the input's recent peak while watching

    QIcon m_hIconRecord, m_hIconStop, m_hIconMixer;
    QPixmap m_hBmpIdle, m_hBmpActive;
    bool m_bPictureActive = false;
    uint32_t m_crBackground = CAppearance::kPurpleDeep;
    uint32_t m_crText = CAppearance::kWhitePalette;
    QColor m_qcBackground, m_qcText;  // the same colours for the settings window
    QPalette m_palBackground;    // the window's ground and text (the brush of the scheme)
    QFont m_fontCombo;
    std::unique_ptr<CToolTip> m_pToolTip;
    QIcon m_hIcon;               // the program icon
    DialogRunner m_runDialog;
    std::function<int()> m_listDevices;
    bool m_bClosing = false;     // the Exit sequence has run
    QPointer<CSongsDlg> m_pSongsDlg;     // the Songs window, non-modal, while open
    std::string m_strLastRecorded;      // the base of the recording that ended last
    QPointer<QWidget> m_pSongsOffer;     // the offer to look at a finished recording
    std::string m_strOfferedBase;        // the base file it offers
};
