#pragma once
// The Songs window: the songs of one recording, to look at, listen to, correct, name
// and export.
//
//   auto* dlg = new CSongsDlg(&prompt, this);
//   dlg->SetGapLevel(-35.0);
//   dlg->SetRecordingCheck([this] { return isRecordingThatBase(); });
//   if (dlg->Open("Music/Side A.wav")) dlg->show();
//
// Top to bottom: the album data (album, artist, year); the overview of the whole
// recording with a marker per cut and each song's number, title and length; the
// close-up of a few seconds round the picked cut with the Gap Level drawn; the command
// buttons; the table of songs with editable titles; a status line.
//
// Clicking a cut in the overview (or a row of the table) shows it in the close-up;
// there the marker can be dragged or nudged with the arrow keys. The close-up marks the
// samples the export's click repair would restore, at the sensitivity chosen beside it.
// Play (Space) plays a few seconds round the cursor with a moving play head, repaired
// when Play repaired is ticked; without an output device the status line says so and
// everything else goes on. Snap moves the picked cut to the
// most convincing silence nearby, Join removes the picked cut, Split cuts the song
// under the cursor at the cursor, Undo and Redo (Ctrl+Z, Ctrl+Shift+Z) step through the
// edits. Export... opens the export window.
//
// A record of several sides (an LP's side A and side B, recorded one after the other) is
// shown side after side: the overview marks where a side ends, the songs count across the
// sides. The sides' list under the buttons adds a side (Add Side..., the recording that
// just ended offered first), moves sides up and down, removes one (its files stay), gives
// each side its disc, and chooses vinyl numbering for the exported file names. The record
// is kept in a record file beside the sides, found again when any side is opened.
//
// Every change of files goes through the album library; a refused or failed edit is
// shown in a box through the prompt. Window thread only; the overview is computed on
// the library's own threads and polled.

#include "album/Album.h"
#include "album/Record.h"
#include "album/Overview.h"
#include "engine/Declicker.h"
#include "capture/SoundOutput.h"

#include <QDialog>
#include <QRect>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class CWaveView;
class IPrompt;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSettings;
class QTableWidget;
class QTimer;

class CSongsDlg : public QDialog {
    Q_OBJECT
public:
    // pPrompt must outlive the window.
    explicit CSongsDlg(IPrompt* pPrompt, QWidget* pParent = nullptr);
    ~CSongsDlg() override;

    // Opens the songs of a base file ("Music/Side A.wav"). False (after showing the
    // library's text in a box) when they cannot be opened.
    bool Open(const std::string& strBasePath);
    // Opens the same base file again (after a recording to it ended).
    void Reload();
    // Shows the songs a recording to strBasePath has finished so far (full paths, in
    // order), to look at and listen to but not to edit, with a line saying so. Called
    // again as each song ends; Open() or Reload() once the recording stops.
    bool ShowRecording(const std::string& strBasePath, const std::vector<std::string>& finished);
    bool IsShowingRecording() const { return m_bRecording; }
    // Keeps what is being typed: the title in the table's editor and the album fields go
    // to the album (and its cue sheet) as Enter would take them. Every close does it.
    void CommitTyping();
    const std::string& GetBasePath() const { return m_strBasePath; }
    // True when strBasePath is a side of the record shown.
    bool HasSide(const std::string& strBasePath) const;
    // The recording that ended last, offered first by Add Side...
    void SetLastRecording(const std::string& strBasePath) { m_strLastRecording = strBasePath; }

    // The user's settings, where the window keeps its place and size, and the export its
    // folder, Trim, Remove clicks and the click sensitivity (which the close-up's marks
    // and Play repaired use too); pStore must outlive the window.
    void SetStore(QSettings* pStore);
    // Before the window is first shown: where it was last, or else beside pMain where the
    // screen has room, so that it does not cover the recorder.
    void PlaceBeside(const QWidget* pMain);
    // Where PlaceBeside puts a window of size `want` (frame: what the window frame adds;
    // least: the smallest size it may take) beside a main window whose frame is `main`,
    // on a screen whose free area is `screen`: the window's frame position and size.
    // Empty when neither side has room.
    static QRect Beside(const QRect& screen, const QRect& main, const QSize& frame, const QSize& want,
                        const QSize& least);

    // The Gap Level in dB, drawn in the close-up.
    void SetGapLevel(double fDb);
    // Asked before every edit and export: true refuses it, a recording to this base runs.
    void SetRecordingCheck(std::function<bool()> fnIsRecording);
    // PortAudio's device index for playing; -1 is the default output device.
    void SetOutputDevice(int nDevice) { m_output.SetDevice(nDevice); }

    // --- commands (the buttons and keys) ---
    void OnPlay();
    void OnSnap();
    void OnJoin();
    void OnSplit();
    void OnUndo();
    void OnRedo();
    void OnExport();
    void OnPasteTrackList();
    void OnPickCut(int nCut);
    void OnAddSide();
    void OnMoveSide(int nBy);   // the selected side up (-1) or down (+1)
    void OnRemoveSide();
    // The recordings Add Side... offers: the last one first, then the others in the folder
    // of the first side that are not sides yet.
    std::vector<std::string> SideCandidates() const;

    // --- what tests read ---
    CRecord& GetAlbum() { return m_album; }
    QTableWidget* GetSides() const { return m_pSides; }
    QCheckBox* GetVinyl() const { return m_pVinyl; }
    CWaveView* GetOverview() const { return m_pOverview; }
    CWaveView* GetCloseUp() const { return m_pCloseUp; }
    QTableWidget* GetTable() const { return m_pTable; }
    QLabel* GetStatus() const { return m_pStatus; }
    QPushButton* GetButton(const char* name) const;
    QCheckBox* GetPlayRepairedBox() const { return m_pPlayRepaired; }
    QComboBox* GetClickLevelBox() const { return m_pClickLevel; }
    QLabel* GetRepairLabel() const { return m_pRepairLabel; }
    // The samples the last Play handed to the output (whether or not a device took them).
    const std::vector<float>& GetPlayedSamples() const { return m_played; }
    int64_t GetPlayedFirst() const { return m_nPlayFirst; }
    bool IsOverviewReady() const;
    // How the export window is run; tests replace it to work the window as a user would.
    using DialogRunner = std::function<int(QDialog&)>;
    void SetDialogRunner(DialogRunner runner) { m_runDialog = std::move(runner); }

protected:
    void closeEvent(QCloseEvent* pEvent) override;

private:
    void BuildControls();
    void ShowOpened(const std::string& strBasePath);
    void ApplyLook();
    void ShowAlbum();          // songs, table, fields and buttons from the album
    void ShowSides();          // the sides' list from the record
    bool OpenBase(const std::string& strBasePath);  // its record when it has one
    void ShowError();          // the album's error text in a box
    // Shows the album after an edit; nPick >= 0 picks that cut once it succeeded.
    void AfterEdit(bool bOk, int nPick = -1);
    void StartOverview();
    void ZoomTo(int64_t nFrame);
    void OnTick();             // polls the overviews and the play head
    void OnTitleEdited(int nRow, int nColumn);
    void OnInfoEdited();
    void SetStatus(const QString& text, bool bProblem = false);  // bProblem: shown as an error
    void OverviewPeaks(int64_t nFirst, int64_t nLast, int nColumns, std::vector<float>& min,
                       std::vector<float>& max);
    void CloseUpPeaks(int64_t nFirst, int64_t nLast, int nColumns, std::vector<float>& min,
                      std::vector<float>& max);
    // Marks in the close-up what click repair would restore in [nFirst, nLast), unless
    // that stretch at this sensitivity is marked already.
    void ShowRepairs(int64_t nFirst, int64_t nLast);
    CDeclickLevel GetClickLevel() const;

    IPrompt* m_pPrompt;
    CRecord m_album;
    std::string m_strBasePath;
    std::string m_strLastRecording;
    std::string m_strRecordProblem;  // why the record of the side opened could not be
    std::function<bool()> m_fnIsRecording;
    DialogRunner m_runDialog;

    // The whole recording at a fixed resolution, shown at any width; the close-up at the
    // width and stretch it shows. The samples of the recording, one after another, never
    // change with an edit, so neither needs computing again after one.
    std::unique_ptr<COverview> m_pWhole;
    std::unique_ptr<COverview> m_pNear;
    std::vector<COverviewColumn> m_wholeColumns;  // copy once finished
    bool m_bWholeShown = false;  // the finished overview has been drawn

    CSoundOutput m_output;
    int64_t m_nPlayFirst = 0;  // frame where the playing stretch begins
    std::vector<float> m_played;
    // The stretch whose repairs the close-up shows; -1 when they are to be found again.
    int64_t m_nRepairFirst = -1, m_nRepairLast = -1;

    CWaveView* m_pOverview = nullptr;
    CWaveView* m_pCloseUp = nullptr;
    QLabel* m_pCloseUpLabel = nullptr;
    QLabel* m_pRecordingLine = nullptr;  // says that a recording runs and editing waits
    QTableWidget* m_pTable = nullptr;
    QLineEdit* m_pAlbumEdit = nullptr;
    QLineEdit* m_pArtistEdit = nullptr;
    QLineEdit* m_pYearEdit = nullptr;
    QLabel* m_pStatus = nullptr;
    QLabel* m_pLeftovers = nullptr;  // an earlier take's files beside this one's, if any
    QPushButton* m_pPlay = nullptr;
    QPushButton* m_pSnap = nullptr;
    QPushButton* m_pJoin = nullptr;
    QPushButton* m_pSplit = nullptr;
    QPushButton* m_pUndo = nullptr;
    QPushButton* m_pRedo = nullptr;
    QPushButton* m_pExport = nullptr;
    QTableWidget* m_pSides = nullptr;   // Side, Recording, Songs, Disc
    QCheckBox* m_pVinyl = nullptr;
    QPushButton* m_pSideUp = nullptr;
    QPushButton* m_pSideDown = nullptr;
    QPushButton* m_pRemoveSide = nullptr;
    QCheckBox* m_pPlayRepaired = nullptr;
    QComboBox* m_pClickLevel = nullptr;
    QLabel* m_pRepairLabel = nullptr;  // how many clicks the close-up marks
    QTimer* m_pTimer = nullptr;
    bool m_bFilling = false;  // the table is being filled: its changes are not edits
    bool m_bRecording = false;
    QSettings* m_pStore = nullptr;  // showing what a running recording has finished: no edits
};
