#pragma once
// BASE.cue: the titles and album data of an album, one FILE and TRACK per song file.

#include "album/Album.h"

#include <string>

namespace CueSheet {

// "Music/Side A.wav" -> "Music/Side A.cue".
std::string PathFor(const std::string& strBasePath);

// The text as a cue sheet can hold it: double quotes become single quotes, line breaks and
// tabs spaces.
std::string Clean(const std::string& strText);
// The album's data with each text cleaned so.
CAlbumInfo Clean(const CAlbumInfo& info);

// A text in double quotes as a reader takes it whole (no trailing backslash).
std::string QuotedText(const std::string& strText);
// How a FILE line names a song file of the sheet's own folder; empty when no FILE line can.
std::string FileLineName(const std::string& strName);
// The quoted value of an album line ("TITLE", "PERFORMER", "REM DATE"); empty when none.
std::string AlbumLine(const std::string& strText, const std::string& strKey);

// Any bytes as one word of a remark: letters, digits, '.', '_' and '-' as they are, the rest
// as %XX ("%" alone for the empty text); Decode gives the bytes back.
std::string Encode(const std::string& str);
std::string Decode(const std::string& str);

// The cue sheet of a layout: PERFORMER, TITLE and REM DATE for the album, then per song
// FILE "Side A3.wav" WAVE, TRACK 03 AUDIO, TITLE, PERFORMER, a remark with the song's
// length in frames (REM CADENZO_FRAMES) and INDEX 01 00:00:00. Double
// quotes in texts become single quotes (a cue sheet cannot hold them); line breaks spaces.
// A song file name with a double quote is written bare (FILE it"s1.wav WAVE); one that
// holds a double quote and white space, or a line break, cannot be named at all: then the
// sheet has no tracks, says so in a comment, and keeps every song in its remarks.
std::string Write(const CAlbumLayout& layout);

// Reads titles (matched to the song files by file name, else by track number) and the
// album data into the layout. A song file whose length differs from the one the cue sheet
// noted is a later recording under the same name: it gets no title. False with a text when there is no readable cue sheet; the
// layout then keeps what it had.
bool Read(const std::string& strPath, CAlbumLayout* pLayout, std::string* pError);

}  // namespace CueSheet
