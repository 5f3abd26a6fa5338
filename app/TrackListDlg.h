#pragma once
// The window where a track list is pasted: a text box filled from the clipboard, a line
// that says what the list holds as it is edited, and Set Titles.
//
//   CTrackListDlg dlg(nSongs, parent);
//   if (dlg.exec() == QDialog::Accepted) TrackList::SetTitles(album, dlg.GetList(), &error);

#include "album/TrackList.h"

#include <QDialog>

class QLabel;
class QPlainTextEdit;
class QPushButton;

class CTrackListDlg : public QDialog {
    Q_OBJECT
public:
    CTrackListDlg(int nSongs, QWidget* pParent = nullptr);

    CTrackList GetList() const;
    // The dialog was left with Fit Cuts to Track List rather than Set Titles.
    bool IsFit() const { return m_bFit; }

    // --- what tests read ---
    QPlainTextEdit* GetTextEdit() const { return m_pText; }
    QLabel* GetSummary() const { return m_pSummary; }
    QPushButton* GetSetButton() const { return m_pSet; }
    QPushButton* GetFitButton() const { return m_pFit; }

private:
    void OnTextChanged();

    int m_nSongs;
    QPlainTextEdit* m_pText = nullptr;
    QLabel* m_pSummary = nullptr;
    QPushButton* m_pSet = nullptr;
    QPushButton* m_pFit = nullptr;
    bool m_bFit = false;
};
