#pragma once
// The windows' IPrompt: QMessageBox for message boxes and QFileDialog for the
// save-file dialog, both modal and owned by the given window.
//
//   CQtPrompt prompt(this);
//   if (prompt.MessageBox(text, "Preset Warning", PromptButtons::YesNo, PromptIcon::Question) == PromptAnswer::Yes) ...
//
// Icons: Stop -> critical, Exclamation -> warning, Question, Information, None.
// A Yes/No box answers No when closed with Escape; an OK box answers Ok.
// The save-file dialog shows the filters in order, asks nothing before
// overwriting, and adds the default extension to a name typed without one.
// Window thread only.

#include "capture/Prompt.h"

#include <QPointer>
#include <QWidget>

class CQtPrompt : public IPrompt {
public:
    explicit CQtPrompt(QWidget* parent = nullptr) : m_pParent(parent) {}

    PromptAnswer MessageBox(const std::string& text, const std::string& caption, PromptButtons buttons,
                            PromptIcon icon) override;
    bool SaveFileDialog(const std::string& initialName, const std::string& defaultExt,
                        const std::vector<PromptFileFilter>& filters, std::string* fullPath,
                        std::string* fileTitle) override;

private:
    QPointer<QWidget> m_pParent;
};
