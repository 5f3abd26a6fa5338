#include "app/RecorderApp.h"

#include "app/RecorderDlg.h"
#include "controls/QtPrompt.h"
#include "resources/Artwork.h"
#include "resources/DialogTemplate.h"
#include "resources/Help.h"
#include "resources/ResourceIds.h"
#include "settings/PersistedSettings.h"

#include <QSettings>
#include <QVariant>

namespace {
int g_nArgc = 1;

// Hands every question to the Qt prompt of the moment: one without an owner while the
// main window sets itself up, then one owned by the main window.
class CForwardPrompt : public IPrompt {
public:
    IPrompt* m_pTarget = nullptr;
    PromptAnswer MessageBox(const std::string& text, const std::string& caption, PromptButtons buttons,
                            PromptIcon icon) override
    {
        return m_pTarget->MessageBox(text, caption, buttons, icon);
    }
    bool SaveFileDialog(const std::string& initialName, const std::string& defaultExt,
                        const std::vector<PromptFileFilter>& filters, std::string* fullPath,
                        std::string* fileTitle) override
    {
        return m_pTarget->SaveFileDialog(initialName, defaultExt, filters, fullPath, fileTitle);
    }
};
}  // namespace

int& CRecorderApp::FirstArgOnly(int& argc)
{
    // Qt sees only the program name: the recorder has no command-line options.
    g_nArgc = argc > 0 ? 1 : 0;
    return g_nArgc;
}

CRecorderApp::CRecorderApp(int& argc, char** argv) : QApplication(FirstArgOnly(argc), argv)
{
}

CRecorderApp::~CRecorderApp() = default;

bool CRecorderApp::InitInstance()
{
    setApplicationName(QString::fromUtf8(kSettingsApplication));
    setOrganizationName(QString::fromUtf8(kSettingsOrganization));
    setDesktopFileName(QStringLiteral("io.github.cadenzo.Cadenzo"));
    InitResources();

    QSettings store;  // ~/.config/Novu/Cadenzio.conf
    CQtPrompt startPrompt;
    CForwardPrompt prompt;
    prompt.m_pTarget = &startPrompt;
    {
        CRecorderDlg dlg(&prompt, &store);
        CQtPrompt windowPrompt(&dlg);
        prompt.m_pTarget = &windowPrompt;
        dlg.exec();
        prompt.m_pTarget = &startPrompt;
    }
    return false;
}

int CRecorderApp::HelpTopicOf(const QWidget* pWindow)
{
    for (const QWidget* p = pWindow; p; p = p->parentWidget()) {
        const QVariant topic = p->property("helpTopic");
        if (topic.isValid()) return topic.toInt();
        const QString title = p->windowTitle();
        for (int id : {IDD_CUSTOM_SETTINGS, IDD_RECORDER}) {
            if (title == QString::fromUtf8(GetDialogTemplate(id).m_szCaption)) return id;
        }
    }
    return IDH_RECORDER;
}

void CRecorderApp::OnHelp(QWidget* pFallback)
{
    QWidget* pWindow = QApplication::activeModalWidget();
    if (!pWindow) pWindow = QApplication::activeWindow();
    if (!pWindow) pWindow = pFallback;
    ShowHelp(pWindow, HelpTopicOf(pWindow));
}
