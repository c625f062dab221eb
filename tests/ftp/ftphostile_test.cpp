// Servers that misbehave on purpose while a file goes up or down with DELETE.
// Each row says what the server sends once the data channel is open and what
// the client must make of it: its events and what stays on the local disk.
// A source goes only when the server has it all and says so.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "ftp/ftptransfer.h"
#include "ftp_test_support.h"

namespace quorbit {

namespace {

using Events = std::vector<std::string>;

// Replaces every "{size}" of text by the size.
std::string WithSize(std::string text, std::size_t size) {
  for (std::size_t at = text.find("{size}"); at != std::string::npos; at = text.find("{size}")) {
    text.replace(at, 6, std::to_string(size));
  }
  return text;
}

// A local file removed by someone else, or turned into a directory, between
// the transfer and its delete: the delete then fails.
enum class Meddling { None, DirectoryInItsPlace };

// Records the events, and meddles with the local file when its delete is
// announced.
class MeddledSession : public RecordingFtpSession {
 public:
  std::string localFile;
  Meddling meddling = Meddling::None;

  void FileEvent(FtpFileEvent event, const FtpFileRecord& file) override {
    RecordingFtpSession::FileEvent(event, file);
    if (event == FtpFileEvent::Deleting && meddling == Meddling::DirectoryInItsPlace) {
      std::filesystem::remove(localFile);
      std::filesystem::create_directories(localFile + "/inside");
    }
  }
};

enum class Way { Up, Down };

struct HostileCase {
  const char* what;  // what the server does
  Way way;
  std::size_t size;   // bytes of the file f.bin
  std::string steps;  // the server's steps from the transfer command on; "{size}" is the size
  Events events;      // the client's events from the transfer's announcement on
  bool sourceKept;    // the local f.bin is still there afterwards (uploads)
  Meddling meddling = Meddling::None;
};

const std::string kStor = "expect STOR f.bin\n";
const std::string k226 = "send 226 Transfer complete.\\r\\n\n";
const std::string kSizeAsked = "expect SIZE f.bin\n";
// The server reads the data to its end, then closes its side.
const std::string kTakesAll = "send 150 Ok to send data.\\r\\n\ndata drain\ndata close\n";
// The listing that follows a refused SIZE (the type switches back to ASCII).
std::string ListingAfterTransfer(const std::string& entries) {
  return "expect TYPE A\nsend 200 Switching to ASCII mode.\\r\\n\n" + kListRequest +
         "send 150 Here comes the directory listing.\\r\\n\n" + entries +
         "data close\nsend 226 Directory send OK.\\r\\n\n";
}
const std::string kEntry = "data send -rw-r--r--    1 ftp ftp {size} Jan  5 12:00 f.bin\\r\\n\n";

const Events kUploadFailed = {"Uploading:f.bin", "UploadFailed:f.bin"};
const Events kUploadKept = {"Uploading:f.bin", "Complete:f.bin", "SourceKept:f.bin"};
const Events kUploadDeleted = {"Uploading:f.bin", "Complete:f.bin", "Deleting:f.bin"};

const std::vector<HostileCase>& Cases() {
  static const std::vector<HostileCase> cases = {
      // 150 and 226 in one segment: the file is "complete" before a byte was
      // sent, and the data connection is never even accepted.
      {"150 and 226 at once, never accepts, empty file", Way::Up, 0,
       kStor + "send 150 Ok to send data.\\r\\n226 Transfer complete.\\r\\n\n", kUploadFailed,
       true},
      {"150 and 226 at once, never accepts, small file", Way::Up, 10,
       kStor + "send 150 Ok to send data.\\r\\n226 Transfer complete.\\r\\n\n", kUploadFailed,
       true},
      {"150 and 226 at once, never accepts, 2 MB", Way::Up, 2 << 20,
       kStor + "send 150 Ok to send data.\\r\\n226 Transfer complete.\\r\\n\n", kUploadFailed,
       true},
      // 226 while the client waits for room to send: it must not wait for
      // the whole send time.
      {"226 while the client waits for room, never accepts, 8 MB", Way::Up, 8 << 20,
       kStor + "send 150 Ok to send data.\\r\\n\npause 0.5\n" + k226, kUploadFailed, true},
      // The data connection is closed unread before the 150.
      {"closes the data connection unread, empty file", Way::Up, 0,
       kStor + "data close\nsend 150 Ok to send data.\\r\\n\npause 0.3\n" + k226, kUploadFailed,
       true},
      {"closes the data connection unread, small file", Way::Up, 10,
       kStor + "data close\nsend 150 Ok to send data.\\r\\n\npause 0.3\n" + k226, kUploadFailed,
       true},
      {"closes the data connection unread, 2 MB", Way::Up, 2 << 20,
       kStor + "data close\nsend 150 Ok to send data.\\r\\n\npause 0.3\n" + k226, kUploadFailed,
       true},
      // 226 only after our end, but the server never read: it never ended
      // its side of the data connection either.
      {"226 after our end, never accepts", Way::Up, 10,
       kStor + "send 150 Ok to send data.\\r\\n\npause 1\n" + k226, kUploadFailed, true},
      // Closed with our bytes unread after our end: the reset says so,
      // whatever the reply.
      {"resets the data connection unread after our end, then 226", Way::Up, 10,
       kStor + "send 150 Ok to send data.\\r\\n\ndata accept\npause 0.5\ndata close\n" + k226,
       kUploadFailed, true},
      // Servers that take the whole file and confirm its size.
      {"takes the empty file, SIZE confirms", Way::Up, 0,
       kStor + "send 150 Ok to send data.\\r\\n\ndata expect_close\ndata close\n" + k226 +
           kSizeAsked + "send 213 0\\r\\n\n",
       kUploadDeleted, false},
      {"takes 2 MB, SIZE confirms", Way::Up, 2 << 20,
       kStor + kTakesAll + k226 + kSizeAsked + "send 213 {size}\\r\\n\n", kUploadDeleted, false},
      {"takes the file, SIZE 0", Way::Up, 10,
       kStor + kTakesAll + k226 + kSizeAsked + "send 213 0\\r\\n\n", kUploadKept, true},
      {"takes the file, no SIZE, the listing confirms", Way::Up, 10,
       kStor + kTakesAll + k226 + kSizeAsked + "send 502 SIZE not implemented.\\r\\n\n" +
           ListingAfterTransfer(kEntry),
       kUploadDeleted, false},
      {"takes the file, SIZE refused, listing without the file", Way::Up, 10,
       kStor + kTakesAll + k226 + kSizeAsked + "send 550 Could not get file size.\\r\\n\n" +
           ListingAfterTransfer(""),
       kUploadKept, true},
      // A lingering close: the server ends its side of the data connection,
      // then waits for the client's before it sends 226.
      {"226 only once the client has closed the data connection, download",
       Way::Down,
       10,
       "expect RETR f.bin\nsend 150 ok\\r\\n\ndata send 0123456789\ndata shutdown\ntimeout 2\n"
       "data expect_close\n" +
           k226 + "expect DELE f.bin\nsend 250 Deleted.\\r\\n\n",
       {"Downloading:f.bin", "Complete:f.bin", "Deleting:f.bin"},
       true},
      {"takes the file, the local delete fails",
       Way::Up,
       10,
       kStor + kTakesAll + k226 + kSizeAsked + "send 213 {size}\\r\\n\n",
       {"Uploading:f.bin", "Complete:f.bin", "Deleting:f.bin",
        "DeleteFailed:f.bin: Is a directory"},
       true,
       Meddling::DirectoryInItsPlace},
      // A download whose DELE is refused.
      {"refuses the DELE of a downloaded file",
       Way::Down,
       10,
       "expect RETR f.bin\nsend 150 ok\\r\\n\ndata send 0123456789\ndata close\n" + k226 +
           "expect DELE f.bin\nsend 550 Permission denied.\\r\\n\n",
       {"Downloading:f.bin", "Complete:f.bin", "Deleting:f.bin",
        "DeleteFailed:f.bin: 550 Permission denied."},
       true},
  };
  return cases;
}

// Names the row in test output.
void PrintTo(const HostileCase& row, std::ostream* out) {
  *out << row.what;
}

class HostileServer : public ::testing::TestWithParam<HostileCase> {};

TEST_P(HostileServer, SourceGoesOnlyWhenTheServerHasItAll) {
  const HostileCase& row = GetParam();
  TempDir local;
  const std::string file = local / "f.bin";
  const std::string channel =
      "expect TYPE I\nsend 200 Switching to Binary mode.\\r\\n\nexpect PASV\npasv\n";
  std::string script = kLoginScript;
  if (row.way == Way::Down) {
    script += kListRequest + "send 150 Here comes the listing\\r\\n\n" + kEntry +
              "data close\nsend 226 Directory send OK\\r\\n\n";
  } else {
    WriteFile(file, RandomBytes(row.size));
  }
  script += channel + row.steps + "expect QUIT\n";
  ScriptedFtpServer server(WithSize(script, row.size));
  MeddledSession session;
  session.localFile = file;
  session.meddling = row.meddling;
  session.SetListDelay(2);
  ASSERT_TRUE(LogIn(session, server.Port()));

  session.events.clear();
  const auto start = std::chrono::steady_clock::now();
  if (row.way == Way::Up) {
    Upload(session, {.localPattern = local / "f.bin", .remoteDirectory = "", .deleteAfter = true});
  } else {
    Download(session,
             {.remotePattern = "f.bin", .localDirectory = local.Path() + "/", .deleteAfter = true});
  }
  EXPECT_LT(SecondsSince(start), 10.0);
  Events events = session.events;
  const auto announced = std::find_if(events.begin(), events.end(), [](const std::string& event) {
    return event.starts_with("Uploading:") || event.starts_with("Downloading:");
  });
  if (announced != events.end()) events.erase(events.begin(), announced);
  EXPECT_EQ(events, row.events);
  EXPECT_EQ(PathExists(file), row.sourceKept);
  if (row.way == Way::Up && row.sourceKept && row.meddling == Meddling::None) {
    EXPECT_EQ(ReadFile(file), RandomBytes(row.size));
  }
  session.Quit();
  const std::string outcome = server.Outcome();
  EXPECT_TRUE(outcome.ends_with("DONE\n")) << outcome;
}

INSTANTIATE_TEST_SUITE_P(Rows, HostileServer, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<HostileCase>& row) {
                           std::string name;
                           for (const char c : std::string(row.param.what)) {
                             if (std::isalnum(static_cast<unsigned char>(c)) != 0) name += c;
                           }
                           return name;
                         });

}  // namespace

}  // namespace quorbit
