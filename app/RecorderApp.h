#pragma once
// The application: names the settings store and runs the recorder window.

#include <QApplication>

/**
 * The recorder's application object. Construct it once in main, then call
 * InitInstance, which names the per-user settings store (organization "Novu",
 * application "Cadenzio"), runs the main window modally for the whole run of the
 * program, destroys it and returns false (no further event loop).
 * The program takes no command-line arguments: only the program name is given to Qt.
 * OnHelp shows our own help page for the active window's topic; every Help button
 * of the program comes here. Window thread only.
 */
class CRecorderApp : public QApplication {
    Q_OBJECT
public:
    CRecorderApp(int& argc, char** argv);
    ~CRecorderApp() override;

    bool InitInstance();

    // Shows the help of the active window (the modal one on top, else the active one,
    // else pFallback): the recorder's page or the settings window's page, chosen by
    // the window's template id.
    static void OnHelp(QWidget* pFallback = nullptr);
    // The help topic of a window: its "helpTopic" property, else its template id by
    // title, else the main window's.
    static int HelpTopicOf(const QWidget* pWindow);

private:
    static int& FirstArgOnly(int& argc);
};
