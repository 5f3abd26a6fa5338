#include "capture/WaveFile.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

// The recorder window's texts.
const WaveFileTexts kWindowTexts = {
    "Cannot create output file %s.\nProbably in use by another program!\n",
    "Cannot write to %s.\n",
    "Cannot read from %s\n",
    "Cannot close input file %s.\n",
    "Not an acceptable number of bits per sample.\n",
    "Cannot create output file %s.\nAnother file of that name is in the way (it appeared after "
    "Record was pressed, or another program is recording into it); it was left as it is.\n",
};

const int32_t kPcmHeaderBytes = 44;
const int32_t kFloatHeaderBytes = 46;
const int32_t kMaxBufferBytes = 64 * 1024 * 1024;  // larger requests get this much
const int64_t kMaxRiffSize = 0xFFFFFFFFll;

// How long Create() waits for another program to let go of the new file's lock: the album
// takes a shared lock for a moment to see whether a song file is being recorded.
constexpr int kLockTries = 200;
constexpr auto kLockRetry = std::chrono::milliseconds(5);

// The recording's exclusive lock on fd, waiting up to a second for a holder to let go;
// false (errno says why) when it cannot be had.
bool LockForRecording(int fd)
{
    for (int nTry = 0;; ++nTry) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno == EINTR) continue;
        if (errno != EWOULDBLOCK || nTry >= kLockTries) return false;
        std::this_thread::sleep_for(kLockRetry);
    }
}

void PutU16(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void PutU32(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

}  // namespace

CWaveFile::CWaveFile()
    : m_texts(kWindowTexts), m_nErrno(0), m_hFile(-1), m_nHeaderBytes(0), m_nDataBytes(0),
      m_nDiskDataBytes(0), m_bWriteFailed(false), m_nFailErrno(0), m_pBuffer(nullptr), m_nBufferSize(0),
      m_nBufferFill(0), m_bError(0)
{
    m_strError = "No error";
}

CWaveFile::~CWaveFile()
{
    CloseHandle();
    FreeBuffer();
}

void CWaveFile::SetError(const char* format)
{
    m_bError = 1;
    const char* reason = m_nErrno == EWOULDBLOCK ? "another program holds a lock on it"
                         : m_nErrno != 0        ? std::strerror(m_nErrno)
                                                : "the system gave no reason";
    const int length = std::snprintf(nullptr, 0, format, m_strFileName.c_str(), reason);
    if (length < 0) {
        m_strError = format;
        return;
    }
    std::string text(static_cast<size_t>(length) + 1, '\0');
    std::snprintf(&text[0], text.size(), format, m_strFileName.c_str(), reason);
    text.resize(static_cast<size_t>(length));
    m_strError = text;
}

void CWaveFile::SetFileName(const char* path)
{
    ClearError();
    m_strFileName = path != nullptr ? path : "";
}

void CWaveFile::Create() { Open(O_TRUNC); }

void CWaveFile::CreateNew() { Open(O_EXCL); }

void CWaveFile::Open(int nFlags)
{
    ClearError();
    CloseHandle();
    m_nHeaderBytes = 0;
    m_nDataBytes = 0;
    m_nDiskDataBytes = 0;
    m_bWriteFailed = false;
    m_nFailErrno = 0;
    m_nBufferFill = 0;
    if (m_strFileName.empty()) {
        m_nErrno = ENOENT;
        SetError(m_texts.szCreate);
        return;
    }
    m_hFile = ::open(m_strFileName.c_str(), O_RDWR | O_CREAT | nFlags | O_CLOEXEC, 0666);
    if (m_hFile < 0) {
        m_nErrno = errno;
        // A folder of that name is not a file in the way but a name that cannot be a file.
        struct stat st;
        if (m_nErrno == EEXIST && ::lstat(m_strFileName.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            m_nErrno = EISDIR;
        SetError(m_nErrno == EEXIST && m_texts.szExists != nullptr ? m_texts.szExists : m_texts.szCreate);
        return;
    }
    // Tells the album (which edits song files) that this file is being written. Advisory:
    // nothing else is refused, and the lock goes with the descriptor. A file that cannot be
    // locked is not recorded into: the album would take it for a finished song.
    if (!LockForRecording(m_hFile)) {
        m_nErrno = errno;
        CloseHandle();
        SetError(m_texts.szCreate);
    }
}

void CWaveFile::WriteHeader(int16_t bits, int32_t rate, int16_t channels, int32_t ioBufferSize)
{
    ClearError();
    uint16_t tag;
    if (bits == 8 || bits == 16 || bits == 24) {
        tag = 1;
    } else if (bits == 32 || bits == 64) {
        tag = 3;
    } else {
        SetError(m_texts.szBits);
        return;
    }

    // Unsigned arithmetic: a nonsense rate or channel count gives a nonsense header,
    // never an overflow.
    WaveFormat format;
    format.tag = tag;
    format.channels = static_cast<uint16_t>(channels);
    format.samplesPerSec = static_cast<uint32_t>(rate);
    format.avgBytesPerSec = static_cast<uint32_t>(bits / 8) * static_cast<uint32_t>(rate) *
                            static_cast<uint32_t>(static_cast<uint16_t>(channels));
    format.blockAlign = static_cast<uint16_t>((static_cast<int32_t>(channels) * bits) / 8);
    format.bitsPerSample = static_cast<uint16_t>(bits);
    format.extraSize = 0;
    m_format = format;

    if (m_hFile < 0 || m_nHeaderBytes != 0) {
        SetError(m_texts.szWrite);
        return;
    }

    // RIFF header, "fmt " chunk (16 bytes for PCM, 18 with the extra size for float) and
    // the "data" chunk header. The sizes describe an empty file from the start, and are
    // kept up to date as data reaches the disk.
    const int32_t headerBytes = tag == 1 ? kPcmHeaderBytes : kFloatHeaderBytes;
    const uint32_t fmtBytes = tag == 1 ? 16 : 18;
    uint8_t header[kFloatHeaderBytes];
    std::memcpy(header + 0, "RIFF", 4);
    PutU32(header + 4, static_cast<uint32_t>(headerBytes - 8));
    std::memcpy(header + 8, "WAVE", 4);
    std::memcpy(header + 12, "fmt ", 4);
    PutU32(header + 16, fmtBytes);
    PutU16(header + 20, format.tag);
    PutU16(header + 22, format.channels);
    PutU32(header + 24, format.samplesPerSec);
    PutU32(header + 28, format.avgBytesPerSec);
    PutU16(header + 32, format.blockAlign);
    PutU16(header + 34, format.bitsPerSample);
    uint8_t* data = header + 36;
    if (tag != 1) {
        PutU16(header + 36, format.extraSize);
        data += 2;
    }
    std::memcpy(data, "data", 4);
    PutU32(data + 4, 0);

    int64_t written = 0;
    if (!WriteAll(header, headerBytes, &written)) {
        SetError(m_texts.szWrite);
        return;
    }
    m_nHeaderBytes = headerBytes;

    // The I/O buffer. Its size cannot fail the header: without memory the file is
    // written unbuffered.
    int32_t size = ioBufferSize <= 0 ? 0 : (ioBufferSize > kMaxBufferBytes ? kMaxBufferBytes : ioBufferSize);
    if (size != m_nBufferSize) {
        FreeBuffer();
        if (size > 0) {
            m_pBuffer = new (std::nothrow) uint8_t[static_cast<size_t>(size)];
            m_nBufferSize = m_pBuffer != nullptr ? size : 0;
        }
    }
    m_nBufferFill = 0;
}

int64_t CWaveFile::GetMaxDataBytes() const
{
    const int64_t header = m_nHeaderBytes != 0 ? m_nHeaderBytes : kFloatHeaderBytes;
    const int64_t room = kMaxRiffSize - (header - 8);  // for data and pad
    return room % 2 == 0 ? room : room - 1;           // an odd size needs the pad byte too
}

int32_t CWaveFile::Write(const void* data, int32_t count)
{
    ClearError();
    if (m_hFile < 0) {
        SetError(m_texts.szNotOpen);
        return 0;
    }
    if (count == 0) return 0;
    if (data == nullptr || count < 0 || m_nHeaderBytes == 0 || m_bWriteFailed ||
        m_nDataBytes + count > GetMaxDataBytes()) {
        SetError(m_texts.szWrite);
        return 0;
    }

    const int64_t start = m_nDataBytes;  // where this call's bytes begin in the data
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    int32_t offset = 0;
    while (offset < count) {
        const int32_t left = count - offset;
        if (m_nBufferFill == 0 && left >= m_nBufferSize) {
            // Nothing waiting and at least a buffer's worth: straight to the file.
            int64_t written = 0;
            const bool ok = WriteAll(bytes + offset, left, &written);
            m_nDiskDataBytes += written;
            if (!ok) break;
            UpdateSizes(false);
            offset = count;
        } else if (m_nBufferFill == m_nBufferSize) {
            if (!Flush()) break;
        } else {
            const int32_t room = m_nBufferSize - m_nBufferFill;
            const int32_t step = left < room ? left : room;
            std::memcpy(m_pBuffer + m_nBufferFill, bytes + offset, static_cast<size_t>(step));
            m_nBufferFill += step;
            offset += step;
        }
    }

    if (offset == count && !m_bWriteFailed) {
        m_nDataBytes += count;
        return count;
    }

    // The disk took less than asked. The file ends where the disk stopped, cut back to
    // whole frames so that every reader sees the same samples; later writes are refused
    // rather than leave a hole in the recording.
    m_bWriteFailed = true;
    m_nFailErrno = m_nErrno;
    m_nBufferFill = 0;
    const int64_t frame = m_format.blockAlign != 0 ? m_format.blockAlign : 1;
    m_nDiskDataBytes -= m_nDiskDataBytes % frame;
    if (::ftruncate(m_hFile, m_nHeaderBytes + m_nDiskDataBytes) == 0)
        ::lseek(m_hFile, 0, SEEK_END);
    m_nDataBytes = m_nDiskDataBytes;
    UpdateSizes(false);
    SetError(m_texts.szWrite);
    const int64_t mine = m_nDiskDataBytes - start;
    return mine <= 0 ? 0 : static_cast<int32_t>(mine);
}

void CWaveFile::Close()
{
    ClearError();
    if (m_hFile < 0) {
        SetError(m_texts.szWrite);
        return;
    }
    bool ok = m_nHeaderBytes != 0;
    if (ok && m_nBufferFill > 0 && !m_bWriteFailed) {
        if (!Flush()) {
            // Keep what reached the disk, in whole frames, as a failed Write() would.
            m_bWriteFailed = true;
            m_nFailErrno = m_nErrno;
            const int64_t frame = m_format.blockAlign != 0 ? m_format.blockAlign : 1;
            m_nDiskDataBytes -= m_nDiskDataBytes % frame;
            if (::ftruncate(m_hFile, m_nHeaderBytes + m_nDiskDataBytes) == 0)
                ::lseek(m_hFile, 0, SEEK_END);
            m_nDataBytes = m_nDiskDataBytes;
        }
    }
    m_nBufferFill = 0;
    if (m_bWriteFailed) {
        ok = false;
        m_nErrno = m_nFailErrno;  // the same message as the failed write's
    }
    if (m_nHeaderBytes != 0) {
        bool padded = true;
        if (m_nDiskDataBytes % 2 != 0) {
            const uint8_t pad = 0;
            int64_t written = 0;
            padded = WriteAll(&pad, 1, &written);
        }
        if (!padded || !UpdateSizes(padded)) ok = false;
    }
    const int rc = ::close(m_hFile);  // on Linux the descriptor is released even on error
    if (rc != 0 && m_nErrno == 0) m_nErrno = errno;
    m_hFile = -1;
    if (!ok) SetError(m_texts.szWrite);
    else if (rc != 0) SetError(m_texts.szClose);
}

bool CWaveFile::WriteAll(const void* data, int64_t count, int64_t* written)
{
    const uint8_t* p = static_cast<const uint8_t*>(data);
    *written = 0;
    while (*written < count) {
        const ssize_t n = ::write(m_hFile, p + *written, static_cast<size_t>(count - *written));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (m_nErrno == 0) m_nErrno = n < 0 ? errno : ENOSPC;
            return false;
        }
        *written += n;
    }
    return true;
}

bool CWaveFile::WriteAt(int64_t offset, const void* data, int64_t count)
{
    const uint8_t* p = static_cast<const uint8_t*>(data);
    int64_t done = 0;
    while (done < count) {
        const ssize_t n = ::pwrite(m_hFile, p + done, static_cast<size_t>(count - done), offset + done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (m_nErrno == 0) m_nErrno = n < 0 ? errno : ENOSPC;
            return false;
        }
        done += n;
    }
    return true;
}

// Writes the waiting bytes of the I/O buffer and brings the sizes up to date.
bool CWaveFile::Flush()
{
    int64_t written = 0;
    const bool ok = WriteAll(m_pBuffer, m_nBufferFill, &written);
    m_nDiskDataBytes += written;
    if (!ok) return false;
    m_nBufferFill = 0;
    UpdateSizes(false);
    return true;
}

// Writes the RIFF size (file length - 8) and the data size for the sample bytes on
// disk; final adds the pad byte of an odd size to the RIFF size.
bool CWaveFile::UpdateSizes(bool final)
{
    const int64_t pad = final && m_nDiskDataBytes % 2 != 0 ? 1 : 0;
    uint8_t riff[4];
    uint8_t data[4];
    PutU32(riff, static_cast<uint32_t>(m_nHeaderBytes - 8 + m_nDiskDataBytes + pad));
    PutU32(data, static_cast<uint32_t>(m_nDiskDataBytes));
    return WriteAt(4, riff, 4) && WriteAt(m_nHeaderBytes - 4, data, 4);
}

// Closes an open file without its pad byte, keeping whatever can still reach the disk.
void CWaveFile::CloseHandle()
{
    if (m_hFile < 0) return;
    if (m_nHeaderBytes != 0 && m_nBufferFill > 0 && !m_bWriteFailed) Flush();
    m_nBufferFill = 0;
    ::close(m_hFile);
    m_hFile = -1;
}

void CWaveFile::FreeBuffer()
{
    delete[] m_pBuffer;
    m_pBuffer = nullptr;
    m_nBufferSize = 0;
    m_nBufferFill = 0;
}
