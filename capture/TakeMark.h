#pragma once
// The mark of a take: a hidden file beside a recording's song files, written when a
// recording to a base name starts, before its first song file is created. Song files
// changed before the mark belong to an earlier take under the same name; the album
// leaves them out of the songs and names them as leftovers. The song files themselves
// stay plain WAV files.

#include <string>

namespace TakeMark {

// "Music/Side A.wav" -> "Music/.Side A.wav.cadenzo-take".
std::string PathFor(const std::string& strBasePath);

// Writes a new mark for strBasePath (its text names the take). False when it cannot be
// written; the recording goes on, its songs then not told apart from an earlier take's.
bool Write(const std::string& strBasePath);

// The take the mark names; empty when there is no mark.
std::string Read(const std::string& strBasePath);

}  // namespace TakeMark
