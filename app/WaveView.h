#pragma once
// A view of a stretch of a recording: its waveform as one peak bar per pixel column,
// the cuts between songs as markers, the songs' numbers, titles and lengths, the
// cursor, the play head and, when asked, the Gap Level as two lines and the samples
// that click repair would restore.
//
// The view holds no samples. It asks its peak source for the peaks of the frames it
// shows whenever its stretch or its width changes, so the same widget serves as the
// overview of the whole recording and as the close-up of a few seconds round a cut.
//
// Mouse: pressing on a marker (within a few pixels) picks that cut; with dragging
// allowed it follows the mouse, bounded by its neighbours, and is reported once on
// release. Pressing elsewhere sets the cursor. Keyboard (with dragging allowed): Left
// and Right nudge the picked cut by 10 ms, with Shift by one frame, with Ctrl by
// 100 ms; the new place is reported when the key is let go, so holding a key down
// moves the marker smoothly and makes one edit.
//
// Window thread only.

#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

class CWaveView : public QWidget {
    Q_OBJECT
public:
    struct Song {
        int64_t nStart = 0;   // first frame in the recording
        int64_t nFrames = 0;  // length in frames
        QString title;
    };
    // Fills min and max (each `columns` values, -1..1) with the peaks of the frames
    // [first, last) split into `columns` equal parts.
    using PeakSource = std::function<void(int64_t first, int64_t last, int columns,
                                          std::vector<float>& min, std::vector<float>& max)>;

    explicit CWaveView(QWidget* pParent = nullptr);

    void SetPeakSource(PeakSource source);
    // The songs of the recording (in order, without gaps) and its frame rate.
    void SetSongs(const std::vector<Song>& songs, int nRate);
    // The stretch shown, [first, last) in frames; clamped to the recording.
    void SetRange(int64_t nFirst, int64_t nLast);
    int64_t GetFirst() const { return m_nFirst; }
    int64_t GetLast() const { return m_nLast; }
    // Asks the peak source again (after an edit, or when the overview is ready).
    void RefreshPeaks();

    // Whether markers can be dragged and nudged (the close-up) or only picked (the overview).
    void SetEditable(bool bEditable) { m_bEditable = bEditable; }
    // Whether the song labels are drawn (the overview).
    void SetShowLabels(bool bShow) { m_bShowLabels = bShow; update(); }
    // The Gap Level in dB, drawn as two lines; NaN draws none.
    void SetGapLevel(double fDb);
    // Heights in decibels (the bottom kDbRange dB of full scale), so quiet passages and
    // the Gap Level stand out; otherwise heights follow the samples (the overview).
    void SetDecibelScale(bool bDecibels) { m_bDecibels = bDecibels; update(); }
    static constexpr double kDbRange = 72.0;

    // Stretches of frames [first, end) that click repair would restore, shaded with a
    // mark under each (at least a pixel wide, however short); empty draws none.
    void SetRepairs(std::vector<std::pair<int64_t, int64_t>> spans);
    const std::vector<std::pair<int64_t, int64_t>>& GetRepairs() const { return m_repairs; }

    void SetCursorFrame(int64_t nFrame);
    int64_t GetCursorFrame() const { return m_nCursor; }
    // The play head's frame; -1 hides it.
    void SetPlayHead(int64_t nFrame);
    // The ends of the sides of a record: cut k (between songs k and k + 1) where one side
    // ends and the next begins, drawn as a side's end, never picked or moved.
    void SetSideEnds(const std::vector<int>& ends);
    bool IsSideEnd(int nCut) const;
    // The picked cut: 1 for the cut between song 1 and song 2, ...; 0 for none.
    void SetPickedCut(int nCut);
    int GetPickedCut() const { return m_nPicked; }
    // Where a cut's marker stands now (its frame while it is being dragged or nudged).
    int64_t GetCutFrame(int nCut) const;

    // Pixel column of a frame and frame of a pixel column in the current stretch.
    double FrameToX(int64_t nFrame) const;
    int64_t XToFrame(double x) const;

    QSize sizeHint() const override { return QSize(600, 120); }
    QSize minimumSizeHint() const override { return QSize(120, 60); }

signals:
    void cutPicked(int nCut);
    void cutMoved(int nCut, int64_t nFrame);  // a drag or a nudge ended at nFrame
    void cursorMoved(int64_t nFrame);
    void sideEndClicked(int nCut);  // a click on the end of a side (cut nCut's place)

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void resizeEvent(QResizeEvent* pEvent) override;
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseMoveEvent(QMouseEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;
    void keyReleaseEvent(QKeyEvent* pEvent) override;

private:
    int CutAt(double x) const;       // cut whose marker is within reach of x, or 0
    double Height(float fSample) const;  // -1..1 on the view's scale
    int64_t ClampCut(int nCut, int64_t nFrame) const;
    void EndMove();

    PeakSource m_source;
    std::vector<Song> m_songs;
    std::vector<int> m_sideEnds;       // cuts that are the ends of sides, ascending
    int m_nRate = 44100;
    int64_t m_nTotal = 0;
    int64_t m_nFirst = 0, m_nLast = 0;
    std::vector<float> m_min, m_max;   // one pair per pixel column
    bool m_bEditable = false;
    bool m_bShowLabels = false;
    bool m_bDecibels = false;
    double m_fGapDb;
    std::vector<std::pair<int64_t, int64_t>> m_repairs;
    int64_t m_nCursor = 0;
    int64_t m_nPlayHead = -1;
    int m_nPicked = 0;
    bool m_bMoving = false;            // the picked cut is being dragged or nudged
    int64_t m_nMoveFrame = 0;          // where it stands meanwhile
};
