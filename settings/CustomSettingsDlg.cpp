#include "settings/CustomSettingsDlg.h"

#include "capture/WaveIn.h"
#include "controls/QtPrompt.h"
#include "resources/DialogTemplate.h"
#include "resources/Help.h"
#include "resources/ResourceIds.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QKeyEvent>
#include <QSlider>
#include <QWheelEvent>
#include <QStringDecoder>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace {

constexpr char kPresetError[] = "Preset Error";
constexpr char kPresetWarning[] = "Preset Warning";

// The combo boxes' edit fields and lists: green on black.
const QColor kComboText(50, 200, 50);
const QColor kComboGround(0, 0, 0);

// Conversions of the stored forms, with the factors the splitter uses.
constexpr float kGapSizeFactor = 0.00056689343f;  // 1/1764 as float32
constexpr float kSongFactor = 0.0056689344f;       // 1/176.4 as float32, slightly above

}  // namespace

CCustomSettingsDlg::CCustomSettingsDlg(CPresetList& presets, char* szPresetName,
                                       const QColor& crBackground, const QColor& crText,
                                       IPrompt* pPrompt, QWidget* pParent)
    : QDialog(pParent),
      m_pPresets(presets),
      m_pszPresetName(szPresetName),
      m_pcrBackground(crBackground),
      m_pcrText(crText),
      m_pPrompt(pPrompt) {
    m_pfnEnumerateDevices = &EnumerateDevices;
    if (!m_pPrompt) {
        m_pOwnPrompt = std::make_unique<CQtPrompt>(this);
        m_pPrompt = m_pOwnPrompt.get();
    }
    setModal(true);
    m_builder.Build(this, GetDialogTemplate(IDD_CUSTOM_SETTINGS));
    BindControls();

    // Sliders: every scroll action, the thumb while it is dragged, and its release.
    for (QSlider* pSlider : {m_pGapSize, m_pGapLevel, m_pMinSong, m_pEndGap}) {
        if (!pSlider) continue;
        connect(pSlider, &QSlider::actionTriggered, this,
                [this, pSlider](int) { OnVScroll(pSlider, pSlider->sliderPosition()); });
        connect(pSlider, &QSlider::valueChanged, this,
                [this, pSlider](int nValue) { OnVScroll(pSlider, nValue); });
        connect(pSlider, &QSlider::sliderReleased, this,
                [this, pSlider] { OnVScroll(pSlider, pSlider->value()); });
        pSlider->installEventFilter(this);
    }
    if (m_pAdd) connect(m_pAdd, &QPushButton::clicked, this, [this] { OnAddPreset(); });
    if (m_pDelete) connect(m_pDelete, &QPushButton::clicked, this, [this] { OnDeletePreset(); });
    if (m_pPresetBox) {
        // Only a user's pick applies a preset; the window's own selections do not.
        connect(m_pPresetBox, qOverload<int>(&QComboBox::activated), this,
                [this](int nIndex) { OnSelChangePreset(nIndex); });
        if (QLineEdit* pEdit = m_pPresetBox->lineEdit()) {
            // The box on its own selects (and reports as picked) the entry matching a
            // typed name when the edit field loses the focus or takes Enter. A typed
            // name is the user's new text, not a pick: the window's own handlers decide
            // (add, clear, or ask), and the values on screen stay as they are.
            disconnect(pEdit, &QLineEdit::editingFinished, m_pPresetBox, nullptr);
            disconnect(pEdit, &QLineEdit::returnPressed, m_pPresetBox, nullptr);
            connect(pEdit, &QLineEdit::textEdited, this,
                    [this](const QString& text) { OnPresetTextEdited(text); });
        }
    }
    if (m_pDeviceBox)
        connect(m_pDeviceBox, qOverload<int>(&QComboBox::activated), this,
                [this](int nIndex) { OnSelChangeDevice(nIndex); });
    if (m_pListenBox)
        connect(m_pListenBox, qOverload<int>(&QComboBox::activated), this, [this](int nIndex) {
            if (nIndex >= 0) m_nListenSeconds = m_pListenBox->itemData(nIndex).toInt();
        });
    if (m_pDCBlock) connect(m_pDCBlock, &QPushButton::clicked, this, [this] { OnDCBlock(); });
    if (m_pSmartGap) connect(m_pSmartGap, &QCheckBox::clicked, this, [this] { OnSmartGap(); });
    const std::pair<QRadioButton*, int32_t> rates[] = {
        {m_pRate11, 11025}, {m_pRate22, 22050}, {m_pRate44, 44100}, {m_pRate48, 48000}};
    for (const auto& rate : rates)
        if (rate.first)
            connect(rate.first, &QRadioButton::clicked, this,
                    [this, nRate = rate.second] { m_nSamplesPerSec = nRate; });
    if (m_pBits16) connect(m_pBits16, &QRadioButton::clicked, this, [this] { m_nBitsPerSample = 16; });
    if (m_pBits24) connect(m_pBits24, &QRadioButton::clicked, this, [this] { m_nBitsPerSample = 32; });
    if (m_pDone) connect(m_pDone, &QPushButton::clicked, this, &QDialog::accept);
    if (m_pHelp) connect(m_pHelp, &QPushButton::clicked, this, [this] { OnHelp(); });
    // The typed-name question when the focus leaves the preset box.
    m_focusConnection = connect(qApp, &QApplication::focusChanged, this, [this](QWidget* pOld, QWidget* pNow) {
        if (m_pPresetBox && pOld && (pOld == m_pPresetBox || m_pPresetBox->isAncestorOf(pOld)))
            OnKillFocusPreset(pNow);
    });
}

CCustomSettingsDlg::~CCustomSettingsDlg() {
    // The children are destroyed after this body, and one that holds the focus reports
    // a focus change on its way out: the handler must no longer run on this window then.
    disconnect(m_focusConnection);
    ReleaseDevices();
}

void CCustomSettingsDlg::BindControls() {
    m_pSmartGap = m_builder.Find<QCheckBox>(1035);
    m_pMinSongLabel = m_builder.Find<QLabel>(1030);
    m_pEndGapLabel = m_builder.Find<QLabel>(1031);
    m_pMinSong = m_builder.Find<QSlider>(1027);
    m_pEndGap = m_builder.Find<QSlider>(1029);
    m_pDelete = m_builder.Find<QPushButton>(57672);
    m_pDefault = m_builder.Find<QPushButton>(1012);
    m_pGapSizeLabel = m_builder.Find<QLabel>(1023);
    m_pGapLevelLabel = m_builder.Find<QLabel>(1024);
    m_pGapSize = m_builder.Find<QSlider>(1020);
    m_pGapLevel = m_builder.Find<QSlider>(1021);
    m_pPresetBox = m_builder.Find<QComboBox>(1003);
    m_pDCBlock = m_builder.Find<QPushButton>(1022);
    m_pDeviceBox = m_builder.Find<QComboBox>(1006);
    m_pAdd = m_builder.Find<QPushButton>(57673);
    m_pRate44 = m_builder.Find<QRadioButton>(1036);
    m_pRate48 = m_builder.Find<QRadioButton>(1037);
    m_pRate22 = m_builder.Find<QRadioButton>(1042);
    m_pRate11 = m_builder.Find<QRadioButton>(1041);
    m_pBits16 = m_builder.Find<QRadioButton>(1038);
    m_pBits24 = m_builder.Find<QRadioButton>(1039);
    m_pDone = m_builder.Find<QPushButton>(1);
    m_pHelp = m_builder.Find<QPushButton>(57670);
    m_pListenBox = m_builder.Find<QComboBox>(1045);
}

void CCustomSettingsDlg::SetValues(const CSettingsValues& v) {
    m_nGapSize = v.m_nGapSize;
    m_nGapLevel = v.m_nGapLevel;
    m_nMinSong = v.m_nMinSong;
    m_nEndGap = v.m_nEndGap;
    m_bDCBlock = v.m_bDCBlock;
    m_bIgnoreClicks = v.m_bIgnoreClicks;
    m_nSamplesPerSec = v.m_nSamplesPerSec;
    m_nBitsPerSample = v.m_nBitsPerSample;
    m_nChannels = v.m_nChannels;
    m_nWaveInID = v.m_nWaveInID;
}

CSettingsValues CCustomSettingsDlg::GetValues() const {
    CSettingsValues v;
    v.m_nGapSize = m_nGapSize;
    v.m_nGapLevel = m_nGapLevel;
    v.m_nMinSong = m_nMinSong;
    v.m_nEndGap = m_nEndGap;
    v.m_bDCBlock = m_bDCBlock;
    v.m_bIgnoreClicks = m_bIgnoreClicks;
    v.m_nSamplesPerSec = m_nSamplesPerSec;
    v.m_nBitsPerSample = m_nBitsPerSample;
    v.m_nChannels = m_nChannels;
    v.m_nWaveInID = m_nWaveInID;
    return v;
}

// ---- labels and names ----

QString CCustomSettingsDlg::GapSizeLabel(int32_t nPosition) {
    const double fSeconds = -static_cast<double>(nPosition) * kGapSizeFactor;
    return QString::asprintf("%1.2f secs", static_cast<float>(fSeconds));
}

QString CCustomSettingsDlg::GapLevelLabel(int32_t nPosition) {
    const double fDb = 20.0 * std::log10(-static_cast<double>(nPosition) / 32768.0);
    return QString::asprintf("%2.1f dB", static_cast<float>(fDb));
}

QString CCustomSettingsDlg::SongLabel(int32_t nPosition) {
    const double fSeconds = -static_cast<double>(nPosition) * kSongFactor;
    return QString::asprintf("%2d secs", static_cast<int>(fSeconds));
}

QString CCustomSettingsDlg::NameToText(const std::string& name) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(QByteArrayView(name.data(), static_cast<qsizetype>(name.size())));
    if (!decoder.hasError()) return text;
    return QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
}

std::string CCustomSettingsDlg::TextToName(const QString& text) {
    return text.toUtf8().toStdString();
}

// ---- set-up ----

void CCustomSettingsDlg::showEvent(QShowEvent* pEvent) {
    OnInitDialog();
    QDialog::showEvent(pEvent);
}

void CCustomSettingsDlg::OnInitDialog() {
    if (m_bInitDone) return;
    m_bInitDone = true;

    FillPresetBox();
    FillDeviceBox();
    ApplyColours();

    m_fontCombo = CDialogBuilder::MakeFont("MS Serif", 14, 600);
    for (QComboBox* pBox : {m_pDeviceBox, m_pPresetBox})
        if (pBox) {
            pBox->setFont(m_fontCombo);
            pBox->view()->setFont(m_fontCombo);
        }

    SetUpSlider(m_pGapSize, m_splitter.GetGapSizeSliderMin(), m_splitter.GetGapSizeSliderMax(), m_nGapSize);
    if (m_pGapSizeLabel) m_pGapSizeLabel->setText(GapSizeLabel(m_nGapSize));
    SetUpSlider(m_pGapLevel, m_splitter.GetGapLevelSliderMin(), m_splitter.GetGapLevelSliderMax(), m_nGapLevel);
    if (m_pGapLevelLabel) m_pGapLevelLabel->setText(GapLevelLabel(m_nGapLevel));
    SetUpSlider(m_pMinSong, m_splitter.GetMinSongSliderMin(), m_splitter.GetMinSongSliderMax(), m_nMinSong);
    if (m_pMinSongLabel) m_pMinSongLabel->setText(SongLabel(m_nMinSong));
    SetUpSlider(m_pEndGap, m_splitter.GetEndGapSliderMin(), m_splitter.GetEndGapSliderMax(), m_nEndGap);
    if (m_pEndGapLabel) m_pEndGapLabel->setText(SongLabel(m_nEndGap));

    if (m_pDCBlock) m_pDCBlock->setChecked(m_bDCBlock != 0);
    if (m_pSmartGap) m_pSmartGap->setChecked(m_bIgnoreClicks != 0);
    FillListenBox();
    SetRateButtons(m_nSamplesPerSec);
    if (m_nSamplesPerSec != 11025 && m_nSamplesPerSec != 22050 && m_nSamplesPerSec != 44100 &&
        m_nSamplesPerSec != 48000 && m_pRate44 && m_pRate44->group()) {
        // An unknown rate checks none of the four.
        QButtonGroup* pGroup = m_pRate44->group();
        pGroup->setExclusive(false);
        for (QAbstractButton* pButton : pGroup->buttons()) pButton->setChecked(false);
        pGroup->setExclusive(true);
    }
    SetBitsButtons(m_nBitsPerSample);

    m_toolTip.Create(this);
    if (m_pAdd) m_toolTip.AddWindowTool(m_pAdd, IDS_TIP_ADD_PRESET);
    if (m_pDelete) m_toolTip.AddWindowTool(m_pDelete, IDS_TIP_DELETE_PRESET);
    m_toolTip.Activate(true);
}

void CCustomSettingsDlg::SetUpSlider(QSlider* pSlider, int nMin, int nMax, int32_t nValue) {
    if (!pSlider) return;
    const QSignalBlocker block(pSlider);
    pSlider->setRange(nMin, nMax);
    pSlider->setTickInterval((nMax - nMin) / 10);
    pSlider->setPageStep((nMax - nMin) / 10);
    // The slider holds its position inside its range; the member keeps its own
    // value until the slider is moved.
    pSlider->setValue(nValue);
}

QString CCustomSettingsDlg::SliderLabel(const QSlider* pSlider, int32_t nPosition) const {
    if (pSlider == m_pGapSize) return GapSizeLabel(nPosition);
    if (pSlider == m_pGapLevel) return GapLevelLabel(nPosition);
    return SongLabel(nPosition);
}

int32_t CCustomSettingsDlg::KeyStep(const QSlider* pSlider, int32_t nPosition, int nDirection, int nSteps) const {
    // A larger value is a more negative position: up the slider towards its minimum.
    const int nMove = nDirection > 0 ? -1 : 1;
    int32_t p = std::clamp<int32_t>(nPosition, pSlider->minimum(), pSlider->maximum());
    auto inRange = [pSlider](int32_t q) { return q >= pSlider->minimum() && q <= pSlider->maximum(); };
    for (int n = 0; n < nSteps; ++n) {
        // Past every position that still shows the current value...
        const QString current = SliderLabel(pSlider, p);
        int32_t q = p;
        while (inRange(q + nMove) && SliderLabel(pSlider, q) == current) q += nMove;
        if (SliderLabel(pSlider, q) == current) return q;  // an end of the slider
        // ...to the position of the next value nearest the round number: going up that is
        // the first one showing it, going down the last.
        const QString next = SliderLabel(pSlider, q);
        int32_t r = q;
        while (inRange(r + nMove) && SliderLabel(pSlider, r + nMove) == next) r += nMove;
        // The last value the slider shows is its end.
        if (nDirection < 0 || !inRange(r + nMove)) q = r;
        p = q;
    }
    return p;
}

bool CCustomSettingsDlg::eventFilter(QObject* pWatched, QEvent* pEvent) {
    auto* pSlider = qobject_cast<QSlider*>(pWatched);
    if (!pSlider || (pEvent->type() != QEvent::KeyPress && pEvent->type() != QEvent::Wheel))
        return QDialog::eventFilter(pWatched, pEvent);
    // Steps in a page: a tenth of the range as the user reads it.
    const int nPage = pSlider == m_pEndGap ? 5 : 10;
    int32_t nTarget = pSlider->value();
    if (pEvent->type() == QEvent::Wheel) {
        const int nDelta = static_cast<QWheelEvent*>(pEvent)->angleDelta().y();
        if (nDelta == 0) return true;
        nTarget = KeyStep(pSlider, nTarget, nDelta > 0 ? 1 : -1, 1);
    } else {
        switch (static_cast<QKeyEvent*>(pEvent)->key()) {
            case Qt::Key_Up: case Qt::Key_Right: nTarget = KeyStep(pSlider, nTarget, 1, 1); break;
            case Qt::Key_Down: case Qt::Key_Left: nTarget = KeyStep(pSlider, nTarget, -1, 1); break;
            case Qt::Key_PageUp: nTarget = KeyStep(pSlider, nTarget, 1, nPage); break;
            case Qt::Key_PageDown: nTarget = KeyStep(pSlider, nTarget, -1, nPage); break;
            case Qt::Key_Home: nTarget = pSlider->minimum(); break;   // the top: the largest value
            case Qt::Key_End: nTarget = pSlider->maximum(); break;
            default: return QDialog::eventFilter(pWatched, pEvent);
        }
    }
    // The value and its label follow, as a drag moves them.
    pSlider->setValue(nTarget);
    return true;
}

void CCustomSettingsDlg::SetSliderQuietly(QSlider* pSlider, int32_t nValue) {
    if (!pSlider) return;
    const QSignalBlocker block(pSlider);
    pSlider->setValue(nValue);
}

void CCustomSettingsDlg::SetRateButtons(int32_t nRate) {
    QRadioButton* pButton = nullptr;
    switch (nRate) {
        case 44100: pButton = m_pRate44; break;
        case 48000: pButton = m_pRate48; break;
        case 22050: pButton = m_pRate22; break;
        case 11025: pButton = m_pRate11; break;
        default: return;  // any other rate leaves the buttons as they are
    }
    if (pButton) pButton->setChecked(true);
}

void CCustomSettingsDlg::SetBitsButtons(int16_t nBits) {
    if (nBits == 16) {
        if (m_pBits16) m_pBits16->setChecked(true);
    } else if (m_pBits24) {
        m_pBits24->setChecked(true);
    }
}

void CCustomSettingsDlg::ApplyColours() {
    // The window, its labels, group boxes, check boxes and radio buttons in the
    // opener's colours; the push buttons and sliders keep their own look.
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, m_pcrBackground);
    palette.setColor(QPalette::WindowText, m_pcrText);
    setPalette(palette);
    setAutoFillBackground(true);
    const QPalette system = QApplication::palette();
    for (QWidget* pWidget : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (qobject_cast<QPushButton*>(pWidget)) {
            QPalette own = system;
            own.setColor(QPalette::Window, m_pcrBackground);  // the ground around them
            pWidget->setPalette(own);
        } else if (qobject_cast<QSlider*>(pWidget)) {
            // The sliders stand on the system's own ground, where their ticks show.
            QPalette own = pWidget->palette();
            own.setColor(QPalette::Window, system.color(QPalette::Window));
            own.setColor(QPalette::WindowText, system.color(QPalette::WindowText));
            pWidget->setPalette(own);
            pWidget->setAutoFillBackground(true);
        }
    }
    // The combo boxes' edit fields and lists: green text on black.
    for (QComboBox* pBox : {m_pDeviceBox, m_pPresetBox, m_pListenBox}) {
        if (!pBox) continue;
        QPalette boxPalette = system;
        for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
            boxPalette.setColor(group, QPalette::Base, kComboGround);
            boxPalette.setColor(group, QPalette::Text, kComboText);
            boxPalette.setColor(group, QPalette::Button, kComboGround);
            boxPalette.setColor(group, QPalette::ButtonText, kComboText);
            boxPalette.setColor(group, QPalette::Window, kComboGround);
            boxPalette.setColor(group, QPalette::WindowText, kComboText);
        }
        pBox->setPalette(boxPalette);
        pBox->view()->setPalette(boxPalette);
    }
}

void CCustomSettingsDlg::FillPresetBox() {
    if (!m_pPresetBox) return;
    const QSignalBlocker block(m_pPresetBox);
    m_pPresetBox->clear();
    for (const auto& pPreset : m_pPresets) {
        const std::string name = pPreset->GetName();
        CDialogBuilder::AddString(m_pPresetBox, NameToText(name),
                                  QByteArray(name.data(), static_cast<qsizetype>(name.size())));
    }
    const int nFound = CDialogBuilder::FindStringExact(m_pPresetBox, NameToText(m_pPresets.WholeName(m_pszPresetName)));
    m_pPresetBox->setCurrentIndex(nFound);
    if (nFound < 0) m_pPresetBox->setEditText(QString());
}

void CCustomSettingsDlg::FillDeviceBox() {
    if (!m_pDeviceBox) return;
    const QSignalBlocker block(m_pDeviceBox);
    m_pDeviceBox->clear();
    if (m_pfnEnumerateDevices) m_pfnEnumerateDevices();
    m_bDevicesListed = true;
    const int32_t nCount = GetDeviceCount();
    m_pDeviceBox->setCurrentIndex(-1);
    for (int32_t i = 0; i < nCount; ++i) {
        const CWaveInCaps* pCaps = GetDeviceAt(i);
        if (!pCaps) continue;
        const std::string name(pCaps->m_szName, strnlen(pCaps->m_szName, sizeof(pCaps->m_szName)));
        const int nEntry = CDialogBuilder::AddString(m_pDeviceBox, NameToText(name), i);
        if (i == m_nWaveInID) {
            m_pDeviceBox->setCurrentIndex(nEntry);
            OnSelChangeDevice(nEntry);
        }
    }
    const int nDefault = CDialogBuilder::AddString(m_pDeviceBox, QStringLiteral("System Default"), -1);
    if (m_nWaveInID == -1) m_pDeviceBox->setCurrentIndex(nDefault);
    else if (m_pDeviceBox->currentData().toInt() != m_nWaveInID) m_pDeviceBox->setCurrentIndex(-1);
}

void CCustomSettingsDlg::FillListenBox() {
    if (!m_pListenBox) return;
    const QSignalBlocker block(m_pListenBox);
    m_pListenBox->clear();
    // The usual choices, and the stored value in its place among them when it is another.
    QList<int> seconds = {0, 10, 20, 30, 45, 60, 90, 120};
    if (!seconds.contains(m_nListenSeconds)) {
        seconds.append(m_nListenSeconds);
        std::sort(seconds.begin(), seconds.end());
    }
    for (int n : seconds)
        CDialogBuilder::AddString(m_pListenBox, n == 0 ? QStringLiteral("Off") : QStringLiteral("%1 secs").arg(n), n);
    m_pListenBox->setCurrentIndex(m_pListenBox->findData(m_nListenSeconds));
}

void CCustomSettingsDlg::ReleaseDevices() {
    if (!m_bDevicesListed) return;
    m_bDevicesListed = false;
    ClearDevices();
}

void CCustomSettingsDlg::done(int nResult) {
    // The device list lives only while the window shows.
    ReleaseDevices();
    QDialog::done(nResult);
}

void CCustomSettingsDlg::FocusDefaultButton() {
    // The hidden default button takes the focus so Enter does nothing; while it is
    // hidden the window itself holds the focus, which has the same effect.
    if (m_pDefault && m_pDefault->isVisible()) m_pDefault->setFocus(Qt::OtherFocusReason);
    else setFocus(Qt::OtherFocusReason);
}

PromptAnswer CCustomSettingsDlg::Ask(const std::string& text, const char* szCaption,
                                     PromptButtons buttons, PromptIcon icon) {
    return m_pPrompt->MessageBox(text, szCaption, buttons, icon);
}

std::string CCustomSettingsDlg::PresetEntryName(int nIndex) const {
    if (!m_pPresetBox || nIndex < 0 || nIndex >= m_pPresetBox->count()) return std::string();
    const QVariant data = m_pPresetBox->itemData(nIndex);
    if (data.typeId() == QMetaType::QByteArray) return data.toByteArray().toStdString();
    return TextToName(m_pPresetBox->itemText(nIndex));
}

// ---- handlers ----

void CCustomSettingsDlg::OnVScroll(QSlider* pSlider, int nPosition) {
    if (pSlider == m_pGapSize) {
        m_nGapSize = nPosition;
        if (m_pGapSizeLabel) m_pGapSizeLabel->setText(GapSizeLabel(m_nGapSize));
    } else if (pSlider == m_pGapLevel) {
        m_nGapLevel = nPosition;
        if (m_pGapLevelLabel) m_pGapLevelLabel->setText(GapLevelLabel(m_nGapLevel));
    } else if (pSlider == m_pMinSong) {
        m_nMinSong = nPosition;
        if (m_pMinSongLabel) m_pMinSongLabel->setText(SongLabel(m_nMinSong));
        // The end gap may not be longer than the shortest song: pull it down.
        if (m_nEndGap < m_nMinSong) {
            m_nEndGap = m_nMinSong;
            SetSliderQuietly(m_pEndGap, m_nEndGap);
            if (m_pEndGapLabel) m_pEndGapLabel->setText(SongLabel(m_nEndGap));
        }
    } else {
        m_nEndGap = nPosition;
        if (m_pEndGapLabel) m_pEndGapLabel->setText(SongLabel(m_nEndGap));
        // A longer end gap pushes the shortest song up with it.
        if (m_nEndGap < m_nMinSong) {
            m_nMinSong = m_nEndGap;
            SetSliderQuietly(m_pMinSong, m_nMinSong);
            if (m_pMinSongLabel) m_pMinSongLabel->setText(SongLabel(m_nMinSong));
        }
    }
}

void CCustomSettingsDlg::OnDCBlock() {
    m_bDCBlock = m_pDCBlock && m_pDCBlock->isChecked() ? 1 : 0;
}

void CCustomSettingsDlg::OnSmartGap() {
    m_bIgnoreClicks = m_pSmartGap && m_pSmartGap->isChecked() ? 1 : 0;
}

void CCustomSettingsDlg::OnSelChangeDevice(int nIndex) {
    if (!m_pDeviceBox || nIndex < 0 || nIndex >= m_pDeviceBox->count()) return;
    m_nWaveInID = m_pDeviceBox->itemData(nIndex).toInt();
}

void CCustomSettingsDlg::OnPresetTextEdited(const QString& text) {
    // Typing a name leaves no entry selected, so the typed text is known as new.
    if (!m_pPresetBox || m_pPresetBox->currentIndex() < 0) return;
    QLineEdit* pEdit = m_pPresetBox->lineEdit();
    const int nCursor = pEdit ? pEdit->cursorPosition() : 0;
    const QSignalBlocker block(m_pPresetBox);
    m_pPresetBox->setCurrentIndex(-1);
    m_pPresetBox->setEditText(text);
    if (pEdit) pEdit->setCursorPosition(nCursor);
}

void CCustomSettingsDlg::OnSelChangePreset(int nIndex) {
    const std::string name = PresetEntryName(nIndex);
    const CPresets* pPreset = m_pPresets.Find(name);
    if (!pPreset) return;  // the box and the list out of step: change nothing

    CopyPresetName(m_pszPresetName, name);

    m_nGapSize = pPreset->m_nGapSize;
    SetSliderQuietly(m_pGapSize, m_nGapSize);
    if (m_pGapSizeLabel) m_pGapSizeLabel->setText(GapSizeLabel(m_nGapSize));
    m_nGapLevel = pPreset->m_nGapLevel;
    SetSliderQuietly(m_pGapLevel, m_nGapLevel);
    if (m_pGapLevelLabel) m_pGapLevelLabel->setText(GapLevelLabel(m_nGapLevel));
    m_nMinSong = pPreset->m_nMinSong;
    SetSliderQuietly(m_pMinSong, m_nMinSong);
    if (m_pMinSongLabel) m_pMinSongLabel->setText(SongLabel(m_nMinSong));
    m_nEndGap = pPreset->m_nEndGap;
    SetSliderQuietly(m_pEndGap, m_nEndGap);
    if (m_pEndGapLabel) m_pEndGapLabel->setText(SongLabel(m_nEndGap));

    m_bDCBlock = pPreset->m_bDCBlock;
    m_bIgnoreClicks = pPreset->m_bIgnoreClicks;
    if (m_pDCBlock) m_pDCBlock->setChecked(m_bDCBlock != 0);
    if (m_pSmartGap) m_pSmartGap->setChecked(m_bIgnoreClicks != 0);

    m_nBitsPerSample = pPreset->m_nBitsPerSample;
    SetBitsButtons(m_nBitsPerSample);
    m_nSamplesPerSec = pPreset->m_nSamplesPerSec;
    SetRateButtons(m_nSamplesPerSec);

    m_nChannels = pPreset->m_nChannels;
    m_nWaveInID = pPreset->m_nWaveInID;
    if (m_pDeviceBox) {
        const QSignalBlocker block(m_pDeviceBox);
        m_pDeviceBox->setCurrentIndex(m_pDeviceBox->findData(m_nWaveInID));
    }
}

void CCustomSettingsDlg::OnAddPreset() {
    if (!m_pPresetBox) return;
    const QString typed = m_pPresetBox->currentText();
    if (typed.isEmpty()) {
        Ask("You need to enter a name for the preset.", kPresetError, PromptButtons::Ok, PromptIcon::None);
        m_pPresetBox->setFocus(Qt::OtherFocusReason);
        return;
    }
    const std::string name = TextToName(typed);
    const QString text = NameToText(name);

    const int nFound = CDialogBuilder::FindStringExact(m_pPresetBox, text);
    if (nFound >= 0) {
        const std::string question =
            "The preset, " + name + ", exists.\n" +
            "Are you sure you want to over-write this preset?\n\n"
            "If you want to add a new preset follow these steps:\n"
            "Step 1: Type a new name in the edit box.\n"
            "Step 2: Click on the plus button.\n";
        if (Ask(question, kPresetWarning, PromptButtons::YesNo, PromptIcon::Question) != PromptAnswer::Yes) {
            m_pPresetBox->setFocus(Qt::OtherFocusReason);
            return;
        }
        RemovePreset(nFound);
    }

    std::unique_ptr<CPresets> pPreset;
    try {
        pPreset = std::make_unique<CPresets>();
    } catch (const std::bad_alloc&) {
        Ask("Error adding preset.\n", kPresetError, PromptButtons::Ok, PromptIcon::Stop);
        return;
    }
    pPreset->SetName(name);
    pPreset->m_nGapSize = m_pGapSize ? m_pGapSize->value() : m_nGapSize;
    pPreset->m_nGapLevel = m_pGapLevel ? m_pGapLevel->value() : m_nGapLevel;
    pPreset->m_nMinSong = m_pMinSong ? m_pMinSong->value() : m_nMinSong;
    pPreset->m_nEndGap = m_pEndGap ? m_pEndGap->value() : m_nEndGap;
    pPreset->m_bDCBlock = m_pDCBlock && m_pDCBlock->isChecked() ? 1 : 0;
    pPreset->m_bIgnoreClicks = m_pSmartGap && m_pSmartGap->isChecked() ? 1 : 0;
    pPreset->m_nBitsPerSample = m_nBitsPerSample;
    pPreset->m_nSamplesPerSec = m_nSamplesPerSec;
    pPreset->m_nChannels = m_nChannels;
    pPreset->m_nWaveInID = m_nWaveInID;
    m_pPresets.Add(std::move(pPreset));

    {
        const QSignalBlocker block(m_pPresetBox);
        const int nEntry = CDialogBuilder::AddString(
            m_pPresetBox, text, QByteArray(name.data(), static_cast<qsizetype>(name.size())));
        m_pPresetBox->setCurrentIndex(nEntry);
    }
    CopyPresetName(m_pszPresetName, name);
    FocusDefaultButton();
}

bool CCustomSettingsDlg::RemovePreset(int nIndex) {
    if (!m_pPresetBox || nIndex < 0 || nIndex >= m_pPresetBox->count()) return false;
    const int nPreset = m_pPresets.FindIndex(PresetEntryName(nIndex));
    if (nPreset < 0) return false;  // the box and the list out of step: change nothing
    m_pPresets.RemoveAt(static_cast<std::size_t>(nPreset));
    const QSignalBlocker block(m_pPresetBox);
    m_pPresetBox->removeItem(nIndex);
    return true;
}

void CCustomSettingsDlg::OnDeletePreset() {
    if (!m_pPresetBox) return;
    const int nSelected = m_pPresetBox->currentIndex();
    if (nSelected < 0) {
        if (!m_pPresetBox->currentText().isEmpty()) {
            // Typed text that is no preset: clear it.
            m_pPresetBox->setEditText(QString());
            FocusDefaultButton();
        } else {
            Ask("No preset is selected", kPresetWarning, PromptButtons::Ok, PromptIcon::None);
            m_pPresetBox->setFocus(Qt::OtherFocusReason);
        }
        return;
    }

    const std::string name = PresetEntryName(nSelected);
    const std::string question = "Are you sure you want to delete the preset, " + name + "?\n";
    if (Ask(question, kPresetWarning, PromptButtons::YesNo, PromptIcon::Question) == PromptAnswer::Yes &&
        RemovePreset(nSelected)) {
        // The program's own selection of the first entry: the values stay as they are.
        const QSignalBlocker block(m_pPresetBox);
        if (m_pPresetBox->count() == 0) {
            m_pPresetBox->setCurrentIndex(-1);
            m_pPresetBox->setEditText(QString());
            CopyPresetName(m_pszPresetName, std::string());
        } else {
            m_pPresetBox->setCurrentIndex(0);
            CopyPresetName(m_pszPresetName, PresetEntryName(0));
        }
    }
    FocusDefaultButton();
}

void CCustomSettingsDlg::OnKillFocusPreset(QWidget* pNewFocus) {
    // Asked once per loss of focus to another control of this window: a message
    // box (another window) or the box's own list taking the focus does not ask,
    // and the question's own box cannot raise it again while it shows.
    if (m_bAskingTypedName || !m_pPresetBox || !isVisible()) return;
    if (!pNewFocus || pNewFocus->window() != this) return;
    if (pNewFocus == m_pPresetBox || m_pPresetBox->isAncestorOf(pNewFocus)) return;
    if (pNewFocus == m_pAdd || pNewFocus == m_pDelete) return;
    if (m_pPresetBox->currentIndex() >= 0) return;
    const QString text = m_pPresetBox->currentText();
    if (text.isEmpty()) return;

    m_bAskingTypedName = true;
    const std::string question = std::string("You have changed the current preset name.\n") +
                                 "Do you want to add the new preset, " + TextToName(text) + "?\n";
    const PromptAnswer answer = Ask(question, kPresetWarning, PromptButtons::YesNo, PromptIcon::Question);
    if (answer == PromptAnswer::Yes) OnAddPreset();
    m_bAskingTypedName = false;
}

void CCustomSettingsDlg::OnHelp() {
    ShowHelp(this, IDH_CUSTOM_SETTINGS);
}
