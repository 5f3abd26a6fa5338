#include "resources/Strings.h"

#include "resources/ResourceIds.h"

QString LoadString(int id)
{
    switch (id) {
    case IDS_ABOUTBOX: return QStringLiteral("&About Cadenzo...");
    case IDS_TIP_RECORD: return QStringLiteral("Record");
    case IDS_TIP_STOP: return QStringLiteral("Stop recording");
    case IDS_TIP_ADD_PRESET: return QStringLiteral("Add a Preset");
    case IDS_TIP_DELETE_PRESET: return QStringLiteral("Delete a Preset");
    case IDS_TIP_LEVEL_LEFT: return QStringLiteral("Level Left (2dB/LED)");
    case IDS_TIP_BASE_NAME: return QStringLiteral("Select base filename from list");
    case IDS_TIP_NEW: return QStringLiteral("Create new base file");
    // The Mixer button starts this platform's own sound mixer, so the tip names no
    // other system's program.
    case IDS_TIP_MIXER: return QStringLiteral("Open the sound mixer");
    case IDS_TIP_LEVEL_RIGHT: return QStringLiteral("Level Right (2dB/LED)");
    case IDS_TIP_WATCH_LEFT:
        return QStringLiteral("Level Left (2dB/LED)\nClick to watch the input before recording");
    case IDS_TIP_WATCH_RIGHT:
        return QStringLiteral("Level Right (2dB/LED)\nClick to watch the input before recording");
    default: return QString();
    }
}
