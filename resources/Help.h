#pragma once
// The recorder's own help pages, one per window topic (the template id of the
// window: 102 the main window, 139 the settings window).
// Window thread only.

#include <QString>

class QWidget;

// The help page of a topic as HTML, or an empty string for an unknown topic.
QString LoadHelpPage(int topic);
// Resource path of the topic's page (":/cadenzo/help/recorder.html"), or empty.
QString HelpPagePath(int topic);
// Shows the topic's page in a modal help window owned by `parent`. Returns false
// (showing nothing) for an unknown topic.
bool ShowHelp(QWidget* parent, int topic);
