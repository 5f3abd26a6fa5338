#include "app/RecorderDlg.h"

#include "app/RecorderApp.h"
#include "capture/Prompt.h"
#include "controls/AboutDlg.h"
#include "controls/LedBar.h"
#include "controls/PressIcon.h"
#include "controls/ToolTip.h"
#include "resources/Artwork.h"
#include "resources/DialogBuilder.h"
#include "resources/DialogTemplate.h"
#include "resources/ResourceIds.h"
#include "resources/Strings.h"
#include "settings/CustomSettingsDlg.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QStyle>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstring>

const QEvent::Type CRecordDoneEvent::kType = static_cast<QEvent::Type>(QEvent::User + 0x100);
const QEvent::Type CRecordProgressEvent::kType = static_cast<QEvent::Type>(QEvent::User + 0x101);
const QEvent::Type CRecordErrorEvent::kType = static_cast<QEvent::Type>(QEvent::User + 0x102);
const QEvent::Type CMonitorEndedEvent::kType = static_cast<QEvent::Type>(QEvent::User + 0x103);

namespace {

const char* const kTitle = "Novu Cadenzo";
constexpr int kBufferSize = 65536;
constexpr int kAboutCommand = 16;

// Control ids of the main window.
enum {
    IDC_EXIT = 1,
    IDC_RECORD = 1000,
    IDC_MIXER = 1001,
    IDC_BASE_NAME = 1002,
    IDC_PRESETS = 1003,
    IDC_NEW = 1004,
    IDC_ICON = 1010,
    IDC_STOP = 1011,
    IDC_DEFAULT = 1012,
    IDC_CUR_FILE = 1015,
    IDC_SONG_TIME = 1016,
    IDC_TOTAL_TIME = 1017,
    IDC_CUSTOMIZE = 1018,
    IDC_CLIPPED = 1020,
    IDC_BACKGROUND = 1031,
    IDC_LED_LEFT = 1032,
    IDC_PICTURE = 1033,
    IDC_LED_RIGHT = 1034,
    IDC_HELP = 57670,
};

// Base file entries carry the full path, byte for byte, as their item data.
QByteArray PathData(const std::string& path)
{
    return QByteArray(path.data(), static_cast<int>(path.size()));
}

std::string DataPath(const QVariant& data)
{
    const QByteArray bytes = data.toByteArray();
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

// The file name of a path: the part after its last "/", or the whole path.
std::string FileTitle(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

CRecorderDlg::CRecorderDlg(IPrompt* pPrompt, QSettings* pStore, const std::string& presetDirectory,
                           QWidget* pParent)
    : QDialog(pParent), m_pPrompt(pPrompt), m_pStore(pStore), m_strPresetDirectory(presetDirectory)
{
    InitResources();
    m_pSession = std::make_unique<CRecordSession>(*this, *m_pPrompt, m_splitter, m_waveFile, m_waveIn);
    m_pMonitor = std::make_unique<CInputMonitor>(*this, m_waveIn);
    m_hIcon = LoadIcon(IDI_PROGRAM);
    m_runDialog = [](QDialog& dlg) { return dlg.exec(); };
    OnInitDialog();
    qApp->installEventFilter(this);
}

CRecorderDlg::~CRecorderDlg()
{
    m_pMonitor->Stop();
    // A window destroyed without its Exit sequence (a test, an early end) still ends the
    // recording properly before the objects it works on go away.
    if (m_pSession && m_pSession->IsRecording()) {
        m_pSession->SetStopWaitMs(0);
        m_pSession->OnStop();
        m_pSession->OnRecordDone();
    }
    // The meter reads the session and drives the bars: stop its thread first.
    m_meter.SetRunning(false);
}

bool CRecorderDlg::UseCaptureFile(const std::string& strPath, bool bPaced)
{
    m_waveIn.UseFileSource(strPath.c_str(), bPaced);
    return !m_waveIn.HasError();
}

QWidget* CRecorderDlg::GetControl(int nId) const
{
    return FindControl(this, nId);
}

// ---------------------------------------------------------------------------------
// Initialisation

void CRecorderDlg::BuildControls()
{
    CDialogBuilder builder;
    builder.SetFactory(IDC_LED_LEFT, [](const CControlTemplate&, QWidget* parent) { return new CLedBar(parent); });
    builder.SetFactory(IDC_LED_RIGHT, [](const CControlTemplate&, QWidget* parent) { return new CLedBar(parent); });
    builder.SetFactory(IDC_ICON, [](const CControlTemplate&, QWidget* parent) { return new CPressIcon(parent); });
    builder.Build(this, GetDialogTemplate(IDD_RECORDER));

    m_pCurFile = builder.Find<QLabel>(IDC_CUR_FILE);
    m_pClipped = builder.Find<QLabel>(IDC_CLIPPED);
    m_pMixer = builder.Find<QPushButton>(IDC_MIXER);
    m_pPicture = builder.Find<QLabel>(IDC_PICTURE);
    m_pBackground = builder.Find<QCheckBox>(IDC_BACKGROUND);
    m_pTotalTime = builder.Find<QLabel>(IDC_TOTAL_TIME);
    m_pSongTime = builder.Find<QLabel>(IDC_SONG_TIME);
    m_pPresetBox = builder.Find<QComboBox>(IDC_PRESETS);
    m_pCustomize = builder.Find<QPushButton>(IDC_CUSTOMIZE);
    m_pDefaultButton = builder.Find<QPushButton>(IDC_DEFAULT);
    m_pExit = builder.Find<QPushButton>(IDC_EXIT);
    m_pBaseNameBox = builder.Find<QComboBox>(IDC_BASE_NAME);
    m_pStop = builder.Find<QPushButton>(IDC_STOP);
    m_pRecord = builder.Find<QPushButton>(IDC_RECORD);
    m_pNew = builder.Find<QPushButton>(IDC_NEW);
    m_pIcon = builder.Find<CPressIcon>(IDC_ICON);
    m_ledLeft = builder.Find<CLedBar>(IDC_LED_LEFT);
    m_ledRight = builder.Find<CLedBar>(IDC_LED_RIGHT);
    m_pHelp = builder.Find<QPushButton>(IDC_HELP);

    connect(m_pNew, &QPushButton::clicked, this, [this] { OnNew(); });
    connect(m_pBaseNameBox, QOverload<int>::of(&QComboBox::activated), this, [this](int) { OnSelChangeBaseName(); });
    connect(m_pRecord, &QPushButton::clicked, this, [this] { OnRecord(); });
    connect(m_pStop, &QPushButton::clicked, this, [this] { OnStop(); });
    connect(m_pCustomize, &QPushButton::clicked, this, [this] { OnCustomize(); });
    connect(m_pPresetBox, QOverload<int>::of(&QComboBox::activated), this, [this](int) { OnSelChangePreset(); });
    connect(m_pBackground, &QCheckBox::clicked, this, [this] { OnBackground(); });
    connect(m_pMixer, &QPushButton::clicked, this, [this] { OnMixer(); });
    connect(m_pIcon, &CPressIcon::clicked, this, [this] { OnIconClicked(); });
    connect(m_pExit, &QPushButton::clicked, this, [this] { OnOK(); });
    connect(m_pHelp, &QPushButton::clicked, this, [this] { OnHelp(); });
    // A click on either LED bar starts or ends watching the input.
    m_ledLeft->installEventFilter(this);
    m_ledRight->installEventFilter(this);
}

void CRecorderDlg::OnInitDialog()
{
    // 1. The controls, bound by id.
    BuildControls();
    setWindowTitle(QString::fromUtf8(kTitle));
    setProperty("helpTopic", IDH_RECORDER);  // the title changes while minimised
    // 2. "About" lives in the window's context menu (contextMenuEvent); the window
    //    manager's menu is not the program's own here.
    // 3. The program icon for the title bar, the task bar and the minimised window.
    setWindowIcon(m_hIcon);

    // 4. Persisted settings and window position (fills the base file list).
    LoadSettings(*m_pStore, MakeSettingsHost());
    // 5. Presets: fills the preset list and selects the stored preset name.
    m_presetFile.LoadPresets(m_presets, m_szPresetName, *this, *m_pPrompt, m_strPresetDirectory);
    // 6. Capture buffer size.
    m_pSession->SetBufferSize(kBufferSize);
    // 7. Colours, fonts, button icons and pictures.
    SetupAppearance();
    // 8. Idle.
    EnableRecordingControls(false);
    // 9. The LED bars' font.
    SetupLedFont();
    // 10, 11. The LED bars and the meter thread.
    SetupMeters();
    // 12, 13. Tooltips.
    SetupToolTips();
    // 14.
    FocusDefaultButton();
}

CSettingsHost CRecorderDlg::MakeSettingsHost()
{
    CSettingsHost host;
    host.m_pValues = &m_values;
    host.m_pSplitter = &m_splitter;
    host.m_setDevice = [this](int32_t nDevice) { m_waveIn.SetDevice(nDevice); };
    host.m_pBaseNames = this;
    host.m_pPlacement = this;
    host.m_szPresetName = m_szPresetName;
    host.m_pbBackground = &m_bBackground;
    host.m_pnListenSeconds = &m_nListenSeconds;
    return host;
}

uint32_t CRecorderDlg::SystemButtonFace() const
{
    return CAppearance::FromQColor(QApplication::palette().color(QPalette::Active, QPalette::Button));
}

uint32_t CRecorderDlg::SystemText() const
{
    return CAppearance::FromQColor(QApplication::palette().color(QPalette::Active, QPalette::WindowText));
}

void CRecorderDlg::SetupAppearance()
{
    // 1, 2. Large fonts and the colour count, from the screen the window is on.
    const QScreen* pScreen = screen() ? screen() : QGuiApplication::primaryScreen();
    const double fDpi = pScreen ? pScreen->logicalDotsPerInchY() : 96.0;
    const double fRatio = pScreen ? pScreen->devicePixelRatio() : 1.0;
    m_bLargeFonts = CAppearance::IsLargeFonts(fDpi, fRatio);
    m_nNumColors = CAppearance::NumColorsForDepth(pScreen ? pScreen->depth() : 24);
    // 3. True-colour displays need no palette.
    // 4. The check box shows the restored flag.
    m_pBackground->setChecked(m_bBackground != 0);
    // 5, 6. Colours and the ground.
    const CAppearance::Colours colours =
        CAppearance::StartColours(m_bBackground, m_nNumColors, SystemButtonFace(), SystemText());
    m_crBackground = colours.crBackground;
    m_crText = colours.crText;
    ApplyColours();
    // 7. The combo boxes' font.
    m_fontCombo = CDialogBuilder::MakeFont("MS Serif", 14, 600);
    m_pBaseNameBox->setFont(m_fontCombo);
    m_pPresetBox->setFont(m_fontCombo);
    // 8. Button images.
    m_hIconRecord = LoadIcon(IDI_RECORD);
    m_hIconStop = LoadIcon(IDI_STOP);
    m_hIconMixer = LoadIcon(IDI_MIXER);
    m_pRecord->setIcon(m_hIconRecord);
    m_pStop->setIcon(m_hIconStop);
    m_pMixer->setIcon(m_hIconMixer);
    // 9. The pictures of the record.
    LoadPictures();
    SetStatusPicture(false);
    // 10. On a large-font screen nudge the icon control and the picture.
    //     The whole window is laid out at the screen's scale already, so the nudge
    //     stops at the window's edge rather than cut a control off.
    if (m_bLargeFonts) {
        m_pIcon->move(CAppearance::KeepInside(CAppearance::LargeFontIconPos(m_pIcon->geometry()),
                                              m_pIcon->size(), size()));
        m_pPicture->move(CAppearance::KeepInside(CAppearance::LargeFontPicturePos(m_pPicture->geometry()),
                                                 m_pPicture->size(), size()));
    }
}

// Colours every kind of control: the combo boxes green on black, the status fields red
// on black, the icon control as the system draws it, and the window with its labels,
// group boxes and check box in the scheme's text on the scheme's ground.
void CRecorderDlg::ApplyColours()
{
    const CAppearance::Colours colours{m_crBackground, m_crText};
    m_qcBackground = CAppearance::ToQColor(m_crBackground);
    m_qcText = CAppearance::ToQColor(m_crText);
    m_palBackground = CAppearance::GroundPalette(QApplication::palette(), colours);
    setPalette(m_palBackground);
    setAutoFillBackground(true);

    const QPalette combo = CAppearance::ComboPalette(QApplication::palette());
    for (QComboBox* pBox : {m_pBaseNameBox, m_pPresetBox}) {
        pBox->setPalette(combo);
        if (pBox->view()) pBox->view()->setPalette(combo);
    }
    const QPalette status = CAppearance::StatusPalette(QApplication::palette());
    for (QLabel* pField : {m_pCurFile, m_pSongTime, m_pTotalTime, m_pClipped}) {
        pField->setPalette(status);
        pField->setAutoFillBackground(true);
    }
    m_pIcon->setPalette(QApplication::palette());
    // Buttons keep the system's faces; only the ground around them is the scheme's.
    for (QPushButton* pButton : findChildren<QPushButton*>())
        pButton->setPalette(QApplication::palette());
    update();
}

void CRecorderDlg::LoadPictures()
{
    if (m_bBackground) {
        m_hBmpIdle = LoadBitmap(IDB_RECORD_IDLE_PURPLE);
        m_hBmpActive = LoadBitmap(IDB_RECORD_ACTIVE_PURPLE);
    } else {
        m_hBmpIdle = LoadBitmap(IDB_RECORD_IDLE_LIGHT);
        m_hBmpActive = LoadBitmap(IDB_RECORD_ACTIVE_LIGHT);
    }
}

void CRecorderDlg::SetupLedFont()
{
    m_fontLed = CDialogBuilder::MakeFont("MS Serif", 13, 100);
}

void CRecorderDlg::SetupMeters()
{
    m_ledLeft->SetLedCount(20);
    m_meter.AddBar(m_ledLeft);
    m_ledRight->SetLedCount(20);
    m_meter.AddBar(m_ledRight);
    // The level record starts idle in the session (-100 dB, no clips, unread).
    CRecordSession* pSession = m_pSession.get();
    CInputMonitor* pMonitor = m_pMonitor.get();
    m_meter.Start(
        [pSession, pMonitor](int nChannel, LedLevels* pLevels, const std::atomic<bool>& bStopping) {
            // Reads the level record under its lock (the monitor's while the input is
            // watched, the session's otherwise), giving up when the meter is being
            // destroyed so closing the window never waits on the lock.
            int32_t nRms = -100, nPeak = -100, nClips = 0;
            const bool bRead = pMonitor->IsRunning()
                ? pMonitor->GetChannelLevels(nChannel, &nRms, &nPeak, &nClips, bStopping)
                : pSession->GetChannelLevels(nChannel, &nRms, &nPeak, &nClips, bStopping);
            if (!bRead) return false;
            pLevels->nRmsDb = nRms;
            pLevels->nPeakDb = nPeak;
            pLevels->nClips = nClips;
            return true;
        },
        20, 40, 150, 300, 1);
    m_meter.SetRunning(true);
}

void CRecorderDlg::SetupToolTips()
{
    m_pToolTip = std::make_unique<CToolTip>();
    m_pToolTip->Create(this);
    m_pToolTip->AddWindowTool(m_pRecord, IDS_TIP_RECORD);
    m_pToolTip->AddWindowTool(m_pStop, IDS_TIP_STOP);
    m_pToolTip->AddWindowTool(m_pBaseNameBox, IDS_TIP_BASE_NAME);
    m_pToolTip->AddWindowTool(m_pNew, IDS_TIP_NEW);
    m_pToolTip->AddWindowTool(m_pMixer, IDS_TIP_MIXER);
    m_pToolTip->AddRectTool(this, IDS_TIP_WATCH_LEFT, m_ledLeft->geometry(), IDC_LED_LEFT);
    m_pToolTip->AddRectTool(this, IDS_TIP_WATCH_RIGHT, m_ledRight->geometry(), IDC_LED_RIGHT);
    m_pToolTip->Activate(true);
}

// ---------------------------------------------------------------------------------
// Base file names

void CRecorderDlg::AddBaseName(const std::string& path)
{
    const std::string title = FileTitle(path);
    m_pBaseNameBox->insertItem(0, QFile::decodeName(QByteArray::fromStdString(title)), PathData(path));
    m_pBaseNameBox->setCurrentIndex(0);
    OnSelChangeBaseName();
}

void CRecorderDlg::OnNew()
{
    // Start from the current base path, or from "*.wav" when there is none.
    std::string initial = m_waveFile.GetFileName();
    if (initial.empty()) initial = "*.wav";
    const std::vector<PromptFileFilter> filters = {{"Windows PCM (*.wav)", "*.wav"},
                                                   {"All files (*.*)", "*.*"}};
    std::string full, title;
    if (m_pPrompt->SaveFileDialog(initial, "wav", filters, &full, &title) && !full.empty()) {
        if (title.empty()) title = FileTitle(full);
        // A path already in the list moves to the top.
        for (int i = 0; i < m_pBaseNameBox->count(); ++i) {
            if (DataPath(m_pBaseNameBox->itemData(i)) == full) {
                m_pBaseNameBox->removeItem(i);
                break;
            }
        }
        m_pBaseNameBox->insertItem(0, QFile::decodeName(QByteArray::fromStdString(title)), PathData(full));
        m_pBaseNameBox->setCurrentIndex(0);
        OnSelChangeBaseName();
    }
    FocusDefaultButton();
}

void CRecorderDlg::OnSelChangeBaseName()
{
    const int nIndex = m_pBaseNameBox->currentIndex();
    if (nIndex < 0 || m_pBaseNameBox->itemText(nIndex).isEmpty())
        m_waveFile.SetFileName("");
    else
        m_waveFile.SetFileName(DataPath(m_pBaseNameBox->itemData(nIndex)).c_str());
    FocusDefaultButton();
}

int CRecorderDlg::GetBaseNameCount() const
{
    return m_pBaseNameBox->count();
}

int CRecorderDlg::GetSelectedBaseName() const
{
    return m_pBaseNameBox->currentIndex();
}

std::string CRecorderDlg::GetBaseNamePath(int index) const
{
    if (index < 0 || index >= m_pBaseNameBox->count()) return std::string();
    return DataPath(m_pBaseNameBox->itemData(index));
}

void CRecorderDlg::RemoveBaseName(int index)
{
    if (index >= 0 && index < m_pBaseNameBox->count()) m_pBaseNameBox->removeItem(index);
}

std::string CRecorderDlg::GetBaseFileText() const
{
    return std::string(QFile::encodeName(m_pBaseNameBox->currentText()).constData());
}

std::string CRecorderDlg::GetBaseFilePath() const
{
    const int nIndex = m_pBaseNameBox->currentIndex();
    return nIndex < 0 ? std::string() : DataPath(m_pBaseNameBox->itemData(nIndex));
}

// ---------------------------------------------------------------------------------
// Presets

void CRecorderDlg::FillPresetList()
{
    ::FillPresetList(m_presets, m_szPresetName, *this);
}

void CRecorderDlg::ClearPresetBox()
{
    m_pPresetBox->clear();
}

void CRecorderDlg::AddPresetToBox(const std::string& name)
{
    // Shown as the settings window shows it; the entry carries the name byte for byte.
    CDialogBuilder::AddString(m_pPresetBox, CCustomSettingsDlg::NameToText(name), PathData(name));
}

int CRecorderDlg::FindPresetInBox(const std::string& name) const
{
    return CDialogBuilder::FindStringExact(m_pPresetBox, CCustomSettingsDlg::NameToText(name));
}

void CRecorderDlg::SelectPresetInBox(int index)
{
    m_pPresetBox->setCurrentIndex(index);
}

void CRecorderDlg::OnSelChangePreset()
{
    const int nIndex = m_pPresetBox->currentIndex();
    if (nIndex < 0) return;
    // The entry carries the preset's name byte for byte; its text is only for showing.
    const std::string name = DataPath(m_pPresetBox->itemData(nIndex));
    const CPresets* pPreset = m_presets.Find(name);
    if (!pPreset) return;
    CopyPresetName(m_szPresetName, name);
    ApplySettingsValues(pPreset->GetValues(), true);
}

void CRecorderDlg::ShowSplitterError()
{
    if (m_splitter.HasError())
        m_pPrompt->MessageBox(m_splitter.GetErrorText(), "ERROR", PromptButtons::Ok, PromptIcon::Stop);
}

// Gives the ten values to the window's copy, the splitter and the capture device. With
// bReportErrors each value the splitter refuses is shown in its own box, and the rest
// are applied all the same.
void CRecorderDlg::ApplySettingsValues(const CSettingsValues& values, bool bReportErrors)
{
    auto check = [&] {
        if (bReportErrors) ShowSplitterError();
    };
    m_values = values;
    m_splitter.SetGapSize(values.m_nGapSize);
    check();
    m_splitter.SetGapLevel(values.m_nGapLevel);
    check();
    m_splitter.SetMinSong(values.m_nMinSong);
    check();
    m_splitter.SetEndGap(values.m_nEndGap);
    check();
    m_splitter.SetDcBlock(values.m_bDCBlock);
    check();
    m_splitter.SetIgnoreClicks(values.m_bIgnoreClicks);
    check();
    m_splitter.SetBitsPerSample(values.m_nBitsPerSample);
    check();
    m_splitter.SetSamplesPerSec(values.m_nSamplesPerSec);
    check();
    m_splitter.SetChannels(values.m_nChannels);
    check();
    m_waveIn.SetDevice(values.m_nWaveInID);
}

void CRecorderDlg::OnCustomize()
{
    // The settings window may change the device or the format: watching stops while it
    // is open and starts again afterwards with what was chosen.
    const bool bWasMonitoring = IsMonitoring();
    StopMonitor();
    CCustomSettingsDlg dlg(m_presets, m_szPresetName, m_qcBackground, m_qcText, m_pPrompt, this);
    dlg.SetValues(m_values);
    dlg.m_nListenSeconds = m_nListenSeconds;
    if (m_listDevices) dlg.m_pfnEnumerateDevices = m_listDevices;
    if (m_runDialog(dlg) == QDialog::Accepted) {
        ApplySettingsValues(dlg.GetValues(), false);
        m_nListenSeconds = dlg.m_nListenSeconds;
        FillPresetList();
    }
    if (bWasMonitoring) OnMonitor();
    FocusDefaultButton();
}

// ---------------------------------------------------------------------------------
// Recording

void CRecorderDlg::OnRecord()
{
    if (m_pSongsOffer) m_pSongsOffer->hide();
    // Record while watching the input records at once: the monitor hands the device over.
    StopMonitor();
    m_pSession->SetListenSeconds(m_nListenSeconds);
    m_pSession->OnRecord();
}

void CRecorderDlg::OnMonitor()
{
    if (m_pSession->IsRecording()) return;
    if (IsMonitoring()) {
        StopMonitor();
        return;
    }
    if (!m_pMonitor->Start(m_splitter, m_pSession->GetBufferSize())) {
        m_pPrompt->MessageBox(m_pMonitor->GetErrorText(), "ERROR", PromptButtons::Ok, PromptIcon::Stop);
        return;
    }
    SetStatusText(RecordStatusField::CurFile, "Monitor: not recording");
    // A number to aim for while turning the gain: the highest peak of the last seconds.
    if (!m_pMonitorPeakTimer) {
        m_pMonitorPeakTimer = new QTimer(this);
        m_pMonitorPeakTimer->setInterval(250);
        connect(m_pMonitorPeakTimer, &QTimer::timeout, this, [this] {
            double fDb = 0;
            if (!IsMonitoring() || !m_pMonitor->GetRecentPeakDb(&fDb)) return;
            SetStatusText(RecordStatusField::CurFile,
                          fDb < -90.0 ? std::string("Monitor: peak below -90 dBFS")
                                      : QString::asprintf("Monitor: peak %.1f dBFS", fDb).toStdString());
        });
    }
    m_pMonitorPeakTimer->start();
}

void CRecorderDlg::StopMonitor()
{
    if (!IsMonitoring()) return;
    m_pMonitor->Stop();
    MonitorStopped();
}

void CRecorderDlg::MonitorStopped()
{
    if (m_pMonitorPeakTimer) m_pMonitorPeakTimer->stop();
    // The columns showed the input no longer watched: dark at once.
    m_meter.Clear();
    SetStatusText(RecordStatusField::CurFile, m_pSession->GetCurFileText());
}

void CRecorderDlg::PostMonitorEnded()
{
    QCoreApplication::postEvent(this, new CMonitorEndedEvent());
}

void CRecorderDlg::OnStop()
{
    m_pSession->OnStop();
}

void CRecorderDlg::PostRecordProgress(int64_t nBytes, bool bCut)
{
    QCoreApplication::postEvent(this, new CRecordProgressEvent(nBytes, bCut));
}

void CRecorderDlg::PostRecordDone()
{
    QCoreApplication::postEvent(this, new CRecordDoneEvent());
}

void CRecorderDlg::PostErrorBox(const std::string& strText, const std::string& strCaption)
{
    QCoreApplication::postEvent(this, new CRecordErrorEvent(strText, strCaption));
}

void CRecorderDlg::customEvent(QEvent* pEvent)
{
    if (pEvent->type() == CRecordProgressEvent::kType) {
        const auto* pProgress = static_cast<CRecordProgressEvent*>(pEvent);
        m_pSession->OnRecordProgress(pProgress->m_nBytes, pProgress->m_bCut);
        FollowRecordingInSongs();
    } else if (pEvent->type() == CRecordDoneEvent::kType) {
        const bool bWasRecording = m_pSession->IsRecording();
        m_pSession->OnRecordDone();
        if (bWasRecording && !m_pSession->IsRecording() && !m_bClosing) {
            const std::string base = GetBaseFilePath();
            m_strLastRecorded = base;
            if (m_pSongsDlg) m_pSongsDlg->SetLastRecording(base);
            if (m_pSongsDlg && (m_pSongsDlg->GetBasePath() == base || m_pSongsDlg->HasSide(base)))
                m_pSongsDlg->Reload();
            size_t nKept = 0;  // the files on disk: a removed closing silence is no song
            for (const RecordSongFile& file : m_pSession->GetSongFiles()) nKept += file.bDeleted ? 0 : 1;
            OfferSongs(base, nKept);
        }
    } else if (pEvent->type() == CMonitorEndedEvent::kType) {
        const bool bWasMonitoring = IsMonitoring();
        const std::string strError = m_pMonitor->OnMonitorEnded();
        if (bWasMonitoring) MonitorStopped();
        if (!strError.empty()) m_pPrompt->MessageBox(strError, "ERROR", PromptButtons::Ok, PromptIcon::Stop);
    } else if (pEvent->type() == CRecordErrorEvent::kType) {
        const auto* pError = static_cast<CRecordErrorEvent*>(pEvent);
        m_pSession->ShowWorkerError(pError->m_strText, pError->m_strCaption);
    } else {
        QDialog::customEvent(pEvent);
    }
}

void CRecorderDlg::EnableRecordingControls(bool bRecording)
{
    for (QWidget* pControl : std::initializer_list<QWidget*>{m_pBaseNameBox, m_pNew, m_pRecord, m_pPresetBox, m_pCustomize})
        pControl->setEnabled(!bRecording);
    m_pStop->setEnabled(bRecording);
}

void CRecorderDlg::SetStatusText(RecordStatusField field, const std::string& strText)
{
    QLabel* pField = nullptr;
    switch (field) {
    case RecordStatusField::CurFile: pField = m_pCurFile; break;
    case RecordStatusField::SongTime: pField = m_pSongTime; break;
    case RecordStatusField::TotalTime: pField = m_pTotalTime; break;
    case RecordStatusField::Clipped: pField = m_pClipped; break;
    }
    if (pField) pField->setText(QString::fromStdString(strText));
}

void CRecorderDlg::SetStatusPicture(bool bActive)
{
    m_bPictureActive = bActive;
    m_pPicture->setPixmap(bActive ? m_hBmpActive : m_hBmpIdle);
}

bool CRecorderDlg::IsMinimised() const
{
    return m_nSizeType == 1;
}

void CRecorderDlg::SetWindowTitle(const std::string& strTitle)
{
    setWindowTitle(QString::fromStdString(strTitle));
}

void CRecorderDlg::SetWaitCursor(bool bWait)
{
    if (bWait)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void CRecorderDlg::FocusBaseFileName()
{
    m_pBaseNameBox->setFocus(Qt::OtherFocusReason);
}

void CRecorderDlg::RunNewCommand()
{
    OnNew();
}

// ---------------------------------------------------------------------------------
// Appearance

void CRecorderDlg::OnBackground()
{
    m_bBackground = m_pBackground->isChecked() ? 1 : 0;
    const CAppearance::Colours colours =
        CAppearance::SwitchColours(m_bBackground, m_nNumColors, SystemButtonFace(), SystemText());
    m_crBackground = colours.crBackground;
    m_crText = colours.crText;
    LoadPictures();
    ApplyColours();
    SetStatusPicture(false);
    FocusDefaultButton();
}

void CRecorderDlg::OnSysColorChange()
{
    const QScreen* pScreen = screen() ? screen() : QGuiApplication::primaryScreen();
    m_nNumColors = CAppearance::NumColorsForDepth(pScreen ? pScreen->depth() : 24);
    OnBackground();
}

void CRecorderDlg::paintEvent(QPaintEvent* pEvent)
{
    if (isMinimized()) {
        // Some window managers show the minimised client area: the program icon, centred.
        QPainter painter(this);
        const int nSize = style()->pixelMetric(QStyle::PM_LargeIconSize);
        const QPoint pos = CAppearance::MinimisedIconPos(width(), height(), nSize, nSize);
        m_hIcon.paint(&painter, QRect(pos, QSize(nSize, nSize)));
        return;
    }
    QDialog::paintEvent(pEvent);
}

void CRecorderDlg::changeEvent(QEvent* pEvent)
{
    QDialog::changeEvent(pEvent);
    if (pEvent->type() == QEvent::WindowStateChange)
        OnSize(isMinimized() ? 1 : 0);
}

bool CRecorderDlg::eventFilter(QObject* pWatched, QEvent* pEvent)
{
    // The desktop's colours changed: the current scheme is applied again with them.
    if (pWatched == qApp && pEvent->type() == QEvent::ApplicationPaletteChange && m_pBackground)
        OnSysColorChange();
    if ((pWatched == m_ledLeft || pWatched == m_ledRight) && pEvent->type() == QEvent::MouseButtonPress &&
        static_cast<QMouseEvent*>(pEvent)->button() == Qt::LeftButton) {
        OnMonitor();
        return true;
    }
    return QDialog::eventFilter(pWatched, pEvent);
}

void CRecorderDlg::OnSize(int nType)
{
    {
        std::lock_guard<std::mutex> lock(m_pSession->GetLock());
        m_meter.SetRunning(nType != 1);
    }
    m_nSizeType = nType;
    if (nType != 1) setWindowTitle(QString::fromUtf8(kTitle));
}

// ---------------------------------------------------------------------------------
// Small commands

QStringList CRecorderDlg::MixerCommands()
{
    return {"pavucontrol", "pavucontrol-qt", "pwvucontrol", "gnome-control-center sound",
            "kcmshell6 kcm_pulseaudio", "kcmshell5 kcm_pulseaudio", "x-terminal-emulator -e alsamixer"};
}

void CRecorderDlg::OnMixer()
{
    // The first mixer found on the PATH is started on its own. When none starts, the user
    // learns which mixers were tried and what to install.
    bool bStarted = false;
    for (const QString& command : MixerCommands()) {
        QStringList parts = command.split(' ');
        const QString program = parts.takeFirst();
        if (QStandardPaths::findExecutable(program).isEmpty()) continue;
        if (QProcess::startDetached(program, parts)) {
            bStarted = true;
            break;
        }
    }
    if (!bStarted) {
        const std::string text = "No mixer program could be started.\n\nCadenzo tried: " +
                                 MixerCommands().join(", ").toStdString() +
                                 ".\n\nInstall one of them, for example the package "
                                 "\"pavucontrol\" (sudo apt install pavucontrol),\n"
                                 "then press Mixer again.\n";
        m_pPrompt->MessageBox(text, "Mixer Not Found", PromptButtons::Ok, PromptIcon::Exclamation);
    }
    FocusDefaultButton();
}

void CRecorderDlg::OnAbout()
{
    CAboutDlg dlg(this);
    m_runDialog(dlg);
}

void CRecorderDlg::OnIconClicked()
{
    OnAbout();
    FocusDefaultButton();
}

void CRecorderDlg::OnHelp()
{
    // Help is the application's: it shows the page of whichever window is active.
    CRecorderApp::OnHelp(this);
}

void CRecorderDlg::contextMenuEvent(QContextMenuEvent* pEvent)
{
    const QString about = LoadString(IDS_ABOUTBOX);
    if (about.isEmpty()) return;
    QMenu menu(this);
    menu.addAction(about, this, [this] { OnAbout(); });
    menu.addAction(tr("&Help"), this, [this] { OnHelp(); });
    menu.addSeparator();
    QAction* pWatch = menu.addAction(tr("&Watch Input Levels"), this, [this] { OnMonitor(); });
    pWatch->setCheckable(true);
    pWatch->setChecked(IsMonitoring());
    pWatch->setEnabled(!m_pSession->IsRecording());
    QAction* pSongs = menu.addAction(tr("&Songs..."), this, [this] { OnSongs(); });
    pSongs->setEnabled(!GetBaseFilePath().empty());
    menu.exec(pEvent->globalPos());
}

// ---------------------------------------------------------------------------------
// Songs

void CRecorderDlg::OnSongs()
{
    OpenSongs(GetBaseFilePath());
}

void CRecorderDlg::OpenSongs(const std::string& base)
{
    if (m_pSongsOffer) m_pSongsOffer->hide();
    if (base.empty()) return;
    if (!m_pSongsDlg) {
        // A child of the main window, so the main window's modality leaves it usable.
        m_pSongsDlg = new CSongsDlg(m_pPrompt, this);
        m_pSongsDlg->setAttribute(Qt::WA_DeleteOnClose);
        m_pSongsDlg->setWindowIcon(m_hIcon);
        m_pSongsDlg->SetStore(m_pStore);
        m_pSongsDlg->PlaceBeside(this);
    }
    m_pSongsDlg->SetLastRecording(m_strLastRecorded);
    // Gap Level from its stored form: dB = 20 log10(-position / 32768).
    m_pSongsDlg->SetGapLevel(20.0 * std::log10(-static_cast<double>(m_values.m_nGapLevel) / 32768.0));
    m_pSongsDlg->SetRecordingCheck([this, base] { return m_pSession->IsRecording() && GetBaseFilePath() == base; });
    // While the recording runs, the songs it has finished, to look at.
    const bool bOk = m_pSession->IsRecording() ? m_pSongsDlg->ShowRecording(base, FinishedSongs())
                                               : m_pSongsDlg->Open(base);
    if (!bOk) {
        m_pSongsDlg->close();
        return;
    }
    m_pSongsDlg->show();
    m_pSongsDlg->raise();
    m_pSongsDlg->activateWindow();
}

std::vector<std::string> CRecorderDlg::FinishedSongs() const
{
    std::vector<std::string> paths;
    for (const RecordSongFile& file : m_pSession->GetSongFiles())
        if (file.bClosed && !file.bDeleted) paths.push_back(file.strPath);
    return paths;
}

// The Songs window follows a recording to the base it shows: from the start of a new
// take, and each time a song ends.
void CRecorderDlg::FollowRecordingInSongs()
{
    if (!m_pSongsDlg || !m_pSession->IsRecording() || m_pSongsDlg->GetBasePath() != GetBaseFilePath()) return;
    const std::vector<std::string> finished = FinishedSongs();
    if (m_pSongsDlg->IsShowingRecording() &&
        static_cast<size_t>(m_pSongsDlg->GetAlbum().GetSongCount()) == finished.size())
        return;
    m_pSongsDlg->ShowRecording(GetBaseFilePath(), finished);
}

// A small window under the main window that offers the Songs window for a finished
// recording. It takes no focus and hides when the next recording starts, so Enter,
// Space and Record go on working as before.
void CRecorderDlg::OfferSongs(const std::string& strBasePath, size_t nSongs)
{
    if (strBasePath.empty() || nSongs == 0) return;
    m_strOfferedBase = strBasePath;
    if (!m_pSongsOffer) {
        auto* pOffer = new QFrame(this, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus);
        pOffer->setObjectName("songsOffer");
        pOffer->setWindowTitle(QStringLiteral("Cadenzo"));
        pOffer->setAttribute(Qt::WA_ShowWithoutActivating);
        pOffer->setFrameStyle(QFrame::Box | QFrame::Plain);
        pOffer->setPalette(m_palBackground);
        pOffer->setAutoFillBackground(true);
        auto* pLayout = new QHBoxLayout(pOffer);
        auto* pText = new QLabel(pOffer);
        pText->setObjectName("songsOfferText");
        pText->setWordWrap(true);
        auto* pOpen = new QPushButton(tr("Review the &Songs..."), pOffer);
        pOpen->setObjectName("songsOfferOpen");
        pOpen->setFocusPolicy(Qt::NoFocus);
        pOpen->setPalette(QApplication::palette());
        auto* pClose = new QPushButton(tr("Later"), pOffer);
        pClose->setFocusPolicy(Qt::NoFocus);
        pClose->setPalette(QApplication::palette());
        pLayout->addWidget(pText, 1);
        pLayout->addWidget(pOpen);
        pLayout->addWidget(pClose);
        connect(pOpen, &QPushButton::clicked, this, [this] {
            // The offer is for the recording that ended, even if another base is chosen since.
            OpenSongs(m_strOfferedBase);
        });
        connect(pClose, &QPushButton::clicked, pOffer, &QWidget::hide);
        m_pSongsOffer = pOffer;
    }
    auto* pText = m_pSongsOffer->findChild<QLabel*>("songsOfferText");
    const QString name = QFile::decodeName(QByteArray::fromStdString(FileTitle(strBasePath)));
    QString text = nSongs == 1 ? tr("%1: 1 song recorded.").arg(name) : tr("%1: %2 songs recorded.").arg(name).arg(nSongs);
    // Where the recording listened past End Gap and went on because sound came back.
    const std::vector<RecordResume> resumes = m_pSession->GetResumes();
    if (!resumes.empty()) {
        QStringList places;
        for (size_t i = 0; i < resumes.size() && i < 3; ++i) {
            const RecordResume& r = resumes[i];
            places << tr("at %1:%2 in %3 after %4 s of silence")
                          .arg(r.nFileSeconds / 60, 2, 10, QLatin1Char('0'))
                          .arg(r.nFileSeconds % 60, 2, 10, QLatin1Char('0'))
                          .arg(QFile::decodeName(QByteArray::fromStdString(r.strFile)))
                          .arg(static_cast<int>(r.fSilenceSeconds));
        }
        if (resumes.size() > 3) places << tr("and %1 more").arg(resumes.size() - 3);
        text += resumes.size() == 1 ? tr(" It went on past End Gap: sound came back %1.").arg(places.join(QString()))
                                    : tr(" It went on past End Gap %1 times, as sound came back: %2.")
                                          .arg(resumes.size())
                                          .arg(places.join(QStringLiteral("; ")));
    }
    pText->setText(text);
    // As wide as the window, and as tall as the text needs when it wraps.
    const int nWidth = frameGeometry().width();
    m_pSongsOffer->setFixedWidth(nWidth);
    QLayout* pLayout = m_pSongsOffer->layout();
    pLayout->activate();
    m_pSongsOffer->setFixedHeight(
        std::max(pLayout->totalHeightForWidth(nWidth), pLayout->totalMinimumSize().height()));
    m_pSongsOffer->move(frameGeometry().left(), frameGeometry().bottom() + 1);
    m_pSongsOffer->show();
}

void CRecorderDlg::FocusDefaultButton()
{
    // The hidden default button has no command: with the focus on the window itself,
    // Enter finds no visible default button and does nothing.
    setFocus(Qt::OtherFocusReason);
}

// ---------------------------------------------------------------------------------
// Window placement

CWindowPlacement CRecorderDlg::GetWindowPlacement() const
{
    // Positions are of the whole window, frame included, as move() takes them, so a
    // stored position brings the window back exactly where it was.
    CWindowPlacement placement;
    const QRect rc(pos(), frameGeometry().size());
    placement.m_nFlags = 0;
    placement.m_nShowCmd = isMinimized() ? 2 : 1;
    placement.m_nLeft = rc.left();
    placement.m_nTop = rc.top();
    placement.m_nRight = rc.left() + rc.width();
    placement.m_nBottom = rc.top() + rc.height();
    return placement;
}

void CRecorderDlg::SetWindowPlacement(const CWindowPlacement& placement)
{
    move(placement.m_nLeft, placement.m_nTop);
}

int32_t CRecorderDlg::GetScreenWidth() const
{
    const QScreen* pScreen = screen() ? screen() : QGuiApplication::primaryScreen();
    return pScreen ? pScreen->geometry().width() : 1024;
}

int32_t CRecorderDlg::GetScreenHeight() const
{
    const QScreen* pScreen = screen() ? screen() : QGuiApplication::primaryScreen();
    return pScreen ? pScreen->geometry().height() : 768;
}

int32_t CRecorderDlg::GetIconWidth() const
{
    return style()->pixelMetric(QStyle::PM_LargeIconSize);
}

int32_t CRecorderDlg::GetIconHeight() const
{
    return style()->pixelMetric(QStyle::PM_LargeIconSize);
}

// ---------------------------------------------------------------------------------
// Ending

void CRecorderDlg::OnOK()
{
    if (m_bClosing) return;
    m_bClosing = true;
    StopMonitor();
    // 1. A running recording ends here, its last file completed.
    if (m_pSession->IsRecording()) {
        m_pSession->OnStop();
        m_pSession->OnRecordDone();
    }
    // A title being typed in the Songs window is kept, while its album is still open.
    if (m_pSongsDlg) m_pSongsDlg->close();
    // 2, 3. Presets, then settings.
    m_presetFile.SavePresets(m_presets, *m_pPrompt);
    SaveSettings(*m_pStore, MakeSettingsHost());
    m_pStore->sync();
    // 4. The remaining base file entries.
    m_pBaseNameBox->clear();
    // 5.
    done(QDialog::Accepted);
}

void CRecorderDlg::OnClose()
{
    OnOK();
}

void CRecorderDlg::closeEvent(QCloseEvent* pEvent)
{
    OnClose();
    pEvent->accept();
}

void CRecorderDlg::reject()
{
    // Escape has no command in this window: it neither ends a recording nor the program.
}
