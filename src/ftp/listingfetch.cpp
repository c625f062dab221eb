#include "ftp/listingfetch.h"

#include <chrono>
#include <string>
#include <utility>

#include "ftp/ftpsession.h"
#include "net/sockets.h"
#include "util/stoprequest.h"
#include "util/timer.h"

namespace quorbit {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint16_t kListingBlock = 2048;

// How a listing's reading ended: read to its end, stopped at its bounds, or
// failed (reason says why; empty when a stop of the run ended it).
struct ListingOutcome {
  enum class End { Complete, Cut, Failed } end = End::Complete;
  std::string reason;
};

ListingOutcome Failure(std::string reason) {
  return {ListingOutcome::End::Failed, std::move(reason)};
}

std::string Seconds(std::uint32_t seconds) {
  return std::to_string(seconds) + " s";
}

// The server's final reply may still be on its way: it is given the list
// delay to arrive, so that it is discarded with the listing rather than
// taken as the answer to the next command.
void AwaitFinalReply(FtpSession& session) {
  WaitSocketReadable(session.Control().Handle(), session.ListDelay() * 1000);
}

bool ConfirmsListing(std::int32_t code) {
  return code == 226 || code == 250;
}

bool AbortsListing(std::int32_t code) {
  return code == 425 || code == 426 || code == 451;
}

// Reads the listing from the data connection into the parser, watching the
// control connection for the reply that ends it: until the end reply (with
// the data at a line end), an abort reply, the session's time-out without
// data, the listing's time limit, both connections closed, or the listing's
// bounds. A data connection closed without data within the list delay is an
// empty listing (a server closes it before it sends its final reply); one
// that stays silent is a failure unless the listing was confirmed. At its
// bounds the data connection is closed at once, so that data that
// never ends cannot hold the run; the server answers that close with its
// final reply.
ListingOutcome CollectListing(FtpSession& session, ListingParser& parser,
                              const RemoteListing& listing) {
  DataConnection& data = session.Data();
  const auto limit = Clock::now() + std::chrono::seconds(session.ListingTimeLimit());
  // The replies during the listing count as one, bounded by the listing's limit.
  FtpSession::ReplyBound reply = session.StartReply();
  reply.deadline = limit;
  reply.seconds = session.ListingTimeLimit();
  if (!data.WaitReadable(session.ListDelay())) {
    const bool closed = data.PeerClosed();
    // A server may hold its final reply until our end is closed too.
    if (closed) session.CloseDataChannel();
    AwaitFinalReply(session);
    // Empty when the server closed the data connection or confirmed the
    // listing; a data connection that stays silent is no listing at all.
    if (closed || ConfirmsListing(session.NextReply(reply, FtpSession::ReplyWait::ArrivedOnly))) {
      return {};
    }
    return Failure("no data within " + Seconds(session.ListDelay()));
  }

  TransferChannels channels{session};
  const auto timeout = std::chrono::seconds(session.Timeout());
  auto idleUntil = Clock::now() + timeout;
  std::uint64_t bytes = 0;
  std::int32_t code = -1;
  char block[kListingBlock];
  // Data that keeps coming never waits, so a stop is looked for here.
  while (!StopRequested()) {
    std::uint16_t received = 0;
    if (channels.ReceiveData(block, kListingBlock, received)) {
      idleUntil = Clock::now() + timeout;
      bytes += received;
      parser.Feed(std::string_view(block, received));
      if (!listing.Full() && bytes < kMaxListingBytes) {
        if (Clock::now() < limit) continue;
        return Failure("not complete within " + Seconds(session.ListingTimeLimit()));
      }
      data.Close();
      std::string bound = listing.Full() ? std::to_string(kMaxListingEntries) + " entries"
                                         : std::to_string(kMaxListingBytes) + " bytes";
      return {ListingOutcome::End::Cut, std::move(bound)};
    }
    const std::int32_t replied = session.NextReply(reply, FtpSession::ReplyWait::ArrivedOnly);
    const bool gotLine = replied >= 0;
    if (gotLine) {
      code = replied;
    } else if (code != 226) {
      code = -1;
    }
    if (ConfirmsListing(code) && (code == 250 || parser.AtLineEnd())) return {};
    if (AbortsListing(code)) return Failure(session.LastReply());
    if (session.Control().Failed()) return Failure("the control connection failed");
    if (!channels.AnyOpen()) return Failure("the server closed the connection");
    const auto now = Clock::now();
    if (now >= limit) return Failure("not complete within " + Seconds(session.ListingTimeLimit()));
    if (now >= idleUntil) return Failure("no data for " + Seconds(session.Timeout()));
    if (!gotLine) channels.WaitQuietly();
  }
  return Failure("");
}

bool OpenListingChannel(FtpSession& session) {
  for (int attempt = 0; attempt < kDataChannelTries; ++attempt) {
    if (session.OpenDataChannel(kTypeAscii)) return true;
  }
  return false;
}

// Why a listing did not start: the server's refusal, or no reply to take.
std::string StartFailure(FtpSession& session, std::string_view command, std::int32_t code) {
  if (code == 125 || code == 150) return "no secure data channel";
  if (session.Control().Failed() || session.LastReply().empty()) {
    return "no usable reply to " + std::string(command);
  }
  return session.LastReply();
}

// Starts the listing on a fresh data channel; false, with the reason, when
// it cannot.
bool StartListing(FtpSession& session, std::string_view command, std::string& failure) {
  if (!OpenListingChannel(session)) {
    failure = "no data channel";
    return false;
  }
  session.SendCommand(command);
  const std::int32_t code = session.ReadReply(command);
  if ((code == 125 || code == 150) && session.SecureDataChannel()) return true;
  failure = StartFailure(session, command, code);
  session.CloseDataChannel();
  return false;
}

}  // namespace

bool FetchListing(FtpSession& session, std::string_view mask, std::uint16_t filter,
                  FtpFileRecord& record, ListingPtr& listing) {
  record = FtpFileRecord{};
  listing = std::make_unique<RemoteListing>();
  record.listing = listing.get();
  session.DrainReplies();

  const bool mlsd = session.ListsWithMlsd();
  std::string failure;
  if (!StartListing(session, mlsd ? "MLSD" : "LIST", failure)) {
    session.StatusEvent(FtpStatusEvent::ListingFailed, failure);
    return false;
  }

  listing->Clear();
  ListingParser parser(*listing, mlsd ? ListingFormat::Mlsd : ListingFormat::List);
  const ListingOutcome outcome = CollectListing(session, parser, *listing);
  parser.Finish();
  session.DrainReplies();
  session.CloseDataChannel();
  // What arrived of a listing that failed is still used: each file is
  // checked again when it is transferred.
  listing->fetched = outcome.end != ListingOutcome::End::Failed;
  if (outcome.end == ListingOutcome::End::Cut) {
    session.StatusEvent(FtpStatusEvent::ListingCut, outcome.reason);
  } else if (outcome.end == ListingOutcome::End::Failed && !outcome.reason.empty()) {
    session.StatusEvent(FtpStatusEvent::ListingFailed, outcome.reason);
  }
  StartSearch(*listing, mask, filter);
  return NextMatch(record);
}

bool LookupRemote(FtpSession& session, std::string_view name, std::uint16_t filter,
                  FtpFileRecord& record, ListingPtr& listing) {
  if (!record.listing) FetchListing(session, name, filter, record, listing);
  return FindInListing(*record.listing, name, record);
}

std::uint16_t RemoteKind(FtpSession& session, std::string_view path) {
  // Without a "/" the whole path is taken as the directory, with no name.
  const std::size_t slash = path.rfind('/');
  std::string directory(path.substr(0, slash));
  const std::string_view name = slash == std::string_view::npos ? "" : path.substr(slash + 1);
  if (!directory.empty() && directory.back() != '/') directory += '/';
  if (!directory.empty() && !session.ChangeDir(directory)) return 0;

  FtpFileRecord record;
  ListingPtr listing;
  return FetchListing(session, name, kFilterAny, record, listing) ? record.attribute : 0;
}

}  // namespace quorbit
