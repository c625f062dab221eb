// Fetching remote directory listings: a "LIST" reply (or "MLSD", when the server offers it) read
// over the passive data channel while the control connection is watched for its end, parsed into a
// listing that the caller keeps.
#pragma once

#include <cstdint>
#include <string_view>

#include "ftp/listing.h"

namespace quorbit {

class FtpSession;

// Lists the session's current remote directory into a new listing owned by
// listing and linked from the record, and puts the first match of mask and
// filter into the record. False when nothing matched or the listing could not
// be fetched (an empty listing is then linked).
bool FetchListing(FtpSession& session, std::string_view mask, std::uint16_t filter,
                  FtpFileRecord& record, ListingPtr& listing);

// Looks the name up in the record's listing, fetching the listing first when
// the record has none yet, so that one listing serves many lookups.
bool LookupRemote(FtpSession& session, std::string_view name, std::uint16_t filter,
                  FtpFileRecord& record, ListingPtr& listing);

// 16 when the remote path names a directory, 32 a file, 0 when not found.
// Changes into the path's directory first, and stays there.
std::uint16_t RemoteKind(FtpSession& session, std::string_view path);

}  // namespace quorbit
