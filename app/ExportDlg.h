#pragma once
// The export window: asks for the folder, the format, the album data, the cover, whether
// to tag ReplayGain and whether to remove clicks (and how readily), then writes one file
// per song in the background with a progress bar, and can be cancelled.
//
//   CExportDlg dlg(album.GetLayout(), parent);
//   dlg.exec();            // Export starts the job; Cancel stops it, or closes the window
//   CAlbumInfo info = dlg.GetInfo();
//
// While the job runs the fields are locked and the window cannot be closed except by
// Cancel, which stops the job (the library leaves no half-written file under a final
// name). When it ends the window says what was written, what was clamped, or what failed.
// Window thread only; the job is polled.

#include "album/Export.h"

#include <QDialog>

#include <functional>
#include <memory>
#include <string>

class IPrompt;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSettings;
class QTimer;

class CExportDlg : public QDialog {
    Q_OBJECT
    IPrompt* m_pPrompt = nullptr;
public:
    CExportDlg(const CAlbumLayout& layout, QWidget* pParent = nullptr);
    ~CExportDlg() override;

    // Asks through pPrompt before Export replaces files that exist in the folder; without
    // one, files in the way make the export refuse (the window says which).
    void SetPrompt(IPrompt* pPrompt) { m_pPrompt = pPrompt; }
    // The user's settings: the folder, Trim and Remove clicks of the last export are taken
    // from them (the recording's folder, no trim and no repair the first time) and kept
    // there at each Export. pStore must outlive the window; nullptr remembers nothing.
    void SetStore(QSettings* pStore);
    // The cover a record keeps: the Cover field starts with strCover, and at each Export a
    // cover other than the kept one (none included) is handed to fnKeep once it is known to
    // be a picture. fnKeep returns an empty text when the record kept it, else why not; the
    // window then shows that and exports nothing. Without it nothing is kept.
    void SetKeptCover(const std::string& strCover, std::function<std::string(const std::string&)> fnKeep);

    // The album data as the fields hold it now.
    CAlbumInfo GetInfo() const;
    // From Export until the window has shown how the job ended.
    bool IsExporting() const;

    void OnExport();
    void OnCancel();

    // --- what tests read ---
    QLineEdit* GetFolderEdit() const { return m_pFolder; }
    QProgressBar* GetProgressBar() const { return m_pProgress; }
    QLabel* GetReportLabel() const { return m_pReport; }
    QPushButton* GetExportButton() const { return m_pExport; }
    QPushButton* GetCancelButton() const { return m_pCancel; }
    QRadioButton* GetWavButton() const { return m_pWav; }
    QRadioButton* GetFormatButton(CExportFormat format) const;
    QCheckBox* GetReplayGainBox() const { return m_pReplayGain; }
    QLineEdit* GetCoverEdit() const { return m_pCover; }
    QPushButton* GetCoverButton() const { return m_pCoverButton; }
    QLabel* GetCoverPreview() const { return m_pCoverPreview; }
    QComboBox* GetSubfolderBox() const { return m_pSubfolder; }
    QCheckBox* GetTrimBox() const { return m_pTrim; }
    QCheckBox* GetDeclickBox() const { return m_pDeclick; }
    QComboBox* GetDeclickLevelBox() const { return m_pDeclickLevel; }

    // Where the user's settings keep the declicker's level (its name), shared with the
    // Songs window's preview; Normal when missing or unknown.
    static const char* const kDeclickLevelKey;
    static CDeclickLevel StoredDeclickLevel(const QSettings* pStore);
    // A combo box of the declicker's levels, "Light", "Normal", "Strong", each with the
    // level as its data.
    static void FillDeclickLevels(QComboBox* pBox);

public slots:
    void reject() override;  // Escape and the close box: cancels a running export first

protected:
    void closeEvent(QCloseEvent* pEvent) override;

private:
    void OnTick();
    void Lock(bool bRunning);
    void OnBrowse();
    void OnCoverButton();
    void ShowCover();
    CExportFormat GetFormat() const;
    void SetReport(const QString& text, bool bProblem = false);  // bProblem: shown as an error

    CAlbumLayout m_layout;
    std::unique_ptr<CExportJob> m_pJob;
    QLineEdit* m_pFolder = nullptr;
    QPushButton* m_pBrowse = nullptr;
    QRadioButton* m_pFlac = nullptr;
    QRadioButton* m_pWav = nullptr;
    QLineEdit* m_pAlbum = nullptr;
    QLineEdit* m_pArtist = nullptr;
    QLineEdit* m_pYear = nullptr;
    QCheckBox* m_pTrim = nullptr;
    QCheckBox* m_pDeclick = nullptr;
    QComboBox* m_pDeclickLevel = nullptr;
    QRadioButton* m_pMp3 = nullptr;
    QRadioButton* m_pMp3Cbr = nullptr;
    QRadioButton* m_pOgg = nullptr;
    QRadioButton* m_pOpus = nullptr;
    QCheckBox* m_pReplayGain = nullptr;
    QLineEdit* m_pCover = nullptr;
    QPushButton* m_pCoverButton = nullptr;
    QLabel* m_pCoverPreview = nullptr;
    QComboBox* m_pSubfolder = nullptr;
    QProgressBar* m_pProgress = nullptr;
    QLabel* m_pReport = nullptr;
    QPushButton* m_pExport = nullptr;
    QPushButton* m_pCancel = nullptr;
    QTimer* m_pTimer = nullptr;
    bool m_bRunning = false;
    bool m_bTrim = false;       // the running export trims
    bool m_bDeclick = false;    // and removes clicks
    QSettings* m_pStore = nullptr;
    std::string m_strKeptCover;
    std::function<std::string(const std::string&)> m_fnKeepCover;
};
