#pragma once
// A prompt that records every question the window asks and answers it from a script,
// so the tests see each box's exact text, caption, buttons and icon.

#include "capture/Prompt.h"

#include <deque>
#include <string>
#include <vector>

class CScriptedPrompt : public IPrompt {
public:
    struct Box {
        std::string text, caption;
        PromptButtons buttons;
        PromptIcon icon;
    };
    struct FileQuestion {
        std::string initialName, defaultExt;
        std::vector<PromptFileFilter> filters;
    };
    // A file dialog answer: a full path, or cancel when empty.
    struct FileAnswer {
        std::string fullPath, fileTitle;
    };

    std::vector<Box> boxes;
    std::deque<PromptAnswer> answers;   // default: Ok for OK boxes, Yes for Yes/No boxes
    std::vector<FileQuestion> fileQuestions;
    std::deque<FileAnswer> fileAnswers; // default: cancel

    PromptAnswer MessageBox(const std::string& text, const std::string& caption,
                            PromptButtons buttons, PromptIcon icon) override
    {
        boxes.push_back({text, caption, buttons, icon});
        if (!answers.empty()) {
            const PromptAnswer a = answers.front();
            answers.pop_front();
            return a;
        }
        return buttons == PromptButtons::YesNo ? PromptAnswer::Yes : PromptAnswer::Ok;
    }

    bool SaveFileDialog(const std::string& initialName, const std::string& defaultExt,
                        const std::vector<PromptFileFilter>& filters, std::string* fullPath,
                        std::string* fileTitle) override
    {
        fileQuestions.push_back({initialName, defaultExt, filters});
        if (fileAnswers.empty() || fileAnswers.front().fullPath.empty()) {
            if (!fileAnswers.empty()) fileAnswers.pop_front();
            return false;
        }
        const FileAnswer a = fileAnswers.front();
        fileAnswers.pop_front();
        *fullPath = a.fullPath;
        *fileTitle = a.fileTitle.empty() ? a.fullPath.substr(a.fullPath.find_last_of('/') + 1) : a.fileTitle;
        return true;
    }
};
