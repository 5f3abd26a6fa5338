#include "settings/PersistedSettings.h"

#include "engine/SongSplitter.h"
#include "settings/Presets.h"

#include <QSettings>
#include <QString>
#include <QStringDecoder>
#include <QVariant>

#include <cstring>

namespace {

// Keys of the section, in the order the saver writes them.
const char kBaseNameKeyFormat[] = "OutfileName%1";  // with 0 .. 3
constexpr int kBaseNameKeys = 4;
const char kGapSizeKey[] = "Gap Size";
const char kGapLevelKey[] = "Gap Level";
const char kMinSongKey[] = "Min Song Size";
const char kEndGapKey[] = "End Size";
const char kDCBlockKey[] = "DC Block";
const char kIgnoreClicksKey[] = "Ignore Clicks";
const char kBitsPerSampleKey[] = "Bits Per Sample";
const char kSamplesPerSecKey[] = "Samples Per Sec";
const char kChannelsKey[] = "Channels";
const char kWaveInIDKey[] = "WaveInID";
const char kPresetKey[] = "Preset";
const char kBackgroundKey[] = "Background";
// Not part of a preset: the preset file keeps the layout every version reads.
const char kListenKey[] = "Listen After End Gap";
const char kFlagsKey[] = "flags";
const char kShowCmdKey[] = "showCmd";
const char kLeftKey[] = "left";
const char kTopKey[] = "top";

constexpr int32_t kDefaultWaveInID = -1;  // the system default device
const char kDefaultPreset[] = "Album/Tape";
constexpr int32_t kDefaultBackground = 1;
constexpr int32_t kNotStored = -1;  // "flags", "left" and "top" when no position is stored

QString BaseNameKey(int n)
{
    return QString::fromLatin1(kBaseNameKeyFormat).arg(n);
}

// Reads an integer as a 32-bit number: a value stored as its unsigned two's
// complement (4294962003) reads back negative (-5293). Missing or unreadable values
// give the default.
int32_t ReadInt(const QSettings& store, const QString& key, int32_t defaultValue)
{
    const QVariant v = store.value(key);
    if (!v.isValid())
        return defaultValue;
    bool ok = false;
    const qlonglong x = v.toLongLong(&ok);
    if (!ok)
        return defaultValue;
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<unsigned long long>(x)));
}

int32_t ReadInt(const QSettings& store, const char* key, int32_t defaultValue)
{
    return ReadInt(store, QString::fromLatin1(key), defaultValue);
}

// Paths and preset names are bytes: text in UTF-8 as a rule, but a Linux path may hold
// any bytes and an old preset file's names are in a single-byte code page. Text is
// stored as text; other bytes are stored as they are, so they read back unchanged.
std::string ReadString(const QSettings& store, const QString& key, const char* defaultValue)
{
    const QVariant v = store.value(key);
    if (!v.isValid())
        return defaultValue;
    if (v.typeId() == QMetaType::QByteArray)
        return v.toByteArray().toStdString();
    return v.toString().toStdString();
}

void WriteInt(QSettings& store, const char* key, int32_t value)
{
    store.setValue(QString::fromLatin1(key), static_cast<int>(value));
}

void WriteString(QSettings& store, const QString& key, const std::string& value)
{
    const QByteArray bytes = QByteArray::fromStdString(value);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(bytes);
    if (utf8.hasError())
        store.setValue(key, bytes);
    else
        store.setValue(key, text);
}

int32_t ClampToInt32(int64_t v)
{
    if (v > INT32_MAX)
        return INT32_MAX;
    if (v < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(v);
}

void LoadPlacement(const QSettings& store, IWindowPlacement& window)
{
    CWindowPlacement placement = window.GetWindowPlacement();
    const int64_t width = static_cast<int64_t>(placement.m_nRight) - placement.m_nLeft;
    const int64_t height = static_cast<int64_t>(placement.m_nBottom) - placement.m_nTop;

    const int32_t flags = ReadInt(store, kFlagsKey, kNotStored);
    if (flags == kNotStored)
        return;
    placement.m_nFlags = flags;
    placement.m_nShowCmd = kShowCmdShow;  // a window minimised at exit opens shown

    int32_t left = ReadInt(store, kLeftKey, kNotStored);
    if (left == kNotStored)
        return;
    int32_t top = ReadInt(store, kTopKey, kNotStored);
    if (top == kNotStored)
        return;

    // Keep at least an icon's width and height of the window on the screen.
    const int64_t maxLeft = static_cast<int64_t>(window.GetScreenWidth()) - window.GetIconWidth();
    const int64_t maxTop = static_cast<int64_t>(window.GetScreenHeight()) - window.GetIconHeight();
    if (left >= maxLeft)
        left = ClampToInt32(maxLeft);
    if (top >= maxTop)
        top = ClampToInt32(maxTop);

    placement.m_nLeft = left;
    placement.m_nTop = top;
    placement.m_nRight = ClampToInt32(left + width);
    placement.m_nBottom = ClampToInt32(top + height);
    window.SetWindowPlacement(placement);
}

}  // namespace

void LoadSettings(QSettings& store, const CSettingsHost& host)
{
    store.beginGroup(QString::fromLatin1(kSettingsGroup));

    // Key 3 first: each name goes to the top of the box, so key 0 ends at the top,
    // selected.
    if (host.m_pBaseNames) {
        for (int n = kBaseNameKeys - 1; n >= 0; --n) {
            const std::string path = ReadString(store, BaseNameKey(n), "");
            if (!path.empty())
                host.m_pBaseNames->AddBaseName(path);
        }
    }

    // The splitter's own initial values are the defaults; each value goes to the
    // window's copy and to the splitter. Range errors are not shown at start.
    if (host.m_pValues && host.m_pSplitter) {
        CSettingsValues& v = *host.m_pValues;
        CSongSplitter& s = *host.m_pSplitter;
        v.m_nGapSize = ReadInt(store, kGapSizeKey, s.GetGapSize());
        s.SetGapSize(v.m_nGapSize);
        v.m_nGapLevel = ReadInt(store, kGapLevelKey, s.GetGapLevel());
        s.SetGapLevel(v.m_nGapLevel);
        v.m_nMinSong = ReadInt(store, kMinSongKey, s.GetMinSong());
        s.SetMinSong(v.m_nMinSong);
        v.m_nEndGap = ReadInt(store, kEndGapKey, s.GetEndGap());
        s.SetEndGap(v.m_nEndGap);
        v.m_bDCBlock = ReadInt(store, kDCBlockKey, s.GetDcBlock());
        s.SetDcBlock(v.m_bDCBlock);
        v.m_bIgnoreClicks = ReadInt(store, kIgnoreClicksKey, s.GetIgnoreClicks());
        s.SetIgnoreClicks(v.m_bIgnoreClicks);
        v.m_nBitsPerSample =
            static_cast<int16_t>(ReadInt(store, kBitsPerSampleKey, s.GetBitsPerSample()));
        s.SetBitsPerSample(v.m_nBitsPerSample);
        v.m_nSamplesPerSec = ReadInt(store, kSamplesPerSecKey, s.GetSamplesPerSec());
        s.SetSamplesPerSec(v.m_nSamplesPerSec);
        v.m_nChannels = static_cast<int16_t>(ReadInt(store, kChannelsKey, s.GetChannels()));
        s.SetChannels(v.m_nChannels);
    }

    const int32_t device = ReadInt(store, kWaveInIDKey, kDefaultWaveInID);
    if (host.m_pValues)
        host.m_pValues->m_nWaveInID = device;
    if (host.m_setDevice)
        host.m_setDevice(device);

    if (host.m_szPresetName)
        CopyPresetName(host.m_szPresetName, ReadString(store, QString::fromLatin1(kPresetKey), kDefaultPreset));

    if (host.m_pbBackground)
        *host.m_pbBackground = ReadInt(store, kBackgroundKey, kDefaultBackground);
    if (host.m_pnListenSeconds) {
        const int32_t seconds = ReadInt(store, kListenKey, kDefaultListenSeconds);
        *host.m_pnListenSeconds = seconds < 0 ? 0 : seconds > kMaxListenSeconds ? kMaxListenSeconds : seconds;
    }

    if (host.m_pPlacement)
        LoadPlacement(store, *host.m_pPlacement);

    store.endGroup();
}

void SaveSettings(QSettings& store, const CSettingsHost& host)
{
    store.beginGroup(QString::fromLatin1(kSettingsGroup));

    // The selected base file is key 0 and leaves the box; then the first three
    // remaining entries are keys 1 to 3.
    std::string selected;
    if (host.m_pBaseNames) {
        IBaseNameList& names = *host.m_pBaseNames;
        const int sel = names.GetSelectedBaseName();
        if (sel >= 0 && sel < names.GetBaseNameCount()) {
            selected = names.GetBaseNamePath(sel);
            names.RemoveBaseName(sel);
        }
    }
    WriteString(store, BaseNameKey(0), selected);
    for (int i = 0; i < kBaseNameKeys - 1; ++i) {
        std::string path;
        if (host.m_pBaseNames && i < host.m_pBaseNames->GetBaseNameCount())
            path = host.m_pBaseNames->GetBaseNamePath(i);
        WriteString(store, BaseNameKey(i + 1), path);
    }

    if (host.m_pValues) {
        const CSettingsValues& v = *host.m_pValues;
        WriteInt(store, kGapSizeKey, v.m_nGapSize);
        WriteInt(store, kGapLevelKey, v.m_nGapLevel);
        WriteInt(store, kMinSongKey, v.m_nMinSong);
        WriteInt(store, kEndGapKey, v.m_nEndGap);
        WriteInt(store, kDCBlockKey, v.m_bDCBlock);
        WriteInt(store, kIgnoreClicksKey, v.m_bIgnoreClicks);
        WriteInt(store, kBitsPerSampleKey, v.m_nBitsPerSample);
        WriteInt(store, kSamplesPerSecKey, v.m_nSamplesPerSec);
        WriteInt(store, kChannelsKey, v.m_nChannels);
        WriteInt(store, kWaveInIDKey, v.m_nWaveInID);
    }

    if (host.m_szPresetName) {
        const std::size_t n = ::strnlen(host.m_szPresetName, kPresetNameMaxLength);
        WriteString(store, QString::fromLatin1(kPresetKey), std::string(host.m_szPresetName, n));
    }
    if (host.m_pbBackground)
        WriteInt(store, kBackgroundKey, *host.m_pbBackground);
    if (host.m_pnListenSeconds)
        WriteInt(store, kListenKey, *host.m_pnListenSeconds);

    if (host.m_pPlacement) {
        const CWindowPlacement placement = host.m_pPlacement->GetWindowPlacement();
        WriteInt(store, kFlagsKey, placement.m_nFlags);
        WriteInt(store, kShowCmdKey, placement.m_nShowCmd);
        WriteInt(store, kLeftKey, placement.m_nLeft);
        WriteInt(store, kTopKey, placement.m_nTop);
    }

    store.endGroup();
}
