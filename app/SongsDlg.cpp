#include "app/SongsDlg.h"

#include "app/Appearance.h"
#include "capture/Prompt.h"
#include "app/ExportDlg.h"
#include "app/TrackListDlg.h"
#include "album/FitCuts.h"
#include "app/WaveView.h"
#include "album/Repair.h"

#include <QAbstractItemDelegate>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QShortcut>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>

namespace {

const char* const kCaption = "Songs";
const char kGeometryKey[] = "Songs/Window Geometry";  // in the user's settings
constexpr int kWholeColumns = 4096;   // resolution of the overview of the whole recording
constexpr double kCloseUpSeconds = 6.0;
constexpr double kPlaySeconds = 2.0;  // played either side of the cursor
constexpr double kSnapSeconds = 3.0;

QString FromUtf8(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<int>(s.size())); }
std::string ToUtf8(const QString& s) { return s.toUtf8().toStdString(); }

// "m:ss.d" of a number of frames.
QString Clock(int64_t nFrames, int nRate)
{
    const int64_t nTenths = nRate > 0 ? (nFrames * 10 + nRate / 2) / nRate : 0;
    return QString("%1:%2.%3").arg(nTenths / 600).arg((nTenths / 10) % 60, 2, 10, QChar('0')).arg(nTenths % 10);
}

// The file name of a path without its folder.
QString FileTitle(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return QFile::decodeName(QByteArray::fromStdString(slash == std::string::npos ? path : path.substr(slash + 1)));
}

}  // namespace

CSongsDlg::CSongsDlg(IPrompt* pPrompt, QWidget* pParent) : QDialog(pParent), m_pPrompt(pPrompt)
{
    m_runDialog = [](QDialog& dlg) { return dlg.exec(); };
    setWindowTitle(kCaption);
    setSizeGripEnabled(true);
    BuildControls();
    ApplyLook();
    m_pTimer = new QTimer(this);
    m_pTimer->setInterval(40);
    connect(m_pTimer, &QTimer::timeout, this, [this] { OnTick(); });
}

CSongsDlg::~CSongsDlg()
{
    m_output.Stop();
    CommitTyping();
    // The fields and the table are deleted after the album: what they say on the way
    // out (an editor losing its focus) must not reach it.
    for (QObject* pSender : std::initializer_list<QObject*>{m_pTable, m_pAlbumEdit, m_pArtistEdit, m_pYearEdit,
                                                           m_pOverview, m_pCloseUp})
        pSender->disconnect(this);
}

void CSongsDlg::BuildControls()
{
    auto* pLayout = new QVBoxLayout(this);

    auto* pFields = new QHBoxLayout;
    auto addField = [&](const char* label, QLineEdit*& pEdit, int nStretch) {
        auto* pLabel = new QLabel(tr(label), this);
        pEdit = new QLineEdit(this);
        pLabel->setBuddy(pEdit);
        pFields->addWidget(pLabel);
        pFields->addWidget(pEdit, nStretch);
        connect(pEdit, &QLineEdit::editingFinished, this, [this] { OnInfoEdited(); });
    };
    addField("A&lbum:", m_pAlbumEdit, 3);
    addField("A&rtist:", m_pArtistEdit, 3);
    addField("&Year:", m_pYearEdit, 1);
    pLayout->addLayout(pFields);

    m_pOverview = new CWaveView(this);
    m_pOverview->setObjectName("overview");
    m_pOverview->SetShowLabels(true);
    m_pOverview->setMinimumHeight(110);
    m_pOverview->SetPeakSource([this](int64_t a, int64_t b, int n, std::vector<float>& lo, std::vector<float>& hi) {
        OverviewPeaks(a, b, n, lo, hi);
    });
    pLayout->addWidget(m_pOverview, 2);

    m_pRecordingLine = new QLabel(
        tr("Being recorded: the songs finished so far, updated as each one ends. Editing opens when the "
           "recording stops."),
        this);
    m_pRecordingLine->setObjectName("recordingLine");
    m_pRecordingLine->setWordWrap(true);
    m_pRecordingLine->hide();
    pLayout->addWidget(m_pRecordingLine);

    // The close-up's heading: where it looks, and what click repair would do there.
    auto* pCloseUpRow = new QHBoxLayout;
    m_pCloseUpLabel = new QLabel(tr("Click a cut above to look at it closely."), this);
    m_pCloseUpLabel->setObjectName("closeUpLabel");
    pCloseUpRow->addWidget(m_pCloseUpLabel, 1);
    m_pRepairLabel = new QLabel(this);
    m_pRepairLabel->setObjectName("repairLabel");
    pCloseUpRow->addWidget(m_pRepairLabel);
    m_pClickLevel = new QComboBox(this);
    m_pClickLevel->setObjectName("clickLevel");
    CExportDlg::FillDeclickLevels(m_pClickLevel);
    m_pClickLevel->setToolTip(tr("Click sensitivity, as the export's Remove clicks uses it: Normal leaves clean "
                                 "music alone, Light takes only plain clicks, Strong also fainter ones"));
    connect(m_pClickLevel, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this] {
        if (m_pStore)
            m_pStore->setValue(CExportDlg::kDeclickLevelKey, QString::fromLatin1(DeclickLevelName(GetClickLevel())));
        m_nRepairFirst = m_nRepairLast = -1;
        m_pCloseUp->RefreshPeaks();
    });
    pCloseUpRow->addWidget(m_pClickLevel);
    m_pPlayRepaired = new QCheckBox(tr("Play repaire&d"), this);
    m_pPlayRepaired->setObjectName("playRepaired");
    m_pPlayRepaired->setToolTip(tr("Play plays the sound with the marked clicks repaired, as the export with Remove "
                                   "clicks writes it; the song files never change"));
    pCloseUpRow->addWidget(m_pPlayRepaired);
    pLayout->addLayout(pCloseUpRow);
    m_pCloseUp = new CWaveView(this);
    m_pCloseUp->setObjectName("closeUp");
    m_pCloseUp->SetEditable(true);
    m_pCloseUp->SetDecibelScale(true);
    m_pCloseUp->setMinimumHeight(150);
    m_pCloseUp->SetPeakSource([this](int64_t a, int64_t b, int n, std::vector<float>& lo, std::vector<float>& hi) {
        CloseUpPeaks(a, b, n, lo, hi);
    });
    pLayout->addWidget(m_pCloseUp, 3);

    connect(m_pOverview, &CWaveView::cutPicked, this, [this](int nCut) { OnPickCut(nCut); });
    connect(m_pOverview, &CWaveView::sideEndClicked, this, [this](int nCut) { OnPickCut(nCut); });
    connect(m_pCloseUp, &CWaveView::sideEndClicked, this, [this](int nCut) { OnPickCut(nCut); });
    connect(m_pOverview, &CWaveView::cursorMoved, this, [this](int64_t nFrame) { ZoomTo(nFrame); });
    connect(m_pCloseUp, &CWaveView::cutPicked, this, [this](int nCut) {
        m_pOverview->SetPickedCut(nCut);
        m_pCloseUp->SetCursorFrame(m_album.GetSongStart(nCut + 1));
        m_pOverview->SetCursorFrame(m_pCloseUp->GetCursorFrame());
    });
    connect(m_pCloseUp, &CWaveView::cursorMoved, this, [this](int64_t nFrame) { m_pOverview->SetCursorFrame(nFrame); });
    connect(m_pCloseUp, &CWaveView::cutMoved, this, [this](int nCut, int64_t nFrame) {
        AfterEdit(m_album.MoveCut(nCut, nFrame));
    });

    auto* pButtons = new QHBoxLayout;
    auto addButton = [&](const char* name, const char* text, void (CSongsDlg::*pCommand)()) {
        auto* pButton = new QPushButton(tr(text), this);
        pButton->setObjectName(name);
        pButton->setAutoDefault(false);
        connect(pButton, &QPushButton::clicked, this, [this, pCommand] { (this->*pCommand)(); });
        pButtons->addWidget(pButton);
        return pButton;
    };
    m_pPlay = addButton("play", "&Play", &CSongsDlg::OnPlay);
    m_pSnap = addButton("snap", "S&nap", &CSongsDlg::OnSnap);
    m_pJoin = addButton("join", "&Join", &CSongsDlg::OnJoin);
    m_pSplit = addButton("split", "&Split", &CSongsDlg::OnSplit);
    m_pUndo = addButton("undo", "&Undo", &CSongsDlg::OnUndo);
    m_pRedo = addButton("redo", "R&edo", &CSongsDlg::OnRedo);
    pButtons->addStretch(1);
    addButton("tracklist", "&Paste Track List...", &CSongsDlg::OnPasteTrackList);
    m_pExport = addButton("export", "E&xport...", &CSongsDlg::OnExport);
    auto* pClose = new QPushButton(tr("&Close"), this);
    pClose->setAutoDefault(false);
    connect(pClose, &QPushButton::clicked, this, &QDialog::close);
    pButtons->addWidget(pClose);
    pLayout->addLayout(pButtons);
    m_pPlay->setToolTip(tr("Plays a few seconds round the cursor (Space)"));
    m_pSnap->setToolTip(tr("Moves the picked cut to the most convincing silence nearby"));
    m_pJoin->setToolTip(tr("Joins the two songs at the picked cut"));
    m_pSplit->setToolTip(tr("Splits the song under the cursor at the cursor"));
    m_pUndo->setToolTip(tr("Undoes the last edit (Ctrl+Z)"));
    m_pRedo->setToolTip(tr("Does the undone edit again (Ctrl+Shift+Z)"));

    // Text fields keep Ctrl+Z for their own text: these only act elsewhere in the window.
    auto* pUndoKey = new QShortcut(QKeySequence::Undo, this);
    connect(pUndoKey, &QShortcut::activated, this, [this] { OnUndo(); });
    auto* pRedoKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), this);
    connect(pRedoKey, &QShortcut::activated, this, [this] { OnRedo(); });
    auto* pPlayKey = new QShortcut(QKeySequence(Qt::Key_Space), m_pCloseUp, nullptr, nullptr, Qt::WidgetShortcut);
    connect(pPlayKey, &QShortcut::activated, this, [this] { OnPlay(); });
    auto* pPlayKey2 = new QShortcut(QKeySequence(Qt::Key_Space), m_pOverview, nullptr, nullptr, Qt::WidgetShortcut);
    connect(pPlayKey2, &QShortcut::activated, this, [this] { OnPlay(); });

    m_pTable = new QTableWidget(0, 4, this);
    m_pTable->setHorizontalHeaderLabels({tr("#"), tr("Title"), tr("Start"), tr("Length")});
    m_pTable->verticalHeader()->setVisible(false);
    m_pTable->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    m_pTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_pTable->setSelectionMode(QAbstractItemView::SingleSelection);
    m_pTable->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                              QAbstractItemView::AnyKeyPressed);
    connect(m_pTable, &QTableWidget::cellChanged, this, [this](int r, int c) { OnTitleEdited(r, c); });
    connect(m_pTable, &QTableWidget::cellClicked, this, [this](int r, int) {
        // A row shows where its song begins (the cut before it), or the start of song 1.
        if (r > 0) OnPickCut(r);
        else ZoomTo(0);
    });
    pLayout->addWidget(m_pTable, 2);

    // The sides of the record, one a row, with what can be done to them beside.
    auto* pSidesRow = new QHBoxLayout;
    m_pSides = new QTableWidget(0, 4, this);
    m_pSides->setObjectName("sides");
    m_pSides->setHorizontalHeaderLabels({tr("Side"), tr("Recording"), tr("Songs"), tr("Disc")});
    m_pSides->verticalHeader()->setVisible(false);
    m_pSides->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    m_pSides->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_pSides->setSelectionMode(QAbstractItemView::SingleSelection);
    m_pSides->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                              QAbstractItemView::AnyKeyPressed);
    m_pSides->setMaximumHeight(110);
    m_pSides->setToolTip(tr("The sides of the record, in the order they are played; double-click Disc to "
                            "group sides into discs"));
    connect(m_pSides, &QTableWidget::cellChanged, this, [this](int r, int c) {
        if (m_bFilling || c != 3 || !m_pSides->item(r, c)) return;
        bool bNumber = false;
        const QString text = m_pSides->item(r, c)->text().trimmed();
        const int nDisc = text.isEmpty() ? 0 : text.toInt(&bNumber);
        if (!text.isEmpty() && !bNumber) {
            SetStatus(tr("A disc is a number from 1 to 99, or empty for none."), true);
        } else if (!m_album.SetDisc(r, nDisc)) {
            ShowError();
        }
        ShowAlbum();
    });
    connect(m_pSides, &QTableWidget::cellClicked, this, [this](int r, int) {
        if (r >= 0 && r < m_album.GetSideCount()) ZoomTo(m_album.GetSideStart(r));
        ShowSides();
    });
    pSidesRow->addWidget(m_pSides, 1);
    auto* pSideButtons = new QVBoxLayout;
    auto addSideButton = [&](const char* name, const char* text, const char* tip, std::function<void()> fn) {
        auto* pButton = new QPushButton(tr(text), this);
        pButton->setObjectName(name);
        pButton->setAutoDefault(false);
        pButton->setToolTip(tr(tip));
        connect(pButton, &QPushButton::clicked, this, std::move(fn));
        pSideButtons->addWidget(pButton);
        return pButton;
    };
    addSideButton("addSide", "&Add Side...", "Adds a recording as the next side of this record",
                  [this] { OnAddSide(); });
    m_pSideUp = addSideButton("sideUp", "Side U&p", "Plays the selected side earlier", [this] { OnMoveSide(-1); });
    m_pSideDown = addSideButton("sideDown", "Side Do&wn", "Plays the selected side later", [this] { OnMoveSide(1); });
    m_pRemoveSide = addSideButton("removeSide", "Re&move Side", "Leaves the selected side out of the record; its "
                                  "files stay as they are", [this] { OnRemoveSide(); });
    pSidesRow->addLayout(pSideButtons);
    pLayout->addLayout(pSidesRow);
    m_pVinyl = new QCheckBox(tr("Name exported files by side and place, as the sleeve does (A1, A2, B1...)"), this);
    m_pVinyl->setObjectName("vinyl");
    connect(m_pVinyl, &QCheckBox::toggled, this, [this](bool bOn) {
        if (m_bFilling || bOn == m_album.GetVinyl()) return;
        if (!m_album.SetVinyl(bOn)) ShowError();
        ShowAlbum();
    });
    pLayout->addWidget(m_pVinyl);

    // Files an earlier take under the same base name left after this one's songs.
    m_pLeftovers = new QLabel(this);
    m_pLeftovers->setObjectName("leftovers");
    m_pLeftovers->setWordWrap(true);
    m_pLeftovers->hide();
    pLayout->addWidget(m_pLeftovers);

    m_pStatus = new QLabel(this);
    m_pStatus->setObjectName("status");
    m_pStatus->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    pLayout->addWidget(m_pStatus);
    resize(900, 760);
}

// The main window's look: its ground and text, the fields green on black like its
// combo boxes, the status line red on black like its status fields, buttons as the
// system draws them.
void CSongsDlg::ApplyLook()
{
    const QPalette base = QApplication::palette();
    const CAppearance::Colours colours = CAppearance::StartColours(
        1, CAppearance::kTrueColour, CAppearance::FromQColor(base.color(QPalette::Button)),
        CAppearance::FromQColor(base.color(QPalette::WindowText)));
    setPalette(CAppearance::GroundPalette(base, colours));
    setAutoFillBackground(true);
    const QPalette fields = CAppearance::ComboPalette(base);
    for (QWidget* pField :
         std::initializer_list<QWidget*>{m_pAlbumEdit, m_pArtistEdit, m_pYearEdit, m_pTable, m_pSides})
        pField->setPalette(fields);
    m_pStatus->setPalette(CAppearance::StatusPalette(base));
    m_pStatus->setAutoFillBackground(true);
    for (QPushButton* pButton : findChildren<QPushButton*>()) pButton->setPalette(base);
    m_pTable->horizontalHeader()->setPalette(base);
    m_pSides->horizontalHeader()->setPalette(base);
}

void CSongsDlg::PlaceBeside(const QWidget* pMain)
{
    if (m_pStore && restoreGeometry(m_pStore->value(kGeometryKey).toByteArray())) return;
    if (!pMain || !pMain->screen()) return;
    const QRect place = Beside(pMain->screen()->availableGeometry(), pMain->frameGeometry(),
                               pMain->frameGeometry().size() - pMain->geometry().size(), size(),
                               minimumSizeHint());
    if (place.isEmpty()) return;  // no room: where the system puts it
    resize(place.size());
    move(place.topLeft());
}

QRect CSongsDlg::Beside(const QRect& screen, const QRect& main, const QSize& frame, const QSize& want,
                        const QSize& least)
{
    // On the side with more room, as wide as that room allows (down to the smallest
    // width), its top level with the main window's as far as the screen allows.
    const int nRight = screen.right() - main.right() - frame.width();
    const int nLeft = main.left() - screen.left() - frame.width();
    const int nWidth = std::min(want.width(), std::max(nRight, nLeft));
    const int nHeight = std::min(want.height(), screen.height() - frame.height());
    if (nWidth < least.width() || nHeight < least.height()) return QRect();
    const int nX = nRight >= nLeft ? main.right() + 1 : main.left() - nWidth - frame.width();
    const int nY = std::clamp(main.top(), screen.top(), screen.bottom() + 1 - nHeight - frame.height());
    return QRect(nX, nY, nWidth, nHeight);
}

QPushButton* CSongsDlg::GetButton(const char* name) const
{
    return findChild<QPushButton*>(name);
}

void CSongsDlg::SetStore(QSettings* pStore)
{
    m_pStore = pStore;
    if (m_pStore)
        m_pClickLevel->setCurrentIndex(
            m_pClickLevel->findData(static_cast<int>(CExportDlg::StoredDeclickLevel(m_pStore))));
}

CDeclickLevel CSongsDlg::GetClickLevel() const
{
    return static_cast<CDeclickLevel>(m_pClickLevel->currentData().toInt());
}

// ---------------------------------------------------------------------------------
// Opening

bool CSongsDlg::Open(const std::string& strBasePath)
{
    m_output.Stop();
    if (m_album.IsOpen() && !m_bRecording) CommitTyping();
    if (!OpenBase(strBasePath)) {
        ShowError();
        return false;
    }
    m_bRecording = false;
    ShowOpened(strBasePath);
    if (!m_strRecordProblem.empty()) SetStatus(FromUtf8(m_strRecordProblem), true);
    return true;
}

bool CSongsDlg::ShowRecording(const std::string& strBasePath, const std::vector<std::string>& finished)
{
    m_output.Stop();
    if (m_album.IsOpen() && !m_bRecording) CommitTyping();
    const int nPicked = m_bRecording && strBasePath == m_strBasePath ? m_pOverview->GetPickedCut() : 0;
    if (!m_album.OpenRecorded(strBasePath, finished)) {
        SetStatus(FromUtf8(m_album.GetErrorText()), true);
        return false;
    }
    m_bRecording = true;
    ShowOpened(strBasePath);
    if (nPicked > 0) OnPickCut(nPicked);
    return true;
}

bool CSongsDlg::OpenBase(const std::string& strBasePath)
{
    m_strRecordProblem.clear();
    const std::string strRecord = CRecord::FindFor(strBasePath);
    if (strRecord.empty()) return m_album.OpenSides({strBasePath});
    if (m_album.Open(strRecord)) return true;
    // A record whose other side cannot be read (its files moved away) still leaves this
    // side to open on its own; the status line says why.
    const std::string strWhy = m_album.GetErrorText();
    if (!m_album.OpenSides({strBasePath})) return false;
    m_strRecordProblem = "The record " + strRecord + " cannot be opened (" + strWhy + "); this side is shown on its own.";
    return true;
}

bool CSongsDlg::HasSide(const std::string& strBasePath) const
{
    auto& record = const_cast<CRecord&>(m_album);
    for (int32_t s = 0; s < record.GetSideCount(); ++s)
        if (record.GetSide(s).GetBasePath() == strBasePath) return true;
    return false;
}

// The window after the album was opened: for editing, or to look at while it is recorded.
void CSongsDlg::ShowOpened(const std::string& strBasePath)
{
    m_strBasePath = strBasePath;
    setWindowTitle(QString("%1 - %2").arg(kCaption, FileTitle(m_album.GetPath().empty() ? strBasePath
                                                                                         : m_album.GetPath())));
    m_album.SetRecordingCheck(m_fnIsRecording);
    m_pRecordingLine->setVisible(m_bRecording);
    m_pCloseUp->SetEditable(!m_bRecording);
    m_pTable->setEditTriggers(m_bRecording ? QAbstractItemView::NoEditTriggers
                                           : QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                                                 QAbstractItemView::AnyKeyPressed);
    for (QLineEdit* pEdit : {m_pAlbumEdit, m_pArtistEdit, m_pYearEdit}) pEdit->setReadOnly(m_bRecording);
    m_pWhole.reset();
    m_pNear.reset();
    m_wholeColumns.clear();
    m_bWholeShown = false;
    m_pOverview->SetPickedCut(0);
    m_pCloseUp->SetPickedCut(0);
    m_pCloseUpLabel->setText(tr("Click a cut above to look at it closely."));
    ShowAlbum();
    QStringList leftovers;
    for (const std::string& strPath : m_album.GetLayout().leftovers) leftovers << FileTitle(strPath);
    m_pLeftovers->setText(tr("Not part of this album, left from an earlier recording under this name: %1")
                              .arg(leftovers.join(", ")));
    m_pLeftovers->setVisible(!leftovers.isEmpty());
    m_pOverview->SetRange(0, m_album.GetTotalFrames());
    m_pCloseUp->SetRange(0, static_cast<int64_t>(kCloseUpSeconds * m_album.GetFormat().nRate));
    SetStatus(QString());
    if (m_album.GetTotalFrames() > 0) StartOverview();
    if (m_album.GetSongCount() > 1) OnPickCut(1);
}

void CSongsDlg::Reload()
{
    if (!m_strBasePath.empty()) Open(m_strBasePath);
}

void CSongsDlg::SetGapLevel(double fDb)
{
    m_pCloseUp->SetGapLevel(fDb);
}

void CSongsDlg::SetRecordingCheck(std::function<bool()> fnIsRecording)
{
    m_fnIsRecording = std::move(fnIsRecording);
    m_album.SetRecordingCheck(m_fnIsRecording);
}

void CSongsDlg::StartOverview()
{
    const CAlbumLayout layout = m_album.GetLayout();
    m_pWhole = std::make_unique<COverview>();
    if (!m_pWhole->Start(layout, 0, layout.TotalFrames(), kWholeColumns)) {
        SetStatus(FromUtf8(m_pWhole->GetErrorText()), true);
        return;
    }
    SetStatus(tr("Reading the songs..."));
    m_pTimer->start();
}

bool CSongsDlg::IsOverviewReady() const
{
    return m_bWholeShown && (!m_pNear || !m_pNear->IsRunning());
}

// Songs, table, album fields and the buttons' states, from the album as it is now.
void CSongsDlg::ShowAlbum()
{
    m_nRepairFirst = m_nRepairLast = -1;  // the songs, repaired each on its own, may have changed
    const std::vector<CAlbumSong>& songs = m_album.GetSongs();
    const int nRate = m_album.GetFormat().nRate;
    std::vector<CWaveView::Song> viewSongs;
    m_bFilling = true;
    m_pTable->setRowCount(static_cast<int>(songs.size()));
    for (int32_t k = 1; k <= static_cast<int32_t>(songs.size()); ++k) {
        const CAlbumSong& song = songs[static_cast<size_t>(k - 1)];
        const int64_t nStart = m_album.GetSongStart(k);
        viewSongs.push_back({nStart, song.nFrames, FromUtf8(song.strTitle)});
        const int r = k - 1;
        auto setCell = [&](int c, const QString& text, bool bEditable) {
            auto* pItem = new QTableWidgetItem(text);
            if (!bEditable) pItem->setFlags(pItem->flags() & ~Qt::ItemIsEditable);
            if (c != 1) pItem->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            m_pTable->setItem(r, c, pItem);
        };
        const int32_t nSide = m_album.GetSideOf(k);
        setCell(0, m_album.GetSideCount() > 1 ? QString("%1  %2%3").arg(k).arg(FromUtf8(CRecord::SideName(nSide)))
                                                     .arg(k - m_album.GetFirstSong(nSide) + 1)
                                              : QString::number(k), false);
        setCell(1, FromUtf8(song.strTitle), true);
        setCell(2, Clock(nStart, nRate), false);
        setCell(3, Clock(song.nFrames, nRate), false);
    }
    m_pTable->resizeColumnToContents(0);
    m_bFilling = false;

    const CAlbumInfo& info = m_album.GetInfo();
    m_pAlbumEdit->setText(FromUtf8(info.strAlbum));
    m_pArtistEdit->setText(FromUtf8(info.strArtist));
    m_pYearEdit->setText(FromUtf8(info.strYear));

    const int nPicked = m_pOverview->GetPickedCut();
    m_pOverview->SetSongs(viewSongs, nRate);
    m_pCloseUp->SetSongs(viewSongs, nRate);
    std::vector<int> sideEnds;
    for (int32_t nSide = 1; nSide < m_album.GetSideCount(); ++nSide) sideEnds.push_back(m_album.GetFirstSong(nSide) - 1);
    m_pOverview->SetSideEnds(sideEnds);
    m_pCloseUp->SetSideEnds(sideEnds);
    const int nCuts = static_cast<int>(songs.size()) - 1;
    m_pOverview->SetPickedCut(std::min(nPicked, nCuts));
    m_pCloseUp->SetPickedCut(std::min(nPicked, nCuts));
    m_pJoin->setEnabled(nCuts > 0 && !m_bRecording);
    m_pSnap->setEnabled(nCuts > 0 && !m_bRecording);
    m_pSplit->setEnabled(!songs.empty() && !m_bRecording);
    m_pUndo->setEnabled(m_album.CanUndo());
    m_pRedo->setEnabled(m_album.CanRedo());
    m_pExport->setEnabled(!songs.empty() && !m_bRecording);
    m_pPlay->setEnabled(!songs.empty());
    ShowSides();
}

void CSongsDlg::ShowSides()
{
    const int nSelected = m_pSides->currentRow();
    m_bFilling = true;
    const int nSides = m_album.IsOpen() ? m_album.GetSideCount() : 0;
    m_pSides->setRowCount(nSides);
    for (int s = 0; s < nSides; ++s) {
        const CAlbum& side = m_album.GetSide(s);
        auto setCell = [&](int c, const QString& text, bool bEditable) {
            auto* pItem = new QTableWidgetItem(text);
            if (!bEditable) pItem->setFlags(pItem->flags() & ~Qt::ItemIsEditable);
            m_pSides->setItem(s, c, pItem);
        };
        setCell(0, FromUtf8(CRecord::SideName(s)), false);
        setCell(1, FileTitle(side.GetBasePath()), false);
        setCell(2, QString::number(side.GetSongCount()), false);
        setCell(3, m_album.GetDisc(s) > 0 ? QString::number(m_album.GetDisc(s)) : QString(), !m_bRecording);
    }
    m_pSides->resizeColumnToContents(0);
    if (nSelected >= 0 && nSelected < nSides) m_pSides->selectRow(nSelected);
    m_pVinyl->setChecked(m_album.IsOpen() && m_album.GetVinyl());
    m_bFilling = false;
    const int nRow = m_pSides->currentRow();
    const bool bEdit = m_album.IsOpen() && !m_bRecording;
    findChild<QPushButton*>("addSide")->setEnabled(bEdit);
    m_pVinyl->setEnabled(bEdit && nSides > 1);
    m_pSideUp->setEnabled(bEdit && nRow > 0 && nRow < nSides);
    m_pSideDown->setEnabled(bEdit && nRow >= 0 && nRow + 1 < nSides);
    m_pRemoveSide->setEnabled(bEdit && nRow >= 0 && nRow < nSides && nSides > 1);
}

std::vector<std::string> CSongsDlg::SideCandidates() const
{
    std::vector<std::string> candidates;
    if (!m_album.IsOpen()) return candidates;
    auto offer = [&](const std::string& strBase) {
        if (!HasSide(strBase) && std::find(candidates.begin(), candidates.end(), strBase) == candidates.end())
            candidates.push_back(strBase);
    };
    if (!m_strLastRecording.empty()) offer(m_strLastRecording);
    // Every recording of the folder: "Side B1.wav" stands for "Side B.wav".
    namespace fs = std::filesystem;
    const fs::path folder = fs::path(m_album.GetBasePath()).parent_path();
    std::error_code ec;
    std::vector<std::string> found;
    for (fs::directory_iterator it(folder.empty() ? fs::path(".") : folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string strName = it->path().filename().string();
        if (strName.size() < 6 || strName.compare(strName.size() - 5, 5, "1.wav") != 0 ||
            (strName.size() > 6 && std::isdigit(static_cast<unsigned char>(strName[strName.size() - 6]))))
            continue;
        const std::string strBase = strName.substr(0, strName.size() - 5) + ".wav";
        found.push_back(folder.empty() ? strBase : (folder / strBase).string());
    }
    std::sort(found.begin(), found.end());
    for (const std::string& strBase : found) offer(strBase);
    return candidates;
}

void CSongsDlg::OnAddSide()
{
    if (!m_album.IsOpen() || m_bRecording) return;
    CommitTyping();
    QDialog dlg(this);
    dlg.setWindowTitle(tr("Add Side"));
    dlg.setPalette(palette());
    auto* pLayout = new QVBoxLayout(&dlg);
    auto* pLabel = new QLabel(tr("The recording to add as side %1 (its base name, as it was recorded):")
                                  .arg(FromUtf8(CRecord::SideName(m_album.GetSideCount()))),
                              &dlg);
    pLayout->addWidget(pLabel);
    auto* pName = new QComboBox(&dlg);
    pName->setObjectName("sideName");
    pName->setEditable(true);
    pName->setInsertPolicy(QComboBox::NoInsert);
    for (const std::string& strBase : SideCandidates())
        pName->addItem(FileTitle(strBase), QFile::decodeName(QByteArray::fromStdString(strBase)));
    pLabel->setBuddy(pName);
    pLayout->addWidget(pName);
    auto* pBox = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dlg);
    pBox->button(QDialogButtonBox::Ok)->setText(tr("Add Side"));
    connect(pBox, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
    connect(pBox, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
    pLayout->addWidget(pBox);
    if (m_runDialog(dlg) != QDialog::Accepted) return;

    // A name typed is a recording's base in the folder of the record; ".wav" may be left out.
    std::string strBase = ToUtf8(pName->currentText().trimmed());
    const int nItem = pName->findText(pName->currentText());
    if (nItem >= 0) strBase = QFile::encodeName(pName->itemData(nItem).toString()).toStdString();
    if (strBase.empty()) return;
    if (strBase.size() < 4 || strBase.compare(strBase.size() - 4, 4, ".wav") != 0) strBase += ".wav";
    if (strBase.find('/') == std::string::npos) {
        const std::string& strFirst = m_album.GetBasePath();
        const size_t nSlash = strFirst.find_last_of('/');
        if (nSlash != std::string::npos) strBase = strFirst.substr(0, nSlash + 1) + strBase;
    }
    // A record's second side begins its record file, named after its first side.
    const bool bNewFile = m_album.GetPath().empty();
    std::error_code ec;
    if (bNewFile && std::filesystem::exists(CRecord::DefaultPath(m_album.GetBasePath()), ec)) {
        m_pPrompt->MessageBox(CRecord::DefaultPath(m_album.GetBasePath()) +
                                  " exists already and cannot be opened: move it away to begin a new record.",
                              kCaption, PromptButtons::Ok, PromptIcon::Stop);
        return;
    }
    if (bNewFile && !m_album.SetPath(CRecord::DefaultPath(m_album.GetBasePath()))) {
        ShowError();
        return;
    }
    if (!m_album.AddSide(strBase)) {
        ShowError();
        if (bNewFile) {
            const std::string strPath = m_album.GetPath();
            m_album.SetPath({});
            std::remove(strPath.c_str());
        }
        return;
    }
    ShowOpened(m_strBasePath);
    SetStatus(tr("%1 is side %2.").arg(FileTitle(strBase), FromUtf8(CRecord::SideName(m_album.GetSideCount() - 1))));
}

void CSongsDlg::OnMoveSide(int nBy)
{
    const int nRow = m_pSides->currentRow();
    if (nRow < 0 || nRow + nBy < 0 || nRow + nBy >= m_album.GetSideCount()) return;
    CommitTyping();
    if (!m_album.MoveSide(nRow, nRow + nBy)) {
        ShowError();
        return;
    }
    ShowOpened(m_strBasePath);
    m_pSides->selectRow(nRow + nBy);
    ShowSides();
}

void CSongsDlg::OnRemoveSide()
{
    const int nRow = m_pSides->currentRow();
    if (nRow < 0 || nRow >= m_album.GetSideCount()) return;
    CommitTyping();
    const std::string strBase = m_album.GetSide(nRow).GetBasePath();
    if (!m_album.RemoveSide(nRow)) {
        ShowError();
        return;
    }
    if (!HasSide(m_strBasePath)) m_strBasePath = m_album.GetBasePath();
    ShowOpened(m_strBasePath);
    SetStatus(tr("%1 is no side of this record now; its files are as they were.").arg(FileTitle(strBase)));
}

// ---------------------------------------------------------------------------------
// Peaks

void CSongsDlg::OverviewPeaks(int64_t nFirst, int64_t nLast, int nColumns, std::vector<float>& min,
                              std::vector<float>& max)
{
    const std::vector<COverviewColumn>& cols = m_wholeColumns;
    const int64_t nTotal = m_album.IsOpen() ? m_album.GetTotalFrames() : 0;
    if (cols.empty() || nTotal <= 0) return;
    const int64_t nCols = static_cast<int64_t>(cols.size());
    for (int x = 0; x < nColumns; ++x) {
        // The overview columns covering this pixel's frames; at least the one it falls in.
        const int64_t f0 = nFirst + (nLast - nFirst) * x / nColumns;
        const int64_t f1 = nFirst + (nLast - nFirst) * (x + 1) / nColumns;
        int64_t c0 = f0 * nCols / nTotal;
        int64_t c1 = std::max(c0 + 1, f1 * nCols / nTotal);
        c0 = std::min(c0, nCols - 1);
        c1 = std::min(c1, nCols);
        float lo = cols[static_cast<size_t>(c0)].fMin, hi = cols[static_cast<size_t>(c0)].fMax;
        for (int64_t c = c0 + 1; c < c1; ++c) {
            lo = std::min(lo, cols[static_cast<size_t>(c)].fMin);
            hi = std::max(hi, cols[static_cast<size_t>(c)].fMax);
        }
        min[static_cast<size_t>(x)] = lo;
        max[static_cast<size_t>(x)] = hi;
    }
}

void CSongsDlg::CloseUpPeaks(int64_t nFirst, int64_t nLast, int nColumns, std::vector<float>& min,
                             std::vector<float>& max)
{
    if (!m_album.IsOpen() || nLast <= nFirst) return;
    ShowRepairs(nFirst, nLast);
    if (!m_pNear || m_pNear->GetFirst() != nFirst || m_pNear->GetCount() != nLast - nFirst ||
        static_cast<int>(m_pNear->GetColumns().size()) != nColumns) {
        m_pNear = std::make_unique<COverview>();
        if (!m_pNear->Start(m_album.GetLayout(), nFirst, nLast - nFirst, nColumns)) return;
        m_pTimer->start();
    }
    const std::vector<COverviewColumn> cols = m_pNear->GetColumns();
    for (int x = 0; x < nColumns && x < static_cast<int>(cols.size()); ++x) {
        min[static_cast<size_t>(x)] = cols[static_cast<size_t>(x)].fMin;
        max[static_cast<size_t>(x)] = cols[static_cast<size_t>(x)].fMax;
    }
}

void CSongsDlg::ShowRepairs(int64_t nFirst, int64_t nLast)
{
    if (nFirst == m_nRepairFirst && nLast == m_nRepairLast) return;
    m_nRepairFirst = nFirst;
    m_nRepairLast = nLast;
    CAlbumReader reader(m_album.GetLayout());
    std::vector<float> samples;
    std::vector<uint8_t> marks;
    std::vector<std::pair<int64_t, int64_t>> spans;
    if (CRepairStream::Preview(reader, nFirst, nLast, GetClickLevel(), &samples, &marks)) {
        // One span per stretch of frames with a restored sample on any channel.
        const size_t nChannels = static_cast<size_t>(std::max(1, m_album.GetFormat().nChannels));
        for (size_t f = 0; f * nChannels < marks.size(); ++f) {
            bool bMarked = false;
            for (size_t c = 0; c < nChannels; ++c) bMarked = bMarked || marks[f * nChannels + c];
            if (!bMarked) continue;
            const int64_t nFrame = nFirst + static_cast<int64_t>(f);
            if (!spans.empty() && spans.back().second == nFrame) spans.back().second = nFrame + 1;
            else spans.emplace_back(nFrame, nFrame + 1);
        }
    }
    m_pCloseUp->SetRepairs(spans);
    m_pRepairLabel->setText(spans.empty() ? tr("No clicks to repair here")
                                          : tr("%1 to repair here").arg(spans.size() == 1 ? tr("1 click")
                                                                                            : tr("%1 clicks").arg(spans.size())));
}

void CSongsDlg::OnTick()
{
    bool bBusy = false;
    if (m_pWhole && !m_bWholeShown) {
        if (m_pWhole->IsRunning()) {
            SetStatus(tr("Reading the songs... %1 %").arg(static_cast<int>(m_pWhole->GetProgress() * 100)));
            bBusy = true;
        } else {
            if (m_pWhole->HasError()) SetStatus(FromUtf8(m_pWhole->GetErrorText()), true);
            else SetStatus(QString());
            m_wholeColumns = m_pWhole->GetColumns();
            m_bWholeShown = true;
        }
        m_wholeColumns = m_pWhole->GetColumns();
        m_pOverview->RefreshPeaks();
    }
    if (m_pNear) {
        const bool bRunning = m_pNear->IsRunning();
        m_pCloseUp->RefreshPeaks();
        bBusy = bBusy || bRunning;
    }
    if (m_output.IsPlaying()) {
        const int64_t nHead = m_nPlayFirst + m_output.GetPosition();
        m_pCloseUp->SetPlayHead(nHead);
        m_pOverview->SetPlayHead(nHead);
        bBusy = true;
    } else {
        m_pCloseUp->SetPlayHead(-1);
        m_pOverview->SetPlayHead(-1);
    }
    if (!bBusy) m_pTimer->stop();
}

// ---------------------------------------------------------------------------------
// Looking

void CSongsDlg::OnPickCut(int nCut)
{
    if (nCut <= 0 || nCut >= m_album.GetSongCount()) return;
    if (m_pOverview->IsSideEnd(nCut)) {
        // Where a side ends there is no cut to move: only look there.
        const int32_t nSide = m_album.GetSideOf(nCut + 1);
        m_pOverview->SetPickedCut(0);
        m_pCloseUp->SetPickedCut(0);
        ZoomTo(m_album.GetSongStart(nCut + 1));
        m_pCloseUpLabel->setText(tr("Side %1 ends after song %2; side %3 begins")
                                     .arg(FromUtf8(CRecord::SideName(nSide - 1)))
                                     .arg(nCut)
                                     .arg(FromUtf8(CRecord::SideName(nSide))));
        m_pTable->selectRow(nCut);
        return;
    }
    m_pOverview->SetPickedCut(nCut);
    m_pCloseUp->SetPickedCut(nCut);
    const int64_t nFrame = m_album.GetSongStart(nCut + 1);
    ZoomTo(nFrame);
    m_pCloseUpLabel->setText(tr("Cut %1, between songs %1 and %2, at %3")
                                 .arg(nCut).arg(nCut + 1).arg(Clock(nFrame, m_album.GetFormat().nRate)));
    m_pTable->selectRow(nCut);
}

// Shows a few seconds round a frame in the close-up and puts the cursor there.
void CSongsDlg::ZoomTo(int64_t nFrame)
{
    const int64_t nHalf = static_cast<int64_t>(kCloseUpSeconds / 2 * m_album.GetFormat().nRate);
    m_pCloseUp->SetRange(nFrame - nHalf, nFrame + nHalf);
    m_pCloseUp->SetCursorFrame(nFrame);
    m_pOverview->SetCursorFrame(nFrame);
}

void CSongsDlg::OnPlay()
{
    if (m_output.IsPlaying()) {
        m_output.Stop();
        OnTick();
        return;
    }
    const CAlbumFormat& format = m_album.GetFormat();
    const int64_t nHalf = static_cast<int64_t>(kPlaySeconds * format.nRate);
    const int64_t nFirst = std::max<int64_t>(0, m_pCloseUp->GetCursorFrame() - nHalf);
    const int64_t nCount = std::min<int64_t>(2 * nHalf, m_album.GetTotalFrames() - nFirst);
    if (nCount <= 0) return;
    std::vector<float> samples(static_cast<size_t>(nCount * format.nChannels));
    CAlbumReader reader(m_album.GetLayout());
    int64_t nRead = 0;
    if (m_pPlayRepaired->isChecked()) {
        std::vector<uint8_t> marks;
        nRead = CRepairStream::Preview(reader, nFirst, nFirst + nCount, GetClickLevel(), &samples, &marks) ? nCount : 0;
    } else {
        nRead = reader.ReadFloat(nFirst, nCount, samples.data());
    }
    if (nRead <= 0) {
        SetStatus(FromUtf8(reader.GetErrorText()), true);
        return;
    }
    samples.resize(static_cast<size_t>(nRead * format.nChannels));
    m_nPlayFirst = nFirst;
    m_played = samples;
    if (!m_output.Play(std::move(samples), format.nChannels, format.nRate)) {
        SetStatus(QString::fromStdString(m_output.GetErrorText()), true);
        return;
    }
    SetStatus(QString());
    m_pTimer->start();
}

// ---------------------------------------------------------------------------------
// Editing

void CSongsDlg::ShowError()
{
    m_pPrompt->MessageBox(m_album.GetErrorText(), kCaption, PromptButtons::Ok, PromptIcon::Stop);
}

void CSongsDlg::AfterEdit(bool bOk, int nPick)
{
    m_output.Stop();
    if (!bOk) ShowError();
    ShowAlbum();
    if (bOk && nPick >= 0) {
        m_pOverview->SetPickedCut(nPick);
        m_pCloseUp->SetPickedCut(nPick);
    }
    // A done edit makes an earlier hint stale.
    if (bOk) SetStatus(QString());
    const int nCut = m_pCloseUp->GetPickedCut();
    if (nCut > 0) OnPickCut(nCut);
    else m_pCloseUpLabel->setText(tr("Click a cut above to look at it closely."));
}

void CSongsDlg::OnSnap()
{
    const int nCut = m_pCloseUp->GetPickedCut();
    if (nCut <= 0) return;
    const int64_t nFrame = m_album.GetSongStart(nCut + 1);
    const int64_t nTarget = m_album.FindSnap(nFrame, kSnapSeconds, m_album.GetSongStart(nCut) + 1,
                                             m_album.GetSongStart(nCut + 2) - 1);
    if (nTarget == nFrame) {
        SetStatus(tr("No quieter place within %1 seconds.").arg(kSnapSeconds));
        return;
    }
    AfterEdit(m_album.MoveCut(nCut, nTarget));
}

void CSongsDlg::OnJoin()
{
    const int nCut = m_pCloseUp->GetPickedCut();
    if (nCut <= 0) {
        SetStatus(tr("Click the cut to remove first."), true);
        return;
    }
    AfterEdit(m_album.Join(nCut), 0);
}

void CSongsDlg::OnSplit()
{
    const int64_t nFrame = m_pCloseUp->GetCursorFrame();
    const CAlbumLayout layout = m_album.GetLayout();
    const int32_t k = layout.SongAt(nFrame);
    if (k <= 0 || nFrame == layout.SongStart(k)) {
        SetStatus(tr("Put the cursor inside a song to split it there."), true);
        return;
    }
    // The new cut is picked, so Join right after takes it away again.
    AfterEdit(m_album.Split(k, nFrame), k);
}

void CSongsDlg::OnUndo()
{
    if (!m_album.CanUndo()) return;
    AfterEdit(m_album.Undo());
}

void CSongsDlg::OnRedo()
{
    if (!m_album.CanRedo()) return;
    AfterEdit(m_album.Redo());
}

void CSongsDlg::OnTitleEdited(int nRow, int nColumn)
{
    if (m_bFilling || nColumn != 1) return;
    const QTableWidgetItem* pItem = m_pTable->item(nRow, nColumn);
    if (!pItem) return;
    if (!m_album.SetTitle(nRow + 1, ToUtf8(pItem->text()))) ShowError();
    else SetStatus(QString());
    ShowAlbum();
}

void CSongsDlg::OnInfoEdited()
{
    CAlbumInfo info;
    info.strAlbum = ToUtf8(m_pAlbumEdit->text());
    info.strArtist = ToUtf8(m_pArtistEdit->text());
    info.strYear = ToUtf8(m_pYearEdit->text());
    const CAlbumInfo& old = m_album.GetInfo();
    if (info.strAlbum == old.strAlbum && info.strArtist == old.strArtist && info.strYear == old.strYear) return;
    if (!m_album.SetInfo(info)) ShowError();
}

void CSongsDlg::OnExport()
{
    if (!m_album.IsOpen()) return;
    OnInfoEdited();
    CExportDlg dlg(m_album.GetLayout(), this);
    dlg.SetPrompt(m_pPrompt);
    dlg.setPalette(palette());
    dlg.SetStore(m_pStore);
    // A record file keeps the cover chosen for it; a recording on its own has none to keep it.
    if (!m_album.GetPath().empty())
        dlg.SetKeptCover(m_album.GetCover(), [this](const std::string& strCover) {
            return m_album.SetCover(strCover) ? std::string() : m_album.GetErrorText();
        });
    m_runDialog(dlg);
    // The sensitivity chosen there is the one to mark and play.
    if (m_pStore) SetStore(m_pStore);
    // The export window may have changed the album data: keep it with the songs.
    const CAlbumInfo info = dlg.GetInfo();
    m_pAlbumEdit->setText(FromUtf8(info.strAlbum));
    m_pArtistEdit->setText(FromUtf8(info.strArtist));
    m_pYearEdit->setText(FromUtf8(info.strYear));
    OnInfoEdited();
}

void CSongsDlg::OnPasteTrackList()
{
    if (!m_album.IsOpen()) return;
    CTrackListDlg dlg(m_album.GetSongCount(), this);
    dlg.setPalette(palette());
    if (m_runDialog(dlg) != QDialog::Accepted) return;
    std::string strError;
    if (dlg.IsFit()) {
        // What moved, what could not be placed, and why a side was left as it was.
        std::vector<std::string> report;
        const bool bAll = FitCuts::Fit(m_album, dlg.GetList(), &report, &strError);
        std::string strText;
        for (const std::string& strLine : report) strText += strLine + "\n";
        if (!strError.empty()) strText += strError + "\n";
        if (strText.empty()) strText = "Every cut was where the track list puts it.\n";
        m_pPrompt->MessageBox(strText, "Fit Cuts to Track List", PromptButtons::Ok,
                              bAll ? PromptIcon::Information : PromptIcon::Exclamation);
        AfterEdit(true);
        return;
    }
    if (!TrackList::SetTitles(m_album, dlg.GetList(), &strError))
        m_pPrompt->MessageBox(strError, kCaption, PromptButtons::Ok,
                              strError == m_album.GetErrorText() ? PromptIcon::Stop : PromptIcon::Exclamation);
    else
        SetStatus(tr("Titles set from the track list."));
    ShowAlbum();
}

void CSongsDlg::SetStatus(const QString& text, bool bProblem)
{
    // Problems in red as the main window's status fields show them, news in green.
    m_pStatus->setPalette(bProblem ? CAppearance::StatusPalette(QApplication::palette())
                                   : CAppearance::ComboPalette(QApplication::palette()));
    m_pStatus->setText(text);
}

void CSongsDlg::CommitTyping()
{
    // The editor of a title being typed hands its text to the table as Enter would.
    const QModelIndex index = m_pTable->currentIndex();
    if (QWidget* pEditor = index.isValid() ? m_pTable->indexWidget(index) : nullptr) {
        QAbstractItemDelegate* pDelegate = m_pTable->itemDelegateForIndex(index);
        emit pDelegate->commitData(pEditor);
        emit pDelegate->closeEditor(pEditor, QAbstractItemDelegate::NoHint);
    }
    if (m_album.IsOpen() && !m_bRecording) OnInfoEdited();
}

void CSongsDlg::closeEvent(QCloseEvent* pEvent)
{
    m_output.Stop();
    CommitTyping();
    if (m_pStore) m_pStore->setValue(kGeometryKey, saveGeometry());
    QDialog::closeEvent(pEvent);
}
