// An HTTP answer as a server may send it, received whole: status line,
// header fields and a body framed by length, by chunks or by the end of the
// connection, read from one end of a socket pair and stored in a scratch
// directory. The head's text alone is fuzzed by fuzz_http_response.
//
// Input: a flag byte (1 = only if modified, 2 = short names), the file part
// of the requested URL up to a line feed, then the server's bytes.
#include <sys/socket.h>

#include "fuzz/fuzz_support.h"
#include "http/httpget.h"

namespace quorbit {

namespace {

// Hands a connected socket to a connection, as its Connect would after the
// connect; a derived class may name the connection's socket.
struct SocketGiver : TcpConnection {
  static void Give(TcpConnection& connection, SocketHandle handle) {
    (connection.*&SocketGiver::socket_).Reset(handle);
    SetNonBlocking(handle);
  }
};

class QuietSession : public HttpSession {
 public:
  QuietSession() : HttpSession({}) {}
  ~QuietSession() override { Done(); }
  void StatusEvent(HttpStatusEvent) override {}
  void FileEvent(HttpFileEvent, const HttpResponse&) override {}
  void PercentEvent(std::int32_t) override {}
  void BytesEvent(std::int64_t) override {}
};

// The server's whole answer waits in the socket, and the server has gone:
// every wait ends at once.
bool ServeFromSocketPair(TcpConnection& connection, std::string_view reply) {
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0) return false;
  const bool sent =
      ::send(ends[1], reply.data(), reply.size(), 0) == static_cast<ssize_t>(reply.size());
  ::close(ends[1]);
  SocketGiver::Give(connection, ends[0]);
  return sent;
}

// The stored body is the only entry of the directory, a file in it.
std::string StoredFile(const std::string& directory) {
  std::string stored;
  if (DIR* dir = ::opendir(directory.c_str())) {
    while (dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      FUZZ_CHECK(stored.empty() && entry->d_type == DT_REG);
      stored = directory + name;
    }
    ::closedir(dir);
  }
  return stored;
}

}  // namespace

}  // namespace quorbit

using namespace quorbit;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string directory = [] {
    const std::string path = ScratchDirectory() + "http/";
    ::mkdir(path.c_str(), 0700);
    return path;
  }();
  std::string_view text = AsText(data, size);
  // More than a socket buffer would need a server that writes while we read.
  if (text.empty() || text.size() > 64 * 1024) return 0;
  const bool ifModified = text[0] & 1;
  const bool shortNames = text[0] & 2;
  text.remove_prefix(1);
  const std::size_t eol = text.find('\n');
  const std::string_view file = text.substr(0, std::min<std::size_t>(eol, 80));
  const std::string_view reply = eol == std::string_view::npos ? "" : text.substr(eol + 1);

  QuietSession session;
  SplitUrl(session, Cat("http://127.0.0.1/dir/", file));
  session.bodyIdleSeconds = 1;
  if (!ServeFromSocketPair(session.connection, reply)) return 0;
  std::string local(directory);
  HttpResponse response;
  const bool stored =
      ReceiveBody(session, local, {.ifModified = ifModified, .shortNames = shortNames}, response);
  session.connection.Close();

  FUZZ_CHECK(local == directory);
  const std::string path = StoredFile(directory);
  FUZZ_CHECK(!stored || response.status == 200);
  if (stored && response.framing == BodyFraming::Length) {
    FUZZ_CHECK(ReadWholeFile(path).size() == static_cast<std::size_t>(response.contentLength));
  }
  EmptyDirectory(directory);
  return 0;
}
