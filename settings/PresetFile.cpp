#include "settings/PresetFile.h"

#include "capture/Prompt.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Archive tags.
constexpr uint16_t kNullTag = 0x0000;       // a null object
constexpr uint16_t kBigObjectTag = 0x7FFF;  // a 32-bit tag follows
constexpr uint16_t kNewClassTag = 0xFFFF;   // a class description follows
constexpr uint16_t kClassTag = 0x8000;      // reference to a described class (| index)
constexpr uint32_t kBigClassTag = 0x80000000u;

constexpr uint16_t kSchema = 11;       // what this program writes
constexpr uint16_t kOldSchema = 1;     // files of the older version
constexpr const char kClassName[] = "CPresets";
constexpr std::size_t kClassNameLength = 8;

constexpr std::size_t kBodySize = 36;     // schema 11, after the name
constexpr std::size_t kOldBodySize = 24;  // schema 1, after the name

const char kOldSuffix[] = " [Beta]";

const char kErrorCaption[] = "Preset Error";
const char kMigrationCaption[] = "Save Old Presets?";
const char kMigrationText[] =
    "Do you want to add your old presets to the new ones?\n\n"
    "If you have not changed your presets, we recommend choosing No.\n\n"
    "If you have changed or added presets, we recommend choosing Yes,\n"
    "and your old presets will be saved with the word '[Beta]' after them.\n\n";

// Reads little-endian values from a byte range; every read checks the remaining size.
class CByteReader
{
public:
    CByteReader(const uint8_t* data, std::size_t size) : m_pData(data), m_nSize(data ? size : 0) {}

    std::size_t Remaining() const { return m_nSize - m_nPos; }

    bool Read8(uint8_t& v)
    {
        if (Remaining() < 1)
            return false;
        v = m_pData[m_nPos++];
        return true;
    }
    bool Read16(uint16_t& v)
    {
        if (Remaining() < 2)
            return false;
        v = static_cast<uint16_t>(m_pData[m_nPos] | (m_pData[m_nPos + 1] << 8));
        m_nPos += 2;
        return true;
    }
    bool Read32(uint32_t& v)
    {
        if (Remaining() < 4)
            return false;
        v = static_cast<uint32_t>(m_pData[m_nPos]) | (static_cast<uint32_t>(m_pData[m_nPos + 1]) << 8) |
            (static_cast<uint32_t>(m_pData[m_nPos + 2]) << 16) |
            (static_cast<uint32_t>(m_pData[m_nPos + 3]) << 24);
        m_nPos += 4;
        return true;
    }
    bool ReadI32(int32_t& v)
    {
        uint32_t u = 0;
        if (!Read32(u))
            return false;
        v = static_cast<int32_t>(u);
        return true;
    }
    bool ReadI16(int16_t& v)
    {
        uint16_t u = 0;
        if (!Read16(u))
            return false;
        v = static_cast<int16_t>(u);
        return true;
    }
    // Copies the first keep of n bytes into out and skips the rest; n must fit.
    void ReadString(std::size_t n, std::size_t keep, std::string& out)
    {
        out.assign(reinterpret_cast<const char*>(m_pData + m_nPos), keep < n ? keep : n);
        m_nPos += n;
    }

private:
    const uint8_t* m_pData;
    std::size_t m_nSize;
    std::size_t m_nPos = 0;
};

void Put16(std::vector<uint8_t>& out, uint16_t v)
{
    out.push_back(static_cast<uint8_t>(v & 0xFF));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>((v >> (8 * i)) & 0xFF));
}

void PutName(std::vector<uint8_t>& out, const std::string& name)
{
    const std::size_t n = name.size();
    if (n < 0xFF) {
        out.push_back(static_cast<uint8_t>(n));
    } else if (n < 0xFFFE) {
        out.push_back(0xFF);
        Put16(out, static_cast<uint16_t>(n));
    } else {
        out.push_back(0xFF);
        Put16(out, 0xFFFF);
        Put32(out, static_cast<uint32_t>(n));
    }
    out.insert(out.end(), name.begin(), name.end());
}

// Reads one record body of the given schema into preset. Returns an empty string on
// success, otherwise the reason.
std::string ReadBody(CByteReader& in, uint32_t schema, CPresets& preset)
{
    if (schema != kSchema && schema != kOldSchema)
        return "a preset has an unknown version (schema " + std::to_string(schema) + ")";

    uint8_t shortLength = 0;
    if (!in.Read8(shortLength))
        return "the file ends early";
    uint32_t length = shortLength;
    if (shortLength == 0xFF) {
        uint16_t mid = 0;
        if (!in.Read16(mid))
            return "the file ends early";
        length = mid;
        if (mid == 0xFFFE)
            return "a preset name has a length form this program does not know";
        if (mid == 0xFFFF && !in.Read32(length))
            return "the file ends early";
    }
    if (length > in.Remaining())
        return "a preset name runs past the end of the file";
    std::string name;
    in.ReadString(length, length, name);

    CPresets p;
    if (schema == kSchema) {
        if (in.Remaining() < kBodySize)
            return "the file ends early";
        in.ReadI32(p.m_nGapSize);
        in.ReadI32(p.m_nGapLevel);
        in.ReadI32(p.m_nMinSong);
        in.ReadI32(p.m_nEndGap);
        in.ReadI32(p.m_bDCBlock);
        in.ReadI32(p.m_bIgnoreClicks);
        in.ReadI16(p.m_nBitsPerSample);
        in.ReadI32(p.m_nSamplesPerSec);
        in.ReadI16(p.m_nChannels);
        in.ReadI32(p.m_nWaveInID);
        p.SetName(name);
    } else {
        if (in.Remaining() < kOldBodySize)
            return "the file ends early";
        in.ReadI32(p.m_nGapSize);
        in.ReadI32(p.m_nGapLevel);
        in.ReadI32(p.m_nMinSong);
        in.ReadI32(p.m_nEndGap);
        in.ReadI32(p.m_bDCBlock);
        in.ReadI32(p.m_nWaveInID);
        // Presets of the older version are marked, and take the defaults of the
        // settings that version did not have.
        p.SetName(name + kOldSuffix);
        p.m_bIgnoreClicks = 0;
        p.m_nBitsPerSample = 16;
        p.m_nSamplesPerSec = 44100;
        p.m_nChannels = 2;
    }
    preset = std::move(p);
    return std::string();
}

std::string ErrnoText(int err)
{
    return std::strerror(err);
}

std::string Quoted(const std::string& s)
{
    return "\"" + s + "\"";
}

std::string JoinPath(const std::string& directory, const char* name)
{
    if (directory.empty() || directory.back() == '/')
        return directory + name;
    return directory + "/" + name;
}

bool Exists(const std::string& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

// The sentence that says what is left of a damaged file's presets.
std::string RecordsKeptText(std::size_t n)
{
    if (n == 0)
        return "No preset could be taken from it.";
    if (n == 1)
        return "The one preset before the damaged part has been read.";
    return "The " + std::to_string(n) + " presets before the damaged part have been read.";
}

}  // namespace

std::vector<uint8_t> CPresetFile::WriteArchive(const CPresetList& presets)
{
    std::vector<uint8_t> out;
    const std::size_t count = presets.GetSize();
    if (count < 0xFFFF) {
        Put16(out, static_cast<uint16_t>(count));
    } else {
        Put16(out, 0xFFFF);
        Put32(out, static_cast<uint32_t>(count));
    }
    bool first = true;
    for (const auto& p : presets) {
        if (first) {
            Put16(out, kNewClassTag);
            Put16(out, kSchema);
            Put16(out, static_cast<uint16_t>(kClassNameLength));
            out.insert(out.end(), kClassName, kClassName + kClassNameLength);
            first = false;
        } else {
            Put16(out, kClassTag | 1);  // the first class described in the archive
        }
        PutName(out, p->GetName());
        Put32(out, static_cast<uint32_t>(p->m_nGapSize));
        Put32(out, static_cast<uint32_t>(p->m_nGapLevel));
        Put32(out, static_cast<uint32_t>(p->m_nMinSong));
        Put32(out, static_cast<uint32_t>(p->m_nEndGap));
        Put32(out, static_cast<uint32_t>(p->m_bDCBlock));
        Put32(out, static_cast<uint32_t>(p->m_bIgnoreClicks));
        Put16(out, static_cast<uint16_t>(p->m_nBitsPerSample));
        Put32(out, static_cast<uint32_t>(p->m_nSamplesPerSec));
        Put16(out, static_cast<uint16_t>(p->m_nChannels));
        Put32(out, static_cast<uint32_t>(p->m_nWaveInID));
    }
    return out;
}

CPresetReadResult CPresetFile::ReadArchive(const uint8_t* data, std::size_t size,
                                           CPresetList& presets)
{
    CPresetReadResult result;
    auto fail = [&result](std::string reason) {
        result.m_bComplete = false;
        result.m_strReason = std::move(reason);
        return result;
    };

    CByteReader in(data, size);
    uint16_t shortCount = 0;
    if (!in.Read16(shortCount))
        return fail("the file ends early");
    uint32_t count = shortCount;
    if (shortCount == 0xFFFF && !in.Read32(count))
        return fail("the file ends early");

    // The archive's table of what it has described so far: index 0 is the null
    // object; each class description and each object takes the next index. A class
    // entry holds its schema, an object entry -1. Each entry costs at least a tag in
    // the file, so the table never outgrows the file.
    std::vector<int32_t> loaded(1, -1);

    for (uint32_t i = 0; i < count; ++i) {
        if (in.Remaining() == 0) {
            return fail("it holds " + std::to_string(i) + " presets, fewer than the " +
                        std::to_string(count) + " it announces");
        }
        uint16_t tag = 0;
        if (!in.Read16(tag))
            return fail("the file ends early");

        uint32_t schema = 0;
        if (tag == kNewClassTag) {
            uint16_t classSchema = 0, nameLength = 0;
            if (!in.Read16(classSchema) || !in.Read16(nameLength))
                return fail("the file ends early");
            if (nameLength > in.Remaining())
                return fail("the file ends early");
            std::string className;
            in.ReadString(nameLength, nameLength, className);
            if (className != kClassName)
                return fail("it holds a record of an unknown kind");
            loaded.push_back(classSchema);
            schema = classSchema;
        } else {
            uint32_t classIndex = 0;
            if (tag == kBigObjectTag) {
                uint32_t bigTag = 0;
                if (!in.Read32(bigTag))
                    return fail("the file ends early");
                if (!(bigTag & kBigClassTag))
                    return fail("it refers back to an earlier record");
                classIndex = bigTag & ~kBigClassTag;
            } else if (tag == kNullTag) {
                return fail("it holds an empty record");
            } else if (!(tag & kClassTag)) {
                return fail("it refers back to an earlier record");
            } else {
                classIndex = tag & ~kClassTag;
            }
            if (classIndex >= loaded.size() || loaded[classIndex] < 0)
                return fail("it refers to a kind of record it does not describe");
            schema = static_cast<uint32_t>(loaded[classIndex]);
        }

        // The record takes its index before its body is read.
        loaded.push_back(-1);
        auto preset = std::make_unique<CPresets>();
        const std::string reason = ReadBody(in, schema, *preset);
        if (!reason.empty())
            return fail(reason);
        presets.Add(std::move(preset));
        ++result.m_nRecords;
    }
    return result;
}

CPresetReadResult CPresetFile::ReadFile(const std::string& path, CPresetList& presets)
{
    CPresetReadResult result;
    auto fail = [&result](std::string reason) {
        result.m_bComplete = false;
        result.m_strReason = std::move(reason);
        return result;
    };

    // O_NONBLOCK: a pipe or a device under the file's name must not stop the start;
    // anything but a regular file is refused below.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return fail("it could not be opened (" + ErrnoText(errno) + ")");
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        ::close(fd);
        return fail("it could not be read (" + ErrnoText(err) + ")");
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return fail("it is not a file");
    }
    if (static_cast<uint64_t>(st.st_size) > kMaxFileSize) {
        ::close(fd);
        return fail("it is too large to be a preset file");
    }

    // Read to the end, never past kMaxFileSize, whatever the size said.
    std::vector<uint8_t> bytes;
    bytes.reserve(static_cast<std::size_t>(st.st_size));
    uint8_t buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            const int err = errno;
            ::close(fd);
            return fail("it could not be read (" + ErrnoText(err) + ")");
        }
        if (got == 0)
            break;
        if (bytes.size() + static_cast<std::size_t>(got) > kMaxFileSize) {
            ::close(fd);
            return fail("it is too large to be a preset file");
        }
        bytes.insert(bytes.end(), buffer, buffer + got);
    }
    ::close(fd);
    return ReadArchive(bytes.data(), bytes.size(), presets);
}

bool CPresetFile::WriteFileDurably(const CPresetList& presets, const std::string& tempPath,
                                   const std::string& finalPath, std::string* error)
{
    auto fail = [&](std::string what, int err) {
        if (error)
            *error = what + " (" + ErrnoText(err) + ")";
        return false;
    };

    // A file left by an earlier save goes first, so that a read-only leftover does
    // not stand in the way.
    if (::unlink(tempPath.c_str()) != 0 && errno != ENOENT)
        return fail(Quoted(tempPath) + " could not be deleted", errno);

    const int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return fail(Quoted(tempPath) + " could not be created", errno);

    const std::vector<uint8_t> bytes = WriteArchive(presets);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (put < 0) {
            if (errno == EINTR)
                continue;
            const int err = errno;
            ::close(fd);
            ::unlink(tempPath.c_str());
            return fail(Quoted(tempPath) + " could not be written", err);
        }
        done += static_cast<std::size_t>(put);
    }
    // The new list must be on the disk before it replaces the old one, so that a power
    // cut leaves one complete list.
    if (::fsync(fd) != 0) {
        const int err = errno;
        ::close(fd);
        ::unlink(tempPath.c_str());
        return fail(Quoted(tempPath) + " could not be written", err);
    }
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(tempPath.c_str());
        return fail(Quoted(tempPath) + " could not be written", err);
    }
    // rename replaces the old file in one step: at every moment one complete list
    // is on disk under "Tunex1.pre" or "Temp.pre".
    if (::rename(tempPath.c_str(), finalPath.c_str()) != 0) {
        const int err = errno;
        ::unlink(tempPath.c_str());
        return fail(Quoted(tempPath) + " could not be renamed to " + Quoted(finalPath), err);
    }
    // Make the rename itself durable. Some file systems refuse to sync a folder;
    // the file is in place either way.
    std::string folder = std::filesystem::path(finalPath).parent_path().string();
    if (folder.empty())
        folder = ".";
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

void CPresetFile::LoadPresets(CPresetList& presets, const char* presetName,
                              IPresetWindow& window, IPrompt& prompt,
                              const std::string& directory)
{
    std::string folder = directory;
    if (folder.empty()) {
        std::error_code ec;
        folder = std::filesystem::current_path(ec).string();
        if (ec || folder.empty())
            folder = ".";
    }
    m_bSaveAllowed = false;

    auto tellDamage = [&prompt](const std::string& path, const CPresetReadResult& r,
                                const std::string& consequence) {
        prompt.MessageBox("The presets in " + Quoted(path) + " could not be read: " +
                              r.m_strReason + ".\n\n" + RecordsKeptText(r.m_nRecords) + " " +
                              consequence + "\n",
                          kErrorCaption, PromptButtons::Ok, PromptIcon::Stop);
    };

    // 1. The preset file of the older version is offered once, then moved aside.
    const std::string oldPath = JoinPath(folder, kOldFileName);
    const std::string oldMovedPath = JoinPath(folder, kOldMovedFileName);
    CPresetList oldPresets;
    if (Exists(oldPath)) {
        const PromptAnswer answer = prompt.MessageBox(kMigrationText, kMigrationCaption,
                                                      PromptButtons::YesNo, PromptIcon::Question);
        CPresetReadResult oldResult;
        bool readOld = false;
        if (answer == PromptAnswer::Yes) {
            oldResult = ReadFile(oldPath, oldPresets);
            readOld = true;
        }
        if (::rename(oldPath.c_str(), oldMovedPath.c_str()) != 0) {
            // Left in place, the file would be offered (and its presets added) again at
            // every start; so nothing of it is taken this time.
            const int err = errno;
            oldPresets.RemoveAll();
            prompt.MessageBox(Quoted(oldPath) + " could not be renamed to " +
                                  Quoted(oldMovedPath) + " (" + ErrnoText(err) +
                                  ").\n\nIts presets have not been added.\n",
                              kErrorCaption, PromptButtons::Ok, PromptIcon::Stop);
        } else if (readOld && !oldResult.m_bComplete) {
            tellDamage(oldPath, oldResult,
                       "The file has been kept as " + Quoted(oldMovedPath) + ".");
        }
    }

    // 2. Finish a save that stopped after writing "Temp.pre".
    m_strTempPresetPath = JoinPath(folder, kTempFileName);
    m_strPresetPath = JoinPath(folder, kPresetFileName);
    const char* const keptText =
        "Cadenzo will not save its presets into this file when it exits, so that a "
        "repaired or older copy can still be put in its place.";
    bool haveFile = Exists(m_strPresetPath);
    if (!haveFile && Exists(m_strTempPresetPath)) {
        if (::rename(m_strTempPresetPath.c_str(), m_strPresetPath.c_str()) != 0) {
            CPresetReadResult r;
            r.m_bComplete = false;
            r.m_strReason = "it could not be renamed to " + Quoted(m_strPresetPath) + " (" +
                            ErrnoText(errno) + ")";
            tellDamage(m_strTempPresetPath, r, keptText);
            presets.Append(std::move(oldPresets));
            FillPresetList(presets, presetName, window);
            window.FocusDefaultButton();
            return;
        }
        haveFile = true;
    }

    // 3. The preset file itself, then the old presets after it.
    if (haveFile) {
        const CPresetReadResult r = ReadFile(m_strPresetPath, presets);
        if (r.m_bComplete)
            m_bSaveAllowed = true;
        else
            tellDamage(m_strPresetPath, r, keptText);
    } else {
        m_bSaveAllowed = true;
    }
    presets.Append(std::move(oldPresets));

    FillPresetList(presets, presetName, window);
    window.FocusDefaultButton();
}

bool CPresetFile::SavePresets(const CPresetList& presets, IPrompt& prompt)
{
    if (!m_bSaveAllowed || m_strPresetPath.empty())
        return false;
    std::string error;
    if (WriteFileDurably(presets, m_strTempPresetPath, m_strPresetPath, &error))
        return true;
    prompt.MessageBox("The presets could not be saved: " + error + ".\n\n" +
                          Quoted(m_strPresetPath) + " has not been changed.\n",
                      kErrorCaption, PromptButtons::Ok, PromptIcon::Stop);
    return false;
}

void FillPresetList(const CPresetList& presets, const char* presetName, IPresetWindow& window)
{
    window.ClearPresetBox();
    for (const auto& p : presets)
        window.AddPresetToBox(p->GetName());
    // A name longer than the current-name buffer is found by the part the buffer holds.
    window.SelectPresetInBox(window.FindPresetInBox(presets.WholeName(presetName)));
}
