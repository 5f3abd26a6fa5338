#include "app/ExportDlg.h"

#include "app/Appearance.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
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

    auto* pFormatRow = new QHBoxLayout;
    m_pFlac = new QRadioButton(tr("FLAC, &tagged"), this);
    m_pWav = new QRadioButton(tr("&WAV"), this);
    m_pFlac->setChecked(true);
    pFormatRow->addWidget(m_pFlac);
    pFormatRow->addWidget(m_pWav);
    pFormatRow->addStretch(1);
    pForm->addRow(tr("Format:"), pFormatRow);

    m_pAlbum = new QLineEdit(FromUtf8(layout.info.strAlbum), this);
    m_pArtist = new QLineEdit(FromUtf8(layout.info.strArtist), this);
    m_pYear = new QLineEdit(FromUtf8(layout.info.strYear), this);
    pForm->addRow(tr("A&lbum:"), m_pAlbum);
    pForm->addRow(tr("A&rtist:"), m_pArtist);
    pForm->addRow(tr("&Year:"), m_pYear);
    m_pTrim = new QCheckBox(tr("Tri&m the quiet before the first song and after the last to half a second"), this);
    m_pTrim->setToolTip(tr("Quiet is what stays within 6 dB of the noise floor measured at that end (record hiss "
                           "and crackle, or digital silence), clicks left out; anything clearly above it is kept."));
    pForm->addRow(QString(), m_pTrim);
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
    for (QLineEdit* pEdit : {m_pFolder, m_pAlbum, m_pArtist, m_pYear}) pEdit->setPalette(fields);
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

void CExportDlg::Lock(bool bRunning)
{
    m_bRunning = bRunning;
    for (QWidget* pField : std::initializer_list<QWidget*>{m_pFolder, m_pBrowse, m_pFlac, m_pWav, m_pAlbum,
                                                           m_pArtist, m_pYear, m_pTrim, m_pExport})
        pField->setEnabled(!bRunning);
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
    options.format = m_pWav->isChecked() ? CExportFormat::Wav : CExportFormat::Flac;
    options.info = GetInfo();
    options.bTrim = m_pTrim->isChecked();
    m_bTrim = options.bTrim;
    if (m_pStore) {
        m_pStore->setValue(kFolderKey, folder);
        m_pStore->setValue(kTrimKey, options.bTrim);
    }
    CAlbumLayout layout = m_layout;
    layout.info = options.info;
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
        text = tr("%1 written to %2.").arg(Count(report.files.size(), "file", "files"), m_pFolder->text());
    if (m_bTrim && report.strError.empty() && !report.bCancelled) {
        const double fRate = m_layout.format.nRate > 0 ? m_layout.format.nRate : 1;
        text += " " + tr("Trimmed %1 s before the first song and %2 s after the last.")
                          .arg(static_cast<double>(report.nTrimmedLead) / fRate, 0, 'f', 1)
                          .arg(static_cast<double>(report.nTrimmedTrail) / fRate, 0, 'f', 1);
    }
    if (report.nClamped > 0)
        text += " " + Count(report.nClamped, "sample", "samples") + tr(" beyond full scale clamped.");
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
