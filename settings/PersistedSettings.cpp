#include "settings/PersistedSettings.h"

#include "engine/SongSplitter.h"

#include <QSettings>

void LoadSettings(QSettings&, const CSettingsHost&) {}
void SaveSettings(QSettings&, const CSettingsHost&) {}
