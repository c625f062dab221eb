// Remote directory listings as data: the file record that every FTP
// operation passes around, the listing container, cutting a listing text
// into lines, parsing its lines (Unix long format, Windows style and MLSD
// facts) and matching entries against a file mask. Pure functions over
// memory: no session, file or socket.
//
// A listing is owned by a ListingPtr that the caller keeps; records taken
// from the listing point at it without owning it, so that any copy of a
// record can continue the search (NextMatch). The listing must outlive the
// records that still search in it.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>

#include "util/fileattributes.h"
#include "util/packeddate.h"

namespace quorbit {

struct RemoteListing;

// Attribute values of listing entries: those of the local file system, so
// that remote and local files compare alike.
constexpr std::uint16_t kFtpDirectory = kAttrDirectory;
constexpr std::uint16_t kFtpFile = kAttrArchive;
// Filters: files only, and any kind of entry.
constexpr std::uint16_t kFilterFiles = kAttrArchive;
constexpr std::uint16_t kFilterAny = kAttrAny;

// Bounds of one listing: its entries (about 80 bytes each, up to some 350
// with the longest names, so about 70 MB at most) and the bytes read for it,
// lines that parse or not. A directory of 100,000 files fits well within both.
constexpr std::size_t kMaxListingEntries = 200000;
constexpr std::uint64_t kMaxListingBytes = 64ull * 1024 * 1024;
// A listing line longer than this is no entry a server means (a name has at
// most 255 bytes, and a few columns or facts are enough): it is skipped
// without being kept whole.
constexpr std::size_t kMaxListingLine = 4096;
// The longest name an entry may have: the most a file system gives one
// component. A line naming a longer one is no entry.
constexpr std::size_t kMaxRemoteName = 255;

// The size of an entry whose listing does not tell it: a symbolic link's
// listed size is the length of the path it points at, not the size of the
// file a download of it brings.
constexpr std::int64_t kUnknownSize = -1;

struct FtpFileRecord {
  std::uint8_t direction = 0;  // 1 while downloaded, 0 while uploaded
  std::string name;
  std::uint16_t attribute = 0;  // kFtpDirectory or kFtpFile
  // A symbolic link, listed as a file under its own name: the server
  // follows it on RETR, and its size is kUnknownSize until SIZE or the
  // transfer tells it.
  bool link = false;
  // Local time. Listing entries have one only when the line states it
  // (Windows-style and MLSD lines); 0 otherwise.
  PackedDateTime date = 0;
  std::int64_t size = 0;             // kUnknownSize when the listing does not tell it
  RemoteListing* listing = nullptr;  // not owned
  std::int32_t transferSeconds = 0;
};

struct RemoteListing {
  // A deque: it grows without moving what it holds, so a large listing never
  // needs twice its size while it grows.
  std::deque<FtpFileRecord> items;
  std::size_t count = 0;     // entries in items
  std::size_t cursor = 0;    // 1-based position of the last match; 0 before the first
  std::string mask;          // upper-cased
  std::uint16_t filter = 0;  // attribute bits an entry must share to match
  // The server's listing was read (to its end, or to the listing's bounds);
  // false when it could not be, so that an empty listing is no proof that
  // nothing is there.
  bool fetched = false;

  void Clear();
  // Appends the entry (linked to this listing); false once
  // kMaxListingEntries are held.
  bool Add(const FtpFileRecord& entry);
  bool Full() const { return count >= kMaxListingEntries; }
};

using ListingPtr = std::unique_ptr<RemoteListing>;

// The value of the leading decimal digits of text (spaces before them
// skipped; 0 without digits), wrapping at 32 bits.
std::uint32_t LeadingNumber(std::string_view text);

// A file size: the value of the leading decimal digits of text (spaces
// before them skipped; 0 without digits). False when the number does not fit
// in 63 bits: such a column is no size.
bool ParseFileSize(std::string_view text, std::int64_t& size);

// Parses one Unix long-format line, reading its columns from the left: the
// type and permissions, the link count, the owner, the group (which some
// servers leave out), the size, the date ("Dec  8 18:31", "Mar 10  2019" or
// "2005-04-08 11:22"), one blank, and the rest of the line as the name,
// blanks included. A link ("l", "name -> target") is an entry named name of
// unknown size. Devices, fifos and sockets give no entry, nor does any line
// of another shape ("total 24"), nor the names "." and "..".
bool ParseListLine(std::string_view line, FtpFileRecord& entry);

// Parses one Windows-style (IIS) line: "MM-DD-YY  HH:MMAM" (a four-digit
// year and a 24-hour clock without AM/PM are also read), then "<DIR>" or the
// size, then blanks and the name, which is the rest of the line, blanks
// included. The date and time, as written, become the entry's date. Not
// valid for any other shape, nor for the names "." and "..".
bool ParseWindowsListLine(std::string_view line, FtpFileRecord& entry);

// Parses one line of a "LIST" reply: Windows style when it starts with a
// digit (a date), else the Unix long format.
bool ParseAnyListLine(std::string_view line, FtpFileRecord& entry);

// Parses one "MLSD" line: facts ("type=file;size=123;modify=...;"), one
// space and the exact name (everything after that space). The types file
// and dir give entries, and so does a link ("OS.unix=symlink" or
// "OS.unix=slink:target"), as a file of unknown size; the directory itself,
// its parent, devices and the like do not. A file needs a size. The modify
// fact, UTC, becomes the entry's date in local time.
bool ParseMlsdLine(std::string_view line, FtpFileRecord& entry);

// Takes the first line off the front of a listing text: up to a CR LF, a
// bare LF or a bare CR, with any further line ends, whatever its length (a
// cut would change the name at its end). At the end of the text without a
// line end, the rest is the last line.
std::string_view TakeListingLine(std::string_view& text);

// The reply a listing text comes from.
enum class ListingFormat : std::uint8_t {
  List,  // "LIST": Unix or Windows-style lines
  Mlsd,  // "MLSD": one line of facts per entry
};

// Parses a listing text as it arrives, piece by piece, into the listing.
// Only the line that has not ended yet is kept, so that memory grows with
// the entries and not with the text. Lines are cut and parsed exactly as a
// whole text would be.
class ListingParser {
 public:
  ListingParser(RemoteListing& listing, ListingFormat format);
  // Parses every line that the piece completes.
  void Feed(std::string_view piece);
  // Parses what is left as the last line.
  void Finish();
  // What has arrived ends with a line end (or nothing has).
  bool AtLineEnd() const;

 private:
  // Takes the next line off text and parses it, when the line is complete
  // (or atEnd); false when it must wait for more text.
  bool TakeLineIfReady(std::string_view& text, bool atEnd);

  RemoteListing& listing_;
  ListingFormat format_;
  std::string pending_;
  bool skippingLongLine_ = false;  // inside a line too long to keep
};

// Parses a whole listing text into the listing (lines that do not parse are
// skipped; entries beyond kMaxListingEntries are dropped).
void ParseListingText(std::string_view text, RemoteListing& listing,
                      ListingFormat format = ListingFormat::List);

// Starts a search of the listing: the mask is stored upper-cased and the
// cursor goes back before the first entry.
void StartSearch(RemoteListing& listing, std::string_view mask, std::uint16_t filter);

// Overwrites the record with the next entry of its listing that matches the
// listing's mask and filter; false when there is none (or no listing).
bool NextMatch(FtpFileRecord& record);

// The first entry (from the start; the cursor does not move) whose name
// matches name used as a mask and whose attribute shares a bit with the
// listing's filter.
bool FindInListing(const RemoteListing& listing, std::string_view name, FtpFileRecord& record);

// Frees the listing and unlinks the record from it.
void ReleaseListing(FtpFileRecord& record, ListingPtr& listing);

}  // namespace quorbit
