#include "ftp/listingfetch.h"

#include <string>

#include "ftp/ftpsession.h"
#include "net/sockets.h"
#include "report/timer.h"
#include "util/stoprequest.h"

namespace {

constexpr std::uint16_t kListingBlock = 2048;

// Listing text of at most kMaxListingText bytes. Once more arrives than fits,
// the text is cut back to its last complete line (a line cut in the middle
// would parse into an entry with a wrong name) and is full: the listing ends
// there, and nothing more is appended.
struct ListingText {
  std::string bytes;
  bool full = false;

  void Append(std::string_view piece) {
    const std::size_t room = kMaxListingText - bytes.size();
    bytes.append(piece.substr(0, room));
    if (piece.size() <= room) return;
    full = true;
    const std::size_t lastCr = bytes.rfind('\r');
    bytes.resize(lastCr == std::string::npos ? 0 : lastCr + 1);
  }

  // The data has reached a line end (or there is none), so a 226 that has
  // arrived may end the listing.
  bool AtLineEnd() const { return bytes.empty() || bytes.back() == '\n' || bytes.back() == '\r'; }
};

// The server's final reply may still be on its way: it is given the list
// delay to arrive, so that it is discarded with the listing rather than
// taken as the answer to the next command.
void AwaitFinalReply(FtpSession& session) {
  WaitSocketReadable(session.Control().Handle(), session.ListDelay() * 1000);
}

bool ListingEnds(std::int32_t code, const ListingText& text) {
  if (code == 226) return text.AtLineEnd();
  return code == 250 || code == 425 || code == 426 || code == 451;
}

// Reads the listing from the data connection, watching the control
// connection for the reply that ends it, until the end reply, an abort
// reply, 300 seconds without data, both connections closed, or a full text.
// Empty when nothing arrives within the list delay; a server closes the data
// connection of an empty listing before it sends its final reply. A full text
// closes the data connection at once, so that data that never ends cannot
// hold the run; the server answers that close with its final reply.
std::string CollectListingText(FtpSession& session) {
  DataConnection& data = session.Data();
  if (!data.WaitReadable(session.ListDelay())) {
    AwaitFinalReply(session);
    return {};
  }

  ListingText text;
  TransferChannels channels{session};
  Stopwatch idle;
  std::int32_t code = -1;
  char block[kListingBlock];
  // Data that keeps coming never waits, so a stop is looked for here.
  while (!StopRequested()) {
    std::uint16_t received = 0;
    if (data.ReceiveBlock(block, kListingBlock, received)) {
      idle.Start();
      text.Append(std::string_view(block, received));
      if (!text.full) continue;
      data.Close();
      // A 226 read while the data still came is that reply already.
      if (code != 226) AwaitFinalReply(session);
      break;
    }
    Str255 line;
    const bool gotLine = session.Control().ReadLine(line);
    if (gotLine) {
      code = ReplyCode(line);
    } else if (code != 226) {
      code = -1;
    }
    if (ListingEnds(code, text) || idle.Elapsed() >= kListingIdleLimit || !channels.AnyOpen()) {
      break;
    }
    if (!gotLine) channels.WaitQuietly();
  }
  return std::move(text.bytes);
}

bool OpenListingChannel(FtpSession& session) {
  for (int attempt = 0; attempt < kDataChannelTries; ++attempt) {
    if (session.OpenDataChannel(kTypeAscii)) return true;
  }
  return false;
}

}  // namespace

bool FetchListing(FtpSession& session, std::string_view mask, std::uint16_t filter,
                  FtpFileRecord& record, ListingPtr& listing) {
  record = FtpFileRecord{};
  listing = std::make_unique<RemoteListing>();
  record.listing = listing.get();
  session.DrainReplies();

  if (!OpenListingChannel(session)) return false;
  const bool mlsd = session.ListsWithMlsd();
  const std::string_view command = mlsd ? "MLSD" : "LIST";
  session.SendCommand(command);
  const std::int32_t code = session.ReadReply(command);
  if ((code != 125 && code != 150) || !session.SecureDataChannel()) {
    session.CloseDataChannel();
    return false;
  }

  listing->Clear();
  const std::string text = CollectListingText(session);
  session.DrainReplies();
  ParseListingText(text, *listing, mlsd ? ListingFormat::Mlsd : ListingFormat::List);
  StartSearch(*listing, mask, filter);
  const bool found = NextMatch(record);
  session.CloseDataChannel();
  return found;
}

bool LookupRemote(FtpSession& session, std::string_view name, std::uint16_t filter,
                  FtpFileRecord& record, ListingPtr& listing) {
  if (!record.listing) FetchListing(session, name, filter, record, listing);
  return FindInListing(*record.listing, name, record);
}

std::uint16_t RemoteKind(FtpSession& session, std::string_view path) {
  Str255 directory(path), name;
  SplitLast(directory, '/', name);
  EnsureTrailing(directory, '/');
  if (!directory.Empty() && !session.ChangeDir(directory)) return 0;

  FtpFileRecord record;
  ListingPtr listing;
  return FetchListing(session, name, kFilterAny, record, listing) ? record.attribute : 0;
}
