#include "app/ExportDlg.h"

#include "album/ExportTags.h"
#include "app/Appearance.h"
#include "capture/Prompt.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QImageReader>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTimer>
#include <QVBoxLayout>

namespace {

QString FromUtf8(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<int>(s.size())); }
std::string ToUtf8(const QString& s) { return s.toUtf8().toStdString(); }

// The folder of the base file, where the songs are.
QString BaseFolder(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? QString(".") : FromUtf8(path.substr(0, slash));
}

// Where the user's settings keep the last export's choices.
const char kFolderKey[] = "Songs/Export Folder";
const char kTrimKey[] = "Songs/Export Trim";
const char kDeclickKey[] = "Songs/Export Remove Clicks";

// "1 song", "6 songs".
QString Count(int64_t n, const char* one, const char* many)
{
    return QString("%1 %2").arg(n).arg(n == 1 ? one : many);
}

}  // namespace

CExportDlg::CExportDlg(const CAlbumLayout& layout, QWidget* pParent) : QDialog(pParent), m_layout(layout)
{
    setWindowTitle(tr("Export Songs"));
    auto* pLayout = new QVBoxLayout(this);
    auto* pForm = new QFormLayout;

    auto* pFolderRow = new QHBoxLayout;
    m_pFolder = new QLineEdit(BaseFolder(layout.strBasePath), this);
    m_pBrowse = new QPushButton(tr("&Browse..."), this);
    m_pBrowse->setAutoDefault(false);
    connect(m_pBrowse, &QPushButton::clicked, this, [this] { OnBrowse(); });
    pFolderRow->addWidget(m_pFolder, 1);
    pFolderRow->addWidget(m_pBrowse);
    auto* pFolderLabel = new QLabel(tr("&Folder:"), this);
    pFolderLabel->setBuddy(m_pFolder);
    pForm->addRow(pFolderLabel, pFolderRow);

    auto* pFormatRow = new QGridLayout;
    m_pFlac = new QRadioButton(tr("FLAC, &tagged"), this);
    m_pWav = new QRadioButton(tr("&WAV"), this);
    m_pMp3 = new QRadioButton(tr("MP3, VBR V&0"), this);
    m_pMp3Cbr = new QRadioButton(tr("MP3, &320 kbit/s"), this);
    m_pOgg = new QRadioButton(tr("O&gg Vorbis, q6"), this);
    m_pOpus = new QRadioButton(tr("O&pus, 160 kbit/s"), this);
    m_pFlac->setChecked(true);
    pFormatRow->addWidget(m_pFlac, 0, 0);
    pFormatRow->addWidget(m_pMp3, 0, 1);
    pFormatRow->addWidget(m_pOgg, 0, 2);
    pFormatRow->addWidget(m_pWav, 1, 0);
    pFormatRow->addWidget(m_pMp3Cbr, 1, 1);
    pFormatRow->addWidget(m_pOpus, 1, 2);
    pFormatRow->setColumnStretch(3, 1);
    pForm->addRow(tr("Format:"), pFormatRow);
    m_pSubfolder = new QComboBox(this);
    m_pSubfolder->addItems({tr("In the folder itself"), tr("In Artist/Album under it"), tr("In \"Artist - Album\" under it")});
    pForm->addRow(tr("&Songs go:"), m_pSubfolder);

    m_pAlbum = new QLineEdit(FromUtf8(layout.info.strAlbum), this);
    m_pArtist = new QLineEdit(FromUtf8(layout.info.strArtist), this);
    m_pYear = new QLineEdit(FromUtf8(layout.info.strYear), this);
    pForm->addRow(tr("A&lbum:"), m_pAlbum);
    pForm->addRow(tr("A&rtist:"), m_pArtist);
    pForm->addRow(tr("&Year:"), m_pYear);

    auto* pCoverRow = new QHBoxLayout;
    m_pCover = new QLineEdit(this);
    m_pCover->setPlaceholderText(tr("none"));
    m_pCoverButton = new QPushButton(tr("Co&ver..."), this);
    m_pCoverButton->setAutoDefault(false);
    m_pCoverPreview = new QLabel(this);
    m_pCoverPreview->setFixedSize(48, 48);
    m_pCoverPreview->setAlignment(Qt::AlignCenter);
    connect(m_pCoverButton, &QPushButton::clicked, this, [this] { OnCoverButton(); });
    connect(m_pCover, &QLineEdit::textChanged, this, [this] { ShowCover(); });
    pCoverRow->addWidget(m_pCover, 1);
    pCoverRow->addWidget(m_pCoverButton);
    pCoverRow->addWidget(m_pCoverPreview);
    auto* pCoverLabel = new QLabel(tr("Cover:"), this);
    pCoverLabel->setBuddy(m_pCover);
    pForm->addRow(pCoverLabel, pCoverRow);
    m_pReplayGain = new QCheckBox(tr("Tag ReplayGa&in: each song's and the album's loudness and peak"), this);
    m_pReplayGain->setChecked(true);
    pForm->addRow(QString(), m_pReplayGain);
    m_pTrim = new QCheckBox(layout.sideFirsts.size() > 1
                                ? tr("Tri&m the quiet before each side's first song and after its last to half a second")
                                : tr("Tri&m the quiet before the first song and after the last to half a second"),
                            this);
    m_pTrim->setToolTip(tr("Quiet is what stays within 6 dB of the noise floor measured at that end (record hiss "
                           "and crackle, or digital silence), clicks left out; anything clearly above it is kept."));
    pForm->addRow(QString(), m_pTrim);
    auto* pDeclickRow = new QHBoxLayout;
    m_pDeclick = new QCheckBox(tr("Remove &clicks, pops and crackle"), this);
    m_pDeclick->setToolTip(tr("Repairs the exported files only: the song files never change. Only the samples "
                              "taken for clicks differ from the recording; ReplayGain measures the repaired sound."));
    m_pDeclickLevel = new QComboBox(this);
    FillDeclickLevels(m_pDeclickLevel);
    m_pDeclickLevel->setToolTip(tr("How readily a sample counts as a click: Normal leaves clean music alone, Light "
                                   "takes only plain clicks, Strong also fainter ones at the price of touching a "
                                   "little more music."));
    m_pDeclickLevel->setEnabled(false);
    connect(m_pDeclick, &QCheckBox::toggled, m_pDeclickLevel, &QWidget::setEnabled);
    auto* pLevelLabel = new QLabel(tr("Se&nsitivity:"), this);
    pLevelLabel->setBuddy(m_pDeclickLevel);
    pDeclickRow->addWidget(m_pDeclick);
    pDeclickRow->addSpacing(12);
    pDeclickRow->addWidget(pLevelLabel);
    pDeclickRow->addWidget(m_pDeclickLevel);
    pDeclickRow->addStretch(1);
    pForm->addRow(QString(), pDeclickRow);
    pLayout->addLayout(pForm);

    m_pProgress = new QProgressBar(this);
    m_pProgress->setRange(0, 1000);
    m_pProgress->setValue(0);
    m_pProgress->setTextVisible(false);
    pLayout->addWidget(m_pProgress);
    m_pReport = new QLabel(this);
    m_pReport->setWordWrap(true);
    m_pReport->setTextInteractionFlags(Qt::TextSelectableByMouse);
    pLayout->addWidget(m_pReport);

    auto* pButtons = new QHBoxLayout;
    pButtons->addStretch(1);
    m_pExport = new QPushButton(tr("&Export"), this);
    m_pExport->setDefault(true);
    m_pCancel = new QPushButton(tr("Close"), this);
    m_pCancel->setAutoDefault(false);
    pButtons->addWidget(m_pExport);
    pButtons->addWidget(m_pCancel);
    pLayout->addLayout(pButtons);
    connect(m_pExport, &QPushButton::clicked, this, [this] { OnExport(); });
    connect(m_pCancel, &QPushButton::clicked, this, [this] { OnCancel(); });

    const QPalette base = QApplication::palette();
    const QPalette fields = CAppearance::ComboPalette(base);
    for (QLineEdit* pEdit : {m_pFolder, m_pAlbum, m_pArtist, m_pYear, m_pCover}) pEdit->setPalette(fields);
    m_pReport->setAutoFillBackground(true);
    SetReport(Count(layout.songs.size(), "song", "songs") + tr(" to export."));

    m_pTimer = new QTimer(this);
    m_pTimer->setInterval(50);
    connect(m_pTimer, &QTimer::timeout, this, [this] { OnTick(); });
    resize(560, sizeHint().height());
}

CExportDlg::~CExportDlg() = default;  // the job cancels and waits

void CExportDlg::SetStore(QSettings* pStore)
{
    m_pStore = pStore;
    if (!m_pStore) return;
    const QString folder = m_pStore->value(kFolderKey).toString();
    if (!folder.isEmpty()) m_pFolder->setText(folder);
    m_pTrim->setChecked(m_pStore->value(kTrimKey, false).toBool());
    m_pDeclick->setChecked(m_pStore->value(kDeclickKey, false).toBool());
    m_pDeclickLevel->setCurrentIndex(m_pDeclickLevel->findData(static_cast<int>(StoredDeclickLevel(m_pStore))));
}

void CExportDlg::SetKeptCover(const std::string& strCover, std::function<std::string(const std::string&)> fnKeep)
{
    m_strKeptCover = strCover;
    m_fnKeepCover = std::move(fnKeep);
    m_pCover->setText(QFile::decodeName(strCover.c_str()));
}

const char* const CExportDlg::kDeclickLevelKey = "Songs/Export Click Sensitivity";

CDeclickLevel CExportDlg::StoredDeclickLevel(const QSettings* pStore)
{
    CDeclickLevel level = CDeclickLevel::Normal;
    if (pStore) ParseDeclickLevel(pStore->value(kDeclickLevelKey).toString().toStdString(), level);
    return level;
}

void CExportDlg::FillDeclickLevels(QComboBox* pBox)
{
    for (CDeclickLevel level : {CDeclickLevel::Light, CDeclickLevel::Normal, CDeclickLevel::Strong}) {
        QString name = QString::fromLatin1(DeclickLevelName(level));
        name[0] = name[0].toUpper();
        pBox->addItem(name, static_cast<int>(level));
    }
    pBox->setCurrentIndex(pBox->findData(static_cast<int>(CDeclickLevel::Normal)));
}

void CExportDlg::SetReport(const QString& text, bool bProblem)
{
    // Problems in red as the main window's status fields show them, news in green.
    const QPalette base = QApplication::palette();
    m_pReport->setPalette(bProblem ? CAppearance::StatusPalette(base) : CAppearance::ComboPalette(base));
    m_pReport->setText(text);
}

CAlbumInfo CExportDlg::GetInfo() const
{
    CAlbumInfo info;
    info.strAlbum = ToUtf8(m_pAlbum->text());
    info.strArtist = ToUtf8(m_pArtist->text());
    info.strYear = ToUtf8(m_pYear->text());
    return info;
}

bool CExportDlg::IsExporting() const
{
    return m_bRunning;
}

void CExportDlg::OnBrowse()
{
    const QString folder = QFileDialog::getExistingDirectory(this, tr("Export to"), m_pFolder->text());
    if (!folder.isEmpty()) m_pFolder->setText(folder);
}

void CExportDlg::OnCoverButton()
{
    const QString file = QFileDialog::getOpenFileName(this, tr("Cover"), m_pCover->text().isEmpty() ? m_pFolder->text() : m_pCover->text(),
                                                      tr("Pictures (*.jpg *.jpeg *.png)"));
    if (!file.isEmpty()) m_pCover->setText(file);
}

void CExportDlg::ShowCover()
{
    // The export checks the file again and says why it refuses one.
    QImageReader reader(m_pCover->text().trimmed());
    reader.setScaledSize(QSize(48, 48));
    const QImage image = m_pCover->text().trimmed().isEmpty() ? QImage() : reader.read();
    m_pCoverPreview->setPixmap(image.isNull() ? QPixmap() : QPixmap::fromImage(image));
}

QRadioButton* CExportDlg::GetFormatButton(CExportFormat format) const
{
    switch (format) {
    case CExportFormat::Flac: return m_pFlac;
    case CExportFormat::Wav: return m_pWav;
    case CExportFormat::Mp3: return m_pMp3;
    case CExportFormat::Mp3Cbr320: return m_pMp3Cbr;
    case CExportFormat::Ogg: return m_pOgg;
    case CExportFormat::Opus: return m_pOpus;
    }
    return m_pFlac;
}

CExportFormat CExportDlg::GetFormat() const
{
    for (CExportFormat format : {CExportFormat::Wav, CExportFormat::Mp3, CExportFormat::Mp3Cbr320,
                                 CExportFormat::Ogg, CExportFormat::Opus})
        if (GetFormatButton(format)->isChecked()) return format;
    return CExportFormat::Flac;
}

void CExportDlg::Lock(bool bRunning)
{
    m_bRunning = bRunning;
    for (QWidget* pField : std::initializer_list<QWidget*>{m_pFolder, m_pBrowse, m_pFlac, m_pWav, m_pAlbum,
                                                           m_pArtist, m_pYear, m_pTrim, m_pExport, m_pMp3,
                                                           m_pMp3Cbr, m_pOgg, m_pOpus, m_pReplayGain, m_pCover,
                                                           m_pCoverButton, m_pSubfolder, m_pDeclick})
        pField->setEnabled(!bRunning);
    m_pDeclickLevel->setEnabled(!bRunning && m_pDeclick->isChecked());
    m_pCancel->setText(bRunning ? tr("Cancel") : tr("Close"));
}

void CExportDlg::OnExport()
{
    if (IsExporting()) return;
    const QString folder = m_pFolder->text().trimmed();
    if (folder.isEmpty()) {
        SetReport(tr("Choose a folder to export to."), true);
        m_pFolder->setFocus();
        return;
    }
    CExportOptions options;
    options.strFolder = QFile::encodeName(folder).toStdString();
    options.format = GetFormat();
    options.bReplayGain = m_pReplayGain->isChecked();
    options.strCover = QFile::encodeName(m_pCover->text().trimmed()).toStdString();
    options.subfolder = static_cast<CExportSubfolder>(m_pSubfolder->currentIndex());
    options.info = GetInfo();
    options.bTrim = m_pTrim->isChecked();
    m_bTrim = options.bTrim;
    options.bDeclick = m_pDeclick->isChecked();
    options.declickLevel = static_cast<CDeclickLevel>(m_pDeclickLevel->currentData().toInt());
    m_bDeclick = options.bDeclick;
    if (m_pStore) {
        m_pStore->setValue(kFolderKey, folder);
        m_pStore->setValue(kTrimKey, options.bTrim);
        m_pStore->setValue(kDeclickKey, options.bDeclick);
        m_pStore->setValue(kDeclickLevelKey, QString::fromLatin1(DeclickLevelName(options.declickLevel)));
    }
    // A cover chosen for a record is kept with it, once it is known to be a picture.
    if (m_fnKeepCover && options.strCover != m_strKeptCover) {
        CCover cover;
        std::string strError;
        if (!options.strCover.empty() && !ExportTags::LoadCover(options.strCover, &cover, &strError)) {
            SetReport(FromUtf8(strError), true);
            return;
        }
        strError = m_fnKeepCover(options.strCover);
        if (!strError.empty()) {
            SetReport(FromUtf8(strError), true);
            return;
        }
        m_strKeptCover = options.strCover;
    }
    CAlbumLayout layout = m_layout;
    layout.info = options.info;
    const std::vector<std::string> existing = CExportJob::ExistingFiles(layout, options);
    if (!existing.empty() && m_pPrompt != nullptr) {
        std::string strText = existing.size() == 1 ? "This file exists already:\n"
                                                   : std::to_string(existing.size()) + " files exist already:\n";
        for (size_t i = 0; i < existing.size() && i < 5; ++i) strText += existing[i] + "\n";
        if (existing.size() > 5) strText += "...\n";
        strText += "\nDo you want to replace them?";
        if (m_pPrompt->MessageBox(strText, "Export", PromptButtons::YesNo, PromptIcon::Question) !=
            PromptAnswer::Yes)
            return;
        options.bOverwrite = true;
    }
    m_pJob = std::make_unique<CExportJob>();
    m_pProgress->setValue(0);
    if (!m_pJob->Start(layout, options)) {
        SetReport(FromUtf8(m_pJob->GetReport().strError), true);
        return;
    }
    SetReport(tr("Exporting..."));
    Lock(true);
    m_pTimer->start();
}

void CExportDlg::OnCancel()
{
    if (IsExporting()) {
        m_pJob->Cancel();
        SetReport(tr("Cancelling..."));
        return;
    }
    QDialog::reject();
}

void CExportDlg::OnTick()
{
    if (!m_pJob) return;
    m_pProgress->setValue(static_cast<int>(m_pJob->GetProgress() * 1000));
    if (m_pJob->IsRunning()) return;
    m_pTimer->stop();
    m_pJob->Wait();
    const CExportReport report = m_pJob->GetReport();
    QString text;
    if (report.bCancelled)
        text = tr("Cancelled after %1.").arg(Count(report.files.size(), "file", "files"));
    else if (!report.strError.empty())
        text = FromUtf8(report.strError);
    else
        text = tr("%1 written to %2.").arg(Count(report.files.size(), "file", "files"), QFile::decodeName(report.strFolder.c_str()));
    if (m_bTrim && report.strError.empty() && !report.bCancelled) {
        // A record's sides a line each, below what was written.
        text += (report.sideLeads.size() > 1 ? "\n" : " ") + FromUtf8(CExportJob::TrimText(report, m_layout.format.nRate));
    }
    if (m_bDeclick && !report.clicks.empty()) {
        QStringList perSong;
        for (size_t i = 0; i < report.clicks.size(); ++i)
            perSong << tr("%1 in song %2").arg(report.clicks[i]).arg(i + 1);
        text += " " + tr("Clicks repaired: %1.").arg(perSong.join(", "));
    }
    if (report.nClamped > 0)
        text += " " + Count(report.nClamped, "sample", "samples") + tr(" beyond full scale clamped.");
    if (report.nLatin1Tags > 0)
        text += " " + Count(report.nLatin1Tags, "tag", "tags") + tr(" not in UTF-8 read as Latin-1.");
    if (report.bCancelled || !report.strError.empty()) m_pProgress->setValue(0);
    SetReport(text, !report.strError.empty());
    Lock(false);
}

void CExportDlg::reject()
{
    OnCancel();
}

void CExportDlg::closeEvent(QCloseEvent* pEvent)
{
    if (IsExporting()) {
        OnCancel();
        pEvent->ignore();
        return;
    }
    QDialog::closeEvent(pEvent);
}
