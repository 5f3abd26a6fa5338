#pragma once
// The one way the program asks the user anything: message boxes and the save-file
// dialog. The main window and the settings window pass a Qt implementation; tests
// pass a scripted one that records each question and answers it.
// Called on the window thread only (the recording worker's error box goes through
// the session's window interface, which posts it there).

#include <string>
#include <vector>

enum class PromptButtons { Ok, YesNo };
enum class PromptIcon { None, Stop, Exclamation, Question, Information };
enum class PromptAnswer { Ok, Yes, No, Cancel };

struct PromptFileFilter {
    std::string description;  // "Windows PCM (*.wav)"
    std::string pattern;      // "*.wav"
};

class IPrompt {
public:
    virtual ~IPrompt() = default;

    // A modal message box. The Stop icon is the error icon.
    virtual PromptAnswer MessageBox(const std::string& text, const std::string& caption,
                                    PromptButtons buttons, PromptIcon icon) = 0;

    // A save-file dialog with no overwrite prompt. Returns false when cancelled;
    // otherwise sets the full path and the file title (name and extension, no folder).
    virtual bool SaveFileDialog(const std::string& initialName, const std::string& defaultExt,
                                const std::vector<PromptFileFilter>& filters,
                                std::string* fullPath, std::string* fileTitle) = 0;
};
