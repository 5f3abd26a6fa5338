#include "app/TrackListDlg.h"

#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

CTrackListDlg::CTrackListDlg(int nSongs, QWidget* pParent) : QDialog(pParent), m_nSongs(nSongs)
{
    setWindowTitle(tr("Paste Track List"));
    auto* pLayout = new QVBoxLayout(this);
    auto* pHelp = new QLabel(tr("One track a line, as on the sleeve: \"A1 Title 3:45\", \"1. Title (3:45)\", "
                                "\"Title\". The titles go to the songs in order."),
                             this);
    pHelp->setWordWrap(true);
    pLayout->addWidget(pHelp);
    m_pText = new QPlainTextEdit(this);
    m_pText->setLineWrapMode(QPlainTextEdit::NoWrap);
    pLayout->addWidget(m_pText, 1);
    m_pSummary = new QLabel(this);
    m_pSummary->setWordWrap(true);
    m_pSummary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    pLayout->addWidget(m_pSummary);
    auto* pButtons = new QHBoxLayout;
    pButtons->addStretch(1);
    m_pSet = new QPushButton(tr("&Set Titles"), this);
    m_pSet->setDefault(true);
    auto* pCancel = new QPushButton(tr("Cancel"), this);
    pCancel->setAutoDefault(false);
    m_pFit = new QPushButton(tr("&Fit Cuts to Track List"), this);
    m_pFit->setObjectName("fit");
    m_pFit->setAutoDefault(false);
    m_pFit->setToolTip(tr("Moves each cut to the quiet nearest where the durations say the song ends, and "
                          "sets the titles"));
    pButtons->addWidget(m_pFit);
    pButtons->addWidget(m_pSet);
    pButtons->addWidget(pCancel);
    pLayout->addLayout(pButtons);
    connect(m_pSet, &QPushButton::clicked, this, [this] {
        m_bFit = false;
        accept();
    });
    connect(m_pFit, &QPushButton::clicked, this, [this] {
        m_bFit = true;
        accept();
    });
    connect(pCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_pText, &QPlainTextEdit::textChanged, this, [this] { OnTextChanged(); });
    m_pText->setPlainText(QApplication::clipboard()->text());
    OnTextChanged();
    resize(520, 420);
}

CTrackList CTrackListDlg::GetList() const
{
    return TrackList::Parse(m_pText->toPlainText().toUtf8().toStdString());
}

void CTrackListDlg::OnTextChanged()
{
    const CTrackList list = GetList();
    const int nTracks = static_cast<int>(list.tracks.size());
    QString text = tr("%1 %2 for %3 %4.")
                       .arg(nTracks)
                       .arg(nTracks == 1 ? tr("track") : tr("tracks"))
                       .arg(m_nSongs)
                       .arg(m_nSongs == 1 ? tr("song") : tr("songs"));
    for (const std::string& strRefused : list.refused) text += "\n" + QString::fromStdString(strRefused);
    m_pSummary->setText(text);
    m_pSet->setEnabled(!list.tracks.empty());
    m_pFit->setEnabled(!list.tracks.empty() && list.HasDurations());
}
