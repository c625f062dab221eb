// Downloads and uploads against scripted servers: each case states what the
// server sends and which commands the client must answer with; the events
// and the local files show what the client made of it.
#include "ftp/ftptransfer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ftp_test_support.h"

namespace quorbit {

namespace {

using Clock = std::chrono::steady_clock;
using Events = std::vector<std::string>;
using Names = std::vector<std::string>;

std::string FileLine(const std::string& name, std::int64_t size) {
  return "-rw-r--r--    1 ftp ftp " + std::to_string(size) + " Jan  5 12:00 " + name;
}

// The server's half of a listing of the current directory.
std::string ListingSteps(const std::vector<std::string>& lines) {
  std::string steps = kListRequest + "send 150 Here comes the listing\\r\\n\n";
  for (const std::string& line : lines) steps += "data send " + line + "\\r\\n\n";
  return steps + "data close\nsend 226 Directory send OK\\r\\n\n";
}

// The first switch to binary type and a passive data channel for a file, and
// the channel for each further file.
const std::string kFirstChannel =
    "expect TYPE I\nsend 200 Switching to Binary mode\\r\\n\nexpect PASV\npasv\n";
const std::string kNextChannel = "expect PASV\npasv\n";

// The server's half of a download on an open data channel: the whole data,
// then the reply.
std::string RetrSteps(const std::string& name, const std::string& data) {
  return "expect RETR " + name + "\nsend 150 ok\\r\\n\ndata send " + data +
         "\ndata close\nsend 226 Transfer complete\\r\\n\n";
}

// The server's half of an upload on an open data channel: the bytes it must
// receive up to their end, its own end of the data connection, then the
// reply.
std::string StorSteps(const std::string& name, const std::string& bytes,
                      const std::string& reply = "226 Transfer complete.") {
  std::string steps = "expect STOR " + name + "\nsend 150 Ok to send data.\\r\\n\n";
  if (!bytes.empty()) steps += "data expect_bytes " + bytes + "\n";
  return steps + "data expect_close\ndata close\nsend " + reply + "\\r\\n\n";
}

class FtpTransferTest : public ScriptedFtpTest {
 protected:
  void SetUp() override { session.SetListDelay(2); }
  std::string LocalDir() const { return local.Path() + "/"; }

  TempDir local;
};

// --- Download ------------------------------------------------------------------

TEST_F(FtpTransferTest, RetrAnsweredWith226AtOnceEndsWithTheListedSizeThenDeletes) {
  Start(ListingSteps({FileLine("a.txt", 10)}) + kFirstChannel + R"(expect RETR a.txt
send 226 Transfer complete\r\n
data send 0123456789
expect DELE a.txt
send 250 Deleted\r\n
)");
  Download(session, {.remotePattern = "a.txt", .localDirectory = LocalDir(), .deleteAfter = true});
  EXPECT_EQ(session.events,
            (Events{"PreparingDownload", "ReadingListing", "OpeningDataChannel:1",
                    "DataChannelOpen", "Downloading:a.txt", "Complete:a.txt", "Deleting:a.txt"}));
  EXPECT_EQ(ReadFile(local / "a.txt"), "0123456789");
  EXPECT_EQ(DirectoryNames(local.Path()), (Names{"a.txt"}));
  EXPECT_EQ(Finish(), "DONE\n");
}

TEST_F(FtpTransferTest, UnconfirmedOrMissizedTransfersFailKeepTheOldCopyAndDeleteNothing) {
  // a.txt: the data stops halfway and 426 follows. b.txt: the data stops
  // halfway but the server claims success. c.txt: all data arrives but the
  // server reports an error. d.txt: more data than listed. e.txt: listed
  // above 4 GiB, and only its size modulo 4 GiB arrives. None may be sent
  // DELE. The pattern "/*.txt" stays in the current directory without a CWD.
  const Names names = {"a.txt", "b.txt", "c.txt", "d.txt", "e.txt"};
  for (const std::string& name : names) WriteFile(local / name, "old copy");
  Start(ListingSteps({FileLine("a.txt", 10), FileLine("b.txt", 10), FileLine("c.txt", 10),
                      FileLine("d.txt", 4), FileLine("e.txt", (std::int64_t{1} << 32) + 10)}) +
        kFirstChannel + R"(expect RETR a.txt
send 150 ok\r\n
data send 01234
data close
pause 0.2
send 426 Connection closed; transfer aborted.\r\n
)" + kNextChannel +
        RetrSteps("b.txt", "01234") + kNextChannel + R"(expect RETR c.txt
send 150 ok\r\n
data send 0123456789
data close
pause 0.2
send 451 Local error in processing\r\n
)" + kNextChannel +
        RetrSteps("d.txt", "0123456789") + kNextChannel + RetrSteps("e.txt", "0123456789"));
  const auto start = Clock::now();
  Download(session, {.remotePattern = "/*.txt", .localDirectory = LocalDir(), .deleteAfter = true});
  EXPECT_LT(SecondsSince(start), 5.0);
  Events expected = {"PreparingDownload", "ReadingListing"};
  for (const std::string& name : names) {
    expected.insert(expected.end(), {"OpeningDataChannel:1", "DataChannelOpen",
                                     "Downloading:" + name, "DownloadFailed:" + name});
  }
  EXPECT_EQ(session.events, expected);
  for (const std::string& name : names) EXPECT_EQ(ReadFile(local / name), "old copy") << name;
  EXPECT_EQ(DirectoryNames(local.Path()), names);
  EXPECT_EQ(Finish(), "DONE\n");
}

TEST_F(FtpTransferTest, WindowsStyleListingDownloadsTheMatchingFilesWithTheirSizes) {
  // An IIS listing: directories are never fetched, names keep their blanks,
  // the mask picks by name, and each file is read to its listed size.
  Start(ListingSteps({"12-08-26  06:31PM       <DIR>          reports.txt",
                      "12-08-26  06:31PM                10 notes.txt",
                      "12-09-26  09:05AM                 4 q 1.txt",
                      "01-15-27  11:59PM              1234 data.bin"}) +
        kFirstChannel + RetrSteps("notes.txt", "0123456789") + kNextChannel +
        RetrSteps("q 1.txt", "four"));
  Download(session, {.remotePattern = "*.txt", .localDirectory = LocalDir()});
  EXPECT_EQ(session.events, (Events{"PreparingDownload", "ReadingListing", "OpeningDataChannel:1",
                                    "DataChannelOpen", "Downloading:notes.txt",
                                    "Complete:notes.txt", "OpeningDataChannel:1", "DataChannelOpen",
                                    "Downloading:q 1.txt", "Complete:q 1.txt"}));
  EXPECT_EQ(DirectoryNames(local.Path()), (Names{"notes.txt", "q 1.txt"}));
  EXPECT_EQ(ReadFile(local / "notes.txt"), "0123456789");
  EXPECT_EQ(ReadFile(local / "q 1.txt"), "four");
  EXPECT_EQ(Finish(), "DONE\n");
}

TEST_F(FtpTransferTest, AwkwardNamesAndLinksDownloadUnderTheirOwnNames) {
  // vsftpd's listing: names with blanks (one leading) and two links, whose
  // listed sizes are their targets' path lengths. SIZE measures the first
  // link; the second one's SIZE is refused, and what the data channel brings
  // before the server closes it is the file.
  Start(ListingSteps({
            "-rw-r--r--    1 1000     1000           10 Dec 08 18:31 notes for the team.txt",
            "-rw-r--r--    1 1000     1000            4 Dec 08 18:31   lead.txt",
            "lrwxrwxrwx    1 1000     1000            9 Dec 08 18:31 current -> plain.txt",
            "lrwxrwxrwx    1 1000     1000           22 Dec 08 18:31 old -> notes for the team.txt",
        }) +
        kFirstChannel + RetrSteps("notes for the team.txt", "0123456789") + kNextChannel +
        RetrSteps("  lead.txt", "lead") + "expect SIZE current\nsend 213 5\\r\\n\n" + kNextChannel +
        RetrSteps("current", "plain") +
        "expect SIZE old\nsend 550 Could not get file size.\\r\\n\n" + kNextChannel +
        RetrSteps("old", "0123456789"));
  Download(session, {.remotePattern = "*", .localDirectory = LocalDir()});
  Events expected = {"PreparingDownload", "ReadingListing"};
  for (const std::string name : {"notes for the team.txt", "  lead.txt", "current", "old"}) {
    expected.insert(expected.end(), {"OpeningDataChannel:1", "DataChannelOpen",
                                     "Downloading:" + name, "Complete:" + name});
  }
  EXPECT_EQ(session.events, expected);
  EXPECT_EQ(DirectoryNames(local.Path()),
            (Names{"  lead.txt", "current", "notes for the team.txt", "old"}));
  EXPECT_EQ(ReadFile(local / "  lead.txt"), "lead");
  EXPECT_EQ(ReadFile(local / "current"), "plain");
  EXPECT_EQ(ReadFile(local / "old"), "0123456789");
  EXPECT_EQ(Finish(), "DONE\n");
}

TEST_F(FtpTransferTest, MissingLocalDirectoryIsCreatedOrReportedOnce) {
  WriteFile(local / "notadir", "a file, not a directory");
  Start(ListingSteps({FileLine("a.txt", 2)}) + kFirstChannel + RetrSteps("a.txt", "ok"));
  Download(session, {.remotePattern = "a.txt", .localDirectory = local / "notadir/sub/"});
  Download(session, {.remotePattern = "a.txt", .localDirectory = local / "new/deeper/"});
  EXPECT_EQ(session.events,
            (Events{"PreparingDownload",
                    "NoLocalDirectory:" + (local / "notadir/sub/") + ": Not a directory",
                    "PreparingDownload", "ReadingListing", "OpeningDataChannel:1",
                    "DataChannelOpen", "Downloading:a.txt", "Complete:a.txt"}));
  EXPECT_EQ(ReadFile(local / "new/deeper/a.txt"), "ok");
  EXPECT_EQ(Finish(), "DONE\n");
}

TEST_F(FtpTransferTest, StopDuringADownloadCommitsNothingAndStartsNoFurtherFile) {
  StopRequestCleared cleared;
  WriteFile(local / "a.txt", "old copy");
  Start(ListingSteps({FileLine("a.txt", 10), FileLine("b.txt", 10)}) + kFirstChannel +
        RetrSteps("a.txt", "0123456789"));
  session.stopAt = "Downloading:a.txt";
  Download(session, {.remotePattern = "*.txt", .localDirectory = LocalDir(), .deleteAfter = true});
  ClearStopRequest();
  EXPECT_EQ(session.events,
            (Events{"PreparingDownload", "ReadingListing", "OpeningDataChannel:1",
                    "DataChannelOpen", "Downloading:a.txt", "DownloadFailed:a.txt"}));
  EXPECT_EQ(ReadFile(local / "a.txt"), "old copy");
  EXPECT_EQ(DirectoryNames(local.Path()), (Names{"a.txt"}));
  EXPECT_EQ(Finish(), "DONE\n");
}

TEST_F(FtpTransferTest, NamesThatWouldLeaveTheLocalDirectoryAreNeverWritten) {
  std::filesystem::create_directory(local / "in");
  Start(ListingSteps({FileLine("../x", 5), FileLine("..\\\\y", 5), FileLine("ok.txt", 2)}) +
        kFirstChannel + RetrSteps("ok.txt", "ok"));
  Download(session, {.remotePattern = "*", .localDirectory = local / "in/"});
  EXPECT_EQ(session.events, (Events{"PreparingDownload", "ReadingListing", "DownloadFailed:../x",
                                    "DownloadFailed:..\\y", "OpeningDataChannel:1",
                                    "DataChannelOpen", "Downloading:ok.txt", "Complete:ok.txt"}));
  EXPECT_EQ(DirectoryNames(local.Path()), (Names{"in"}));
  EXPECT_EQ(DirectoryNames(local / "in"), (Names{"ok.txt"}));
  EXPECT_EQ(Finish(), "DONE\n");
}

TEST_F(FtpTransferTest, EmptyRefusedUnchangedAndChangedFiles) {
  WriteFile(local / "same.txt", "1234");  // same size as on the server: skipped
  WriteFile(local / "grown.txt", "12345");
  Start(ListingSteps({FileLine("empty.txt", 0), FileLine("gone.txt", 5), FileLine("same.txt", 4),
                      FileLine("grown.txt", 6)}) +
        kFirstChannel + "expect RETR gone.txt\nsend 550 Failed to open file.\\r\\n\n" +
        kNextChannel + RetrSteps("grown.txt", "654321"));
  Download(session, {.remotePattern = "*.txt", .localDirectory = LocalDir(), .onlyChanged = true});
  EXPECT_EQ(session.events,
            (Events{"PreparingDownload", "ReadingListing", "ZeroBytesSkipped:empty.txt",
                    "OpeningDataChannel:1", "DataChannelOpen", "DownloadRefused:gone.txt",
                    "DownloadFailed:gone.txt", "Unchanged:same.txt", "OpeningDataChannel:1",
                    "DataChannelOpen", "Downloading:grown.txt", "Complete:grown.txt"}));
  EXPECT_EQ(ReadFile(local / "same.txt"), "1234");
  EXPECT_EQ(ReadFile(local / "grown.txt"), "654321");
  EXPECT_EQ(Finish(), "DONE\n");
}

TEST_F(FtpTransferTest, LocalFileThatCannotBeCreatedFailsAndTheReplyIsConsumed) {
  std::filesystem::create_directory(local / "a.txt");
  Start(ListingSteps({FileLine("a.txt", 5)}) + kFirstChannel + R"(expect RETR a.txt
send 150 ok\r\n
data expect_close
send 426 Connection closed; transfer aborted.\r\n
expect PWD
send 257 "/" is the current directory\r\n
)");
  Download(session, {.remotePattern = "a.txt", .localDirectory = LocalDir()});
  EXPECT_EQ(session.events, (Events{"PreparingDownload", "ReadingListing", "OpeningDataChannel:1",
                                    "DataChannelOpen", "Downloading:a.txt", "LocalFileNotCreated",
                                    "DownloadFailed:a.txt"}));
  EXPECT_EQ(session.WorkingDir(), "/");  // the 426 did not answer PWD
  EXPECT_EQ(Finish(), "DONE\n");
}

TEST_F(FtpTransferTest, WriteErrorFailsTheFileAndKeepsTheOldCopy) {
  TempDir served;
  WriteFile(served / "big.bin", std::string(65536, 'n'));
  WriteFile(local / "big.bin", "previous copy");
  Start(ListingSteps({FileLine("big.bin", 65536)}) + kFirstChannel +
        "expect RETR big.bin\nsend 150 ok\\r\\n\ndata send_file " + (served / "big.bin") + R"(
data expect_close
send 426 Connection closed; transfer aborted.\r\n
)");
  {
    FileSizeLimit limit(16384);
    Download(session,
             {.remotePattern = "big.bin", .localDirectory = LocalDir(), .deleteAfter = true});
  }
  EXPECT_EQ(session.events,
            (Events{"PreparingDownload", "ReadingListing", "OpeningDataChannel:1",
                    "DataChannelOpen", "Downloading:big.bin", "DownloadFailed:big.bin"}));
  EXPECT_EQ(ReadFile(local / "big.bin"), "previous copy");
  EXPECT_EQ(DirectoryNames(local.Path()), (Names{"big.bin"}));
  EXPECT_EQ(Finish(), "DONE\n");
}

// --- Upload ----------------------------------------------------------------------

TEST_F(FtpTransferTest, RefusedStorIsFinalAndTheNextFileGoesAtOnce) {
  WriteFile(local / "a.txt", "aaaa");
  WriteFile(local / "b.txt", "bbbbb");
  WriteFile(local / "c.txt", "");
  WriteFile(local / "d.dat", "not selected");
  Start(kFirstChannel + "expect STOR a.txt\nsend 553 Could not create file.\\r\\n\n" +
        kNextChannel + StorSteps("b.txt", "bbbbb") + kNextChannel + StorSteps("c.txt", ""));
  const auto start = Clock::now();
  Upload(session, {.localPattern = local / "*.TXT", .remoteDirectory = ""});
  EXPECT_LT(SecondsSince(start), 5.0);
  EXPECT_EQ(session.events,
            (Events{"PreparingUpload", "OpeningDataChannel:1", "DataChannelOpen",
                    "UploadRefused:a.txt", "UploadFailed:a.txt", "OpeningDataChannel:1",
                    "DataChannelOpen", "Uploading:b.txt", "Complete:b.txt", "OpeningDataChannel:1",
                    "DataChannelOpen", "Uploading:c.txt", "Complete:c.txt"}));
  EXPECT_EQ(Finish(), "DONE\n");
}

TEST_F(FtpTransferTest, DeleteAfterUploadOnlyWhenTheServerConfirmed) {
  WriteFile(local / "a.txt", "aaaa");
  WriteFile(local / "b.txt", "bbbbb");
  Start("expect CWD /in\nsend 250 Directory successfully changed.\\r\\n\n" + kFirstChannel +
        StorSteps("a.txt", "aaaa", "451 Local error in processing.") + kNextChannel +
        StorSteps("b.txt", "bbbbb") + "expect SIZE b.txt\nsend 213 5\\r\\n\n");
  Upload(session,
         {.localPattern = local / "*.txt", .remoteDirectory = "/in/", .deleteAfter = true});
  EXPECT_EQ(session.events,
            (Events{"PreparingUpload", "OpeningDataChannel:1", "DataChannelOpen", "Uploading:a.txt",
                    "UploadFailed:a.txt", "OpeningDataChannel:1", "DataChannelOpen",
                    "Uploading:b.txt", "Complete:b.txt", "Deleting:b.txt"}));
  EXPECT_EQ(DirectoryNames(local.Path()), (Names{"a.txt"}));
  EXPECT_EQ(Finish(), "DONE\n");
}

TEST_F(FtpTransferTest, UploadAbortedMidFileFailsAndTheNextFileFollows) {
  WriteFile(local / "big.bin", std::string(8 << 20, 'A'));
  WriteFile(local / "small.txt", "s");
  // "data accept" takes the new data connection explicitly, so that bytes
  // left unread from the first one are not taken for its data.
  Start(kFirstChannel + R"(expect STOR big.bin
send 150 Ok to send data.\r\n
data expect_bytes AAAAAAAAAA
send 426 Failure writing network stream.\r\n
pause 0.2
data close
)" + kNextChannel +
        R"(expect STOR small.txt
send 150 Ok to send data.\r\n
data accept
data expect_bytes s
data expect_close
data close
send 226 Transfer complete.\r\n
expect SIZE small.txt
send 213 1\r\n
)");
  const auto start = Clock::now();
  Upload(session, {.localPattern = local / "*.*", .remoteDirectory = "", .deleteAfter = true});
  EXPECT_LT(SecondsSince(start), 10.0);
  EXPECT_EQ(
      session.events,
      (Events{"PreparingUpload", "OpeningDataChannel:1", "DataChannelOpen", "Uploading:big.bin",
              "UploadFailed:big.bin", "OpeningDataChannel:1", "DataChannelOpen",
              "Uploading:small.txt", "Complete:small.txt", "Deleting:small.txt"}));
  EXPECT_EQ(DirectoryNames(local.Path()), (Names{"big.bin"}));
  EXPECT_EQ(Finish(), "DONE\n");
}

TEST_F(FtpTransferTest, OnlyChangedUploadsComparesWithOneListing) {
  WriteFile(local / "a.txt", "same");   // 4 bytes on both sides: skipped
  WriteFile(local / "b.txt", "bbbbb");  // the server's B.TXT has 3
  WriteFile(local / "c.txt", "c");      // not on the server
  Start(ListingSteps({FileLine("a.txt", 4), FileLine("B.TXT", 3)}) + kFirstChannel +
        StorSteps("b.txt", "bbbbb") + kNextChannel + StorSteps("c.txt", "c"));
  Upload(session, {.localPattern = local / "*.txt", .remoteDirectory = "", .onlyChanged = true});
  // The upload of b.txt is announced with the server's entry.
  EXPECT_EQ(session.events,
            (Events{"PreparingUpload", "Unchanged:a.txt", "OpeningDataChannel:1", "DataChannelOpen",
                    "Uploading:B.TXT", "Complete:B.TXT", "OpeningDataChannel:1", "DataChannelOpen",
                    "Uploading:c.txt", "Complete:c.txt"}));
  EXPECT_EQ(Finish(), "DONE\n");
}

// --- Helpers ---------------------------------------------------------------------

TEST(FtpTransferHelpers, PercentRoundsHalvesToEvenAndStopsAt100) {
  EXPECT_EQ(ProgressPercent(1, 8), 12);   // 12.5
  EXPECT_EQ(ProgressPercent(3, 8), 38);   // 37.5
  EXPECT_EQ(ProgressPercent(1, 200), 0);  // 0.5
  EXPECT_EQ(ProgressPercent(3, 200), 2);  // 1.5
  EXPECT_EQ(ProgressPercent(2, 3), 67);
  EXPECT_EQ(ProgressPercent(12, 10), 100);
  EXPECT_EQ(ProgressPercent(5, 0), 100);
  EXPECT_EQ(ProgressPercent(std::int64_t{3} << 30, std::int64_t{4} << 30), 75);
}

TEST(FtpTransferHelpers, UnchangedMeansSameNonZeroSize) {
  TempDir dir;
  WriteFile(dir / "f", "12345");
  EXPECT_TRUE(IsUnchanged(5, dir / "f"));
  EXPECT_FALSE(IsUnchanged(6, dir / "f"));
  EXPECT_FALSE(IsUnchanged(4, dir / "f"));
  EXPECT_FALSE(IsUnchanged(5, dir / "missing"));
  WriteFile(dir / "empty", "");
  EXPECT_FALSE(IsUnchanged(0, dir / "empty"));
  // A sparse file above 4 GiB: its size modulo 4 GiB is another size.
  WriteFile(dir / "huge", "");
  std::filesystem::resize_file(dir / "huge", 4831838208);
  EXPECT_TRUE(IsUnchanged(4831838208, dir / "huge"));
  EXPECT_FALSE(IsUnchanged(4831838208 - (std::int64_t{1} << 32), dir / "huge"));
  EXPECT_FALSE(IsUnchanged(0, dir / "missing"));
}

TEST(FtpTransferHelpers, SafeLocalNames) {
  EXPECT_TRUE(IsSafeLocalName("..."));
  for (std::string_view name : {"", ".", "a/b", "a\rb"}) {
    EXPECT_FALSE(IsSafeLocalName(name)) << name;
  }
  EXPECT_FALSE(IsSafeLocalName(std::string_view("a\0b", 3)));
}

}  // namespace

}  // namespace quorbit
