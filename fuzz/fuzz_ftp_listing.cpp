// A "LIST" or "MLSD" reply as a server may send it: cut into lines, parsed
// as Unix, Windows-style or MLSD lines, and searched with a mask.
//
// Input: an optional mask and a NUL, then the listing text.
#include <memory>

#include "ftp/listing.h"
#include "fuzz/fuzz_support.h"

namespace quorbit {

namespace {

// Cuts the whole text into lines as the listing fetch does and checks that
// each cut moves on and that no line holds a line end.
void CheckLineCutting(std::string_view text) {
  while (!text.empty()) {
    const std::size_t before = text.size();
    const std::string_view line = TakeListingLine(text);
    FUZZ_CHECK(text.size() < before);
    FUZZ_CHECK(line.find_first_of("\r\n") == std::string_view::npos);
  }
}

void CheckEntries(const RemoteListing& listing) {
  FUZZ_CHECK(listing.count <= kMaxListingEntries);
  for (std::size_t i = 0; i < listing.count; ++i) {
    const FtpFileRecord& entry = listing.items[i];
    FUZZ_CHECK(entry.attribute == kFtpDirectory || entry.attribute == kFtpFile);
    FUZZ_CHECK(entry.listing == &listing);
    // A size is known, or unknown only for a link.
    FUZZ_CHECK(entry.size >= 0 || (entry.link && entry.size == kUnknownSize));
    // A date is a real one or none.
    FUZZ_CHECK(entry.date == 0 || PackDateTime(UnpackDateTime(entry.date)) == entry.date);
    // The name is part of one line, and no longer than a name can be.
    FUZZ_CHECK(entry.name.find_first_of("\r\n") == std::string::npos);
    FUZZ_CHECK(!entry.name.empty() && entry.name.size() <= kMaxRemoteName);
  }
}

// Every match of a search is an entry of the listing that its own name,
// used as a mask, finds again.
void CheckSearch(RemoteListing& listing, std::string_view mask, std::uint16_t filter) {
  StartSearch(listing, mask, filter);
  FtpFileRecord record;
  record.listing = &listing;
  std::size_t matches = 0;
  while (NextMatch(record)) {
    FUZZ_CHECK(++matches <= listing.count);
    FUZZ_CHECK((record.attribute & filter) != 0);
    FtpFileRecord found;
    FUZZ_CHECK(FindInListing(listing, record.name, found));
  }
}

// Parsed in pieces of the given size, as the text arrives from the network,
// the text gives the same entries as parsed whole.
void CheckPieces(std::string_view text, const RemoteListing& whole, ListingFormat format,
                 std::size_t pieceSize) {
  RemoteListing pieces;
  ListingParser parser(pieces, format);
  for (std::size_t at = 0; at < text.size(); at += pieceSize) {
    parser.Feed(text.substr(at, pieceSize));
  }
  parser.Finish();
  FUZZ_CHECK(pieces.count == whole.count);
  for (std::size_t i = 0; i < whole.count; ++i) {
    FUZZ_CHECK(pieces.items[i].name == whole.items[i].name);
    FUZZ_CHECK(pieces.items[i].size == whole.items[i].size);
    FUZZ_CHECK(pieces.items[i].link == whole.items[i].link);
  }
}

}  // namespace

}  // namespace quorbit

using namespace quorbit;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const auto listing = std::make_unique<RemoteListing>();
  std::string_view text = AsText(data, size);
  std::string_view mask = "*.*";
  if (const std::size_t nul = text.find('\0'); nul != std::string_view::npos && nul <= 255) {
    mask = text.substr(0, nul);
    text.remove_prefix(nul + 1);
  }

  CheckLineCutting(text);
  for (const ListingFormat format : {ListingFormat::List, ListingFormat::Mlsd}) {
    listing->Clear();
    ParseListingText(text, *listing, format);
    CheckEntries(*listing);
    CheckPieces(text, *listing, format, size % 300 + 1);
    CheckSearch(*listing, mask, kFilterAny);
    CheckSearch(*listing, mask, kFilterFiles);
  }
  return 0;
}
