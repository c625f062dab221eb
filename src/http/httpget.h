// The GET of one http or https URL, directly or through a proxy, with its
// body stored in a local directory. Reads the status line and the header
// fields it needs, can skip a file whose LAST-MODIFIED equals the stored
// copy's date, can store under 8.3 names, follows redirects (a 301 or 302
// without LOCATION, or one to the same address with a "/" added, is
// fetched as a directory), and stamps the stored file with LAST-MODIFIED. A
// body is written to ".<name>.quorbit-part" beside the stored copy and
// replaces it only when complete, so a broken transfer leaves the old copy
// as it was.
//
// A request on a kept connection (connectionpool.h) that fails before any
// response byte (the server closed it while it was idle) is made once more
// on a fresh connection. Unasked bytes waiting on a kept connection would be
// taken for the next answer, so the connection is closed instead.
//
// A header is bounded in lines, bytes and time (the whole of it, from the
// request on); interim (1xx) answers before it are passed over. A header
// past its bounds, or one whose CONTENT-LENGTH gives no length, fails the
// fetch with a run-log line that says why, written here.
//
// Whatever a server or a page supplies is made harmless before it is used:
// the request target goes out percent-encoded where a byte could break the
// request, and a stored name never leaves the local directory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "http/httpsession.h"
#include "http/responsehead.h"
#include "http/weburl.h"

namespace quorbit {

// Longest local directory a redirect to the address as a directory may lead
// to: the width of an assignment's LOCATION, where the directory is kept.
inline constexpr std::size_t kMaxLocalDirectoryLength = 80;

// Redirects followed for one file before it counts as failed.
inline constexpr int kMaxRedirects = 5;

// Splits the URL into the session's baseUrl, secure, directory and file;
// returns the host. A port written in the URL stays part of the host.
std::string SplitUrl(HttpSession& session, std::string_view url);

// What a GET does with the file besides fetching it.
struct GetOptions {
  bool ifModified = false;  // keep the stored file when the server's copy is not newer
  bool shortNames = false;  // store under an 8.3 name
};

// Fetches url into localDirectory (the caller's variable: it gains a trailing
// separator, and a redirect to the same address as a directory extends it by
// one subdirectory where that fits kMaxLocalDirectoryLength). Other redirects (301, 302, 303, 307,
// 308) are followed up to kMaxRedirects times, on whatever http or https server and port they name,
// and the file keeps the name of url. An https address is fetched over TLS as the session's tls
// options say; there is never a fallback to http. True when the body was stored completely or
// skipped as unchanged (ifModified). Afterwards the connection is closed, or, when it may serve
// another request, left in the session's keep.
bool HttpGet(HttpSession& session, std::string_view url, std::string& localDirectory,
             std::uint16_t port, const GetOptions& options, HttpResponse& response);

// Reads the response to the request already sent on the session's connection
// and stores its body in localDirectory (which gains a trailing separator)
// under the session's stored name or else its file part. True when the body was stored completely
// or skipped as unchanged (ifModified).
bool ReceiveBody(HttpSession& session, std::string& localDirectory, const GetOptions& options,
                 HttpResponse& response);

// Clears the response, derives its fileName from wantedName (or from the
// session's directory), waits for and reads the status line and the header
// up to its empty line, passing over interim (1xx) answers. True when the
// header is whole and the status is 200. A header past its bounds (see
// kHeaderLinesMax) or with an unusable CONTENT-LENGTH sets answerFailure.
bool ReadResponseHeader(HttpSession& session, HttpResponse& response, std::string_view wantedName);

// The address a LOCATION value names, resolved against the address it
// answers; its query is kept. Empty for another scheme or no usable server.
std::optional<WebUrl> RedirectTarget(std::string_view location, const WebUrl& from);

// The local name for a file part (empty: named after the directory, "/docs/"
// gives "docs.html", "/" gives "index.html"): query and fragment cut, %XX
// escapes decoded, made safe with SafeFileName.
std::string StoredFileName(std::string_view wantedName, std::string_view urlDirectory);

// "/", "\" and NUL become "_"; "." and ".." become "_" and "__".
std::string SafeFileName(std::string_view name);

// Replaces each "%" and the two characters after it by the byte they give in
// hexadecimal, for as long as the text contains a "%".
std::string DecodeEscapes(std::string_view text);

}  // namespace quorbit
