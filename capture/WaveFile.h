#pragma once

#include <cstdint>
#include <string>

// The format of a WAV file's "fmt " chunk, little-endian on disk in this order.
// Also the format the capture device is opened with, so the device records exactly
// what the file declares.
struct WaveFormat {
    uint16_t tag = 0;             // 1 = PCM integer (8, 16, 24 bits), 3 = IEEE float (32, 64 bits)
    uint16_t channels = 0;        // 2 for every recording
    uint32_t samplesPerSec = 0;   // frames per second (the sample rate)
    uint32_t avgBytesPerSec = 0;  // (bits / 8) * rate * channels
    uint16_t blockAlign = 0;      // (channels * bits) / 8: bytes per frame
    uint16_t bitsPerSample = 0;   // 16, or 32 for float samples
    uint16_t extraSize = 0;       // 0; written only for the float format
};

// The writer's messages: printf formats with the file's path as the first %s and the
// system's reason (its strerror text) as the second, which a format may leave out.
struct WaveFileTexts {
    const char* szCreate;   // the file cannot be created
    const char* szWrite;    // a write (or the completion at Close) failed
    const char* szNotOpen;  // Write() without an open file
    const char* szClose;    // the system refused to close the file
    const char* szBits;     // WriteHeader() with a depth it cannot write (no path, no reason)
    const char* szExists;   // CreateNew() found a file of that name (null: szCreate)
};

/**
 * Writes one WAV file at a time: Create() -> WriteHeader() -> Write()... -> Close(), then
 * the next file with the same object. The layout is RIFF "WAVE" with a 16-byte (PCM) or
 * 18-byte (float) "fmt " chunk and one "data" chunk: a 44-byte header for PCM, 46 for
 * float, then the sample bytes as given and a zero pad byte when their count is odd.
 *
 * Sample bytes go through an I/O buffer of the size given to WriteHeader(). Every time
 * the buffer goes to disk the RIFF and data sizes in the header are brought up to date,
 * so a file whose writer never reaches Close() (the program killed) is still a valid WAV
 * of everything flushed so far. Close() writes the rest, the pad byte and the final sizes.
 *
 * Never throws: every operation clears the error flag first; a failure sets it and
 * formats a message naming the file. Read HasError()/GetErrorText() after each call.
 * A failed write stops the file where the disk stopped taking data: later writes to the
 * same file are refused, and Close() still completes it as a valid WAV of the bytes that
 * reached the disk (reporting the loss as an error).
 *
 * While a file is open the writer holds an exclusive advisory lock (flock) on it: that is how
 * the album knows that a recording is writing a song file and refuses to edit it. Create()
 * waits up to a second for another holder of the lock to let go, and fails (naming the lock
 * as the reason) rather than write a file without it.
 *
 * Not thread-safe: one thread at a time (the window thread between recordings, the
 * recording worker during one, under the session lock).
 */
class CWaveFile
{
public:
    CWaveFile();
    ~CWaveFile();
    CWaveFile(const CWaveFile&) = delete;
    CWaveFile& operator=(const CWaveFile&) = delete;

    // Sets the path of the next file to create, whole, however long: the system judges
    // it at Create() (up to 4095 bytes on Linux, 255 per name). A null path clears it.
    void SetFileName(const char* path);
    const char* GetFileName() const { return m_strFileName.c_str(); }

    // The texts of the messages; by default the recorder window's own. The texts must
    // outlive the writer.
    void SetTexts(const WaveFileTexts& texts) { m_texts = texts; }

    // Creates (or truncates) the file named by SetFileName(). A file still open on this
    // object is closed first without its pad byte (its sizes describe what reached disk).
    void Create();

    // As Create(), but only as a new file: a file of that name (even a dangling symbolic
    // link) is never opened, truncated or replaced, and fails with the szExists text.
    void CreateNew();

    // Writes the RIFF, "fmt " and "data" chunk headers for bits (8, 16, 24 = PCM;
    // 32, 64 = float), rate and channels, and sets the I/O buffer to ioBufferSize bytes
    // (0 or less: unbuffered; very large values are capped).
    void WriteHeader(int16_t bits, int32_t rate, int16_t channels, int32_t ioBufferSize);

    // Appends count sample bytes. Returns the bytes taken (count on success, 0 for a
    // count of 0); on failure sets the error and returns how many of these bytes reached
    // the file. A write that would take the data past GetMaxDataBytes() is refused whole
    // ("Cannot write to <file>.") and the file stays usable and closable.
    int32_t Write(const void* data, int32_t count);

    // Completes the file (pad byte, final sizes) and closes it.
    void Close();

    // The format of the last header written (all zero before the first header).
    WaveFormat GetFormat() const { return m_format; }

    // Bytes of sample data taken for the current file so far (without header and pad);
    // after a failed write, the bytes that reached the disk. Still readable after Close(),
    // until the next Create(). The recording continues in a new file before this would
    // pass GetMaxDataBytes().
    int64_t GetDataBytes() const { return m_nDataBytes; }

    // The most sample bytes one file can hold with the current header: the 32-bit RIFF
    // size (header + data + pad - 8) must not pass 0xFFFFFFFF. About 4 GiB.
    int64_t GetMaxDataBytes() const;

    // True while a file is open on this object (between Create() and a Close()).
    bool IsOpen() const { return m_hFile >= 0; }

    int HasError() const { return m_bError; }
    const char* GetErrorText() const { return m_strError.c_str(); }
    // The system's error number behind the last failure, 0 when it had none.
    int GetErrorNumber() const { return m_nErrno; }

private:
    void ClearError() { m_bError = 0; m_nErrno = 0; }
    void Open(int nFlags);
    // format: the file's path as the first %s, the reason (strerror of m_nErrno) as the second.
    void SetError(const char* format);
    bool WriteAt(int64_t offset, const void* data, int64_t count);
    bool WriteAll(const void* data, int64_t count, int64_t* written);
    bool Flush();
    bool UpdateSizes(bool final);
    void CloseHandle();
    void FreeBuffer();

    std::string m_strFileName;  // path of the file
    WaveFileTexts m_texts;      // message formats
    int m_nErrno;               // errno of the last failed system call, 0 for none
    int m_hFile;                // file descriptor, -1 when no file is open
    WaveFormat m_format;        // format of the last header written
    int32_t m_nHeaderBytes;     // 44 (PCM) or 46 (float); 0 before the header
    int64_t m_nDataBytes;       // sample bytes taken for this file
    int64_t m_nDiskDataBytes;   // sample bytes that reached the disk
    bool m_bWriteFailed;        // the disk refused data: the file ends at m_nDiskDataBytes
    int m_nFailErrno;           // errno of that refusal
    uint8_t* m_pBuffer;         // I/O buffer
    int32_t m_nBufferSize;      // its capacity in bytes, 0 when unbuffered
    int32_t m_nBufferFill;      // bytes waiting in it
    int32_t m_bError;           // 1 if the last operation failed
    std::string m_strError;     // message of the last failure, naming the file
};
