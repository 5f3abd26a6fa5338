#pragma once
// The edits made since an album or a record was opened, for Undo and Redo.

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

/**
 * A list of edits (T: whatever its owner needs to take an edit back and make it again) and
 * how many of them are applied. Undo takes back the last applied edit, Redo makes the next
 * one again, and a new edit drops the ones undone before it. Undo and Redo move through
 * the list only when the owner's own step succeeded, so a failed one leaves the history
 * where it was. Not thread-safe: it belongs to its album or record.
 */
template <typename T>
class CEditHistory
{
public:
    void Clear()
    {
        m_edits.clear();
        m_nDone = 0;
    }

    // A new edit, made: those undone before it can no longer be redone.
    void Add(T edit)
    {
        m_edits.resize(m_nDone);
        m_edits.push_back(std::move(edit));
        m_nDone = m_edits.size();
    }

    bool CanUndo() const { return m_nDone > 0; }
    bool CanRedo() const { return m_nDone < m_edits.size(); }

    // Takes back the last applied edit through fnUndo(T&), which returns false (with its
    // own text) when it could not. *pError says so when there is nothing to undo.
    template <typename Fn>
    bool Undo(std::string* pError, Fn fnUndo)
    {
        if (!CanUndo()) {
            *pError = "There is nothing to undo.";
            return false;
        }
        if (!fnUndo(m_edits[m_nDone - 1])) return false;
        --m_nDone;
        return true;
    }

    // Makes the next undone edit again through fnRedo(T&), as Undo.
    template <typename Fn>
    bool Redo(std::string* pError, Fn fnRedo)
    {
        if (!CanRedo()) {
            *pError = "There is nothing to redo.";
            return false;
        }
        if (!fnRedo(m_edits[m_nDone])) return false;
        ++m_nDone;
        return true;
    }

    // Calls fnKeep(T&) on every edit, in order; it may change the edit, and the edits it
    // returns false for leave the history (an applied one then no longer counts as one).
    template <typename Fn>
    void Keep(Fn fnKeep)
    {
        std::vector<T> kept;
        size_t nDone = 0;
        for (size_t i = 0; i < m_edits.size(); ++i) {
            if (!fnKeep(m_edits[i])) continue;
            kept.push_back(std::move(m_edits[i]));
            if (i < m_nDone) ++nDone;
        }
        m_edits = std::move(kept);
        m_nDone = nDone;
    }

private:
    std::vector<T> m_edits;
    size_t m_nDone = 0;  // m_edits[0 .. m_nDone - 1] are applied
};
