// The FTP assignment: splitting transfer lines, the screen and log lines of a
// whole assignment, and whole runs of the program against a real FTP server
// (pyftpdlib on a loopback port): uploads, downloads, only-changed files,
// deleting sources, synchronising, and the outcome value.
#include "ftp/ftptask.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ftp_test_support.h"
#include "peers/report_capture.h"
#include "report/transfercounts.h"

namespace quorbit {

namespace {

using Lines = std::vector<std::string>;

// --- Transfer lines ----------------------------------------------------------------

TEST(TransferLineSplit, FieldsDirectionAndOptions) {
  TransferLine line = SplitTransferLine("out\\*.txt, /incoming , up");
  EXPECT_EQ(line.source, "out\\*.txt");
  EXPECT_EQ(line.destination, "/incoming");
  EXPECT_EQ(line.direction, "UP");
  EXPECT_EQ(line.options, "");
  EXPECT_FALSE(line.onlyChanged);
  EXPECT_FALSE(line.deleteAfter);

  line = SplitTransferLine("/pub/*.*,in,Down,ifmod,delete");  // the comma ends the options
  EXPECT_EQ(line.direction, "DOWN");
  EXPECT_TRUE(line.onlyChanged);
  EXPECT_FALSE(line.deleteAfter);

  for (const char* text :
       {"a,b,UP,Delete+IfMod", "a,b,UP,ifmod delete,more", "a,b,UP,xDELETEIFMODx"}) {
    line = SplitTransferLine(text);
    EXPECT_TRUE(line.onlyChanged) << text;
    EXPECT_TRUE(line.deleteAfter) << text;
  }

  line = SplitTransferLine("only-a-source");
  EXPECT_EQ(line.source, "only-a-source");
  EXPECT_EQ(line.destination, "");
  EXPECT_EQ(line.direction, "");
}

// --- A real server -----------------------------------------------------------------

class FtpServerFixture : public RealFtpServerTest {
 protected:
  void MakeDirs(const TempDir& root, std::initializer_list<const char*> dirs) {
    for (const char* dir : dirs) std::filesystem::create_directories(root / dir);
  }

  TempDir work;  // the program's current directory
};

// The memo and run-log lines of one assignment, with the transfer times
// (00:00 or 00:01, depending on the clock) made equal.
Lines WithoutTimes(Lines lines) {
  for (std::string& line : lines) {
    if (line.rfind("Transfer time 00:0", 0) == 0) line = "Transfer time 00:0x";
  }
  return lines;
}

FtpTask MakeTask(int port, const Lines& transfers) {
  FtpTask task{};
  task.NAME = "Nightly";
  task.URI = "127.0.0.1";
  task.USER = "alice";
  task.PASSWORD = "s3cret";
  task.PORT = static_cast<std::uint16_t>(port);
  task.RETRY = 1;
  task.RETRY_DELAY = 1;
  task.LIST_DELAY = 1;
  for (std::size_t i = 0; i < transfers.size(); ++i) task.TRANSFER[i] = transfers[i];
  return task;
}

TEST_F(FtpServerFixture, ScreenAndLogLinesOfAWholeAssignment) {
  MakeDirs(home, {"pub", "in"});
  MakeDirs(work, {"out", "back"});
  WriteFile(home / "pub/r.txt", "remote!");
  WriteFile(work / "out/a.txt", "local");
  const std::string out = work / "out/";
  const FtpTask task =
      MakeTask(port, {out + "*.txt, /in, UP", "/pub/*.*, " + (work / "back") + ", DOWN",
                      "/missing/*.*, back, DOWN", out + "*.zip, /in, UP", "a, b, SIDEWAYS", "",
                      "never, reached, UP"});
  ClearTransferCounts();
  ReportCapture capture;
  RunFtpTask(task, RunContext{});

  EXPECT_EQ(WithoutTimes(capture.Memo()),
            (Lines{"Establishing connection",
                   "Connection established",
                   "Sending user name",
                   "Sending password",
                   "Login successful",
                   "Preparing to upload",
                   "Establishing data channel",
                   "Data channel open",
                   "Uploading a.txt 5 bytes ",
                   "Transfer time 00:0x",
                   "Preparing to download",
                   "Retrieving file information",
                   "Establishing data channel",
                   "Data channel open",
                   "Downloading r.txt 7 bytes ",
                   "Transfer time 00:0x",
                   "Preparing to download",
                   "Unable to change working directory",
                   "Preparing to upload",
                   "Unable to find file",
                   "Skipping transfer line 5: unknown direction SIDEWAYS"}));
  EXPECT_EQ(
      WithoutTimes(capture.LogLines()),
      (Lines{"Processing task Nightly", "Establishing connection",
             "Connection established with 127.0.0.1", "Attempting to upload " + out + "*.txt",
             "Establishing data channel", "Data channel open", "Uploading a.txt 5 bytes ",
             "Transfer time 00:0x", "Attempting to download /pub/*.*", "Establishing data channel",
             "Data channel open", "Downloading r.txt 7 bytes ", "Transfer time 00:0x",
             "Attempting to download /missing/*.*", "Unable to change working directory",
             "Server reported: 257 \"/\" is the current directory.",
             "Attempting to upload " + out + "*.zip", "Unable to find file(s) to transfer",
             "Skipping transfer line 5: unknown direction SIDEWAYS"}));
  Lines statusLines;
  for (const std::string& call : capture.Display()) {
    if (call.rfind("line", 0) == 0) statusLines.push_back(call);
  }
  EXPECT_EQ(
      statusLines,
      (Lines{"line1: Processing task Nightly",
             "line2: ", "line3: ", "line2: Attempting to upload " + out + "*.txt",
             "line2: Attempting to download /pub/*.*", "line2: Attempting to download /missing/*.*",
             "line2: Attempting to upload " + out + "*.zip"}));
  EXPECT_EQ(ReadFile(home / "in/a.txt"), "local");
  EXPECT_EQ(ReadFile(work / "back/r.txt"), "remote!");
  EXPECT_EQ(TransferCounts.FtpUploaded, 1);
  EXPECT_EQ(TransferCounts.FtpDownloaded, 1);
  ClearTransferCounts();
}

// PWD refused: the login directory cannot be found again, so after the first
// line only lines that name their remote directory from the root run.
TEST(FtpTaskScripted, RelativeLinesFailWhenTheLoginDirectoryIsUnknown) {
  TempDir local;
  const std::string entry = "-rw-r--r--    1 ftp ftp 2 Jan  5 12:00 f.txt";
  ScriptedFtpServer server(kLoginScript + R"(expect PWD
send 550 Permission denied.\r\n
expect CWD /pub
send 250 Directory successfully changed.\r\n
)" + kListRequest + "send 150 Here comes the listing\\r\\n\ndata send " +
                           entry +
                           R"(\r\n
data close
send 226 Directory send OK\r\n
expect TYPE I
send 200 Switching to Binary mode\r\n
expect PASV
pasv
expect RETR f.txt
send 150 ok\r\n
data send ok
data close
send 226 Transfer complete\r\n
expect QUIT
send 221 Goodbye\r\n
)");
  const std::string none = local / "none/*.txt";
  const std::string back = local / "back";
  FtpTask task = MakeTask(server.Port(), {none + ", , UP", "/pub/f.txt, " + back + ", DOWN",
                                          "f.txt, " + back + ", DOWN", "x, sub/, UP"});
  task.LIST_DELAY = 2;
  ClearTransferCounts();
  ReportCapture capture;
  RunFtpTask(task, RunContext{});

  EXPECT_EQ(
      WithoutTimes(capture.LogLines()),
      (Lines{"Processing task Nightly", "Establishing connection",
             "Connection established with 127.0.0.1", "Attempting to upload " + none,
             "Unable to find file(s) to transfer", "Attempting to download /pub/f.txt",
             "Establishing data channel", "Data channel open", "Downloading f.txt 2 bytes ",
             "Transfer time 00:0x", "Skipping transfer line 3: the login directory is not known",
             "Skipping transfer line 4: the login directory is not known"}));
  EXPECT_EQ(DirectoryNames(back), (Lines{"f.txt"}));
  EXPECT_EQ(ExitStatus(), 5);
  ClearTransferCounts();
  EXPECT_EQ(server.Outcome(), "DONE\n");
}

// --- The program -------------------------------------------------------------------

class FtpProgramTest : public FtpServerFixture {
 protected:
  // Writes run.ini with one [FTP] assignment and runs the program on it with
  // the outcome as exit code.
  ProgramRun Run(const Lines& transfers, const std::string& password = "s3cret") {
    std::string ini = "[MAIN]\r\nLOG=run.log\r\n[END]\r\n[FTP]\r\nNAME=Test\r\nURI=127.0.0.1\r\n";
    ini += "PORT=" + std::to_string(port) + "\r\nUSER=alice\r\nPASSWORD=" + password + "\r\n";
    ini += "RETRY=1\r\nRETRY_DELAY=1\r\nLIST_DELAY=1\r\n";
    for (const std::string& transfer : transfers) ini += "TRANSFER=" + transfer + "\r\n";
    ini += "[END]\r\n";
    WriteFile(work / "run.ini", ini);
    return RunProgram(
        {"/usr/bin/env", "-u", "DISPLAY", QUORBIT_PROGRAM, "--console", "--exit-status", "run.ini"},
        work.Path(), 180);
  }
  std::string Log() { return ReadFile(work / "run.log"); }
  bool LogHas(const std::string& text) { return Log().find(text) != std::string::npos; }
};

TEST_F(FtpProgramTest, UpAndDownByMaskAreByteIdentical) {
  MakeDirs(home, {"incoming"});
  MakeDirs(work, {"out", "back"});
  const std::string big = RandomBytes(50 << 20);
  WriteFile(work / "out/big.bin", big);
  WriteFile(work / "out/a.txt", "first file\r\n");
  WriteFile(work / "out/B.TXT", RandomBytes(10000));
  WriteFile(work / "out/notes.md", "not selected");
  WriteFile(work / "out/long name.txt", "a long name matches locally");

  // A backslash in the local side reads as a separator.
  const ProgramRun run =
      Run({"out\\*.txt, /incoming, UP", "out/*.bin, /incoming/, UP", "/incoming/*.*, back, DOWN"});
  EXPECT_EQ(run.exitCode, 3) << Log();
  EXPECT_EQ(DirectoryNames(home / "incoming"),
            (Lines{"B.TXT", "a.txt", "big.bin", "long name.txt"}));
  for (const char* name : {"a.txt", "B.TXT", "big.bin", "long name.txt"}) {
    EXPECT_TRUE(ReadFile(home / "incoming/" + name) == ReadFile(work / "out/" + name)) << name;
  }
  // "*.*" on the server takes every name.
  EXPECT_EQ(DirectoryNames(work / "back"), (Lines{"B.TXT", "a.txt", "big.bin", "long name.txt"}));
  for (const char* name : {"a.txt", "B.TXT", "big.bin", "long name.txt"}) {
    EXPECT_TRUE(ReadFile(work / "back/" + name) == ReadFile(work / "out/" + name)) << name;
  }
  EXPECT_TRUE(LogHas("Uploading big.bin 52428800 bytes ")) << Log();
  EXPECT_TRUE(LogHas("Downloading big.bin 52428800 bytes ")) << Log();
}

TEST_F(FtpProgramTest, OnlyChangedDeleteAfterDownloadAndEveryLineFromHome) {
  MakeDirs(home, {"pub", "outbox"});
  MakeDirs(work, {"in", "in2", "in3"});
  WriteFile(home / "pub/same.txt", "SERVR");
  WriteFile(home / "pub/diff.txt", "SERVER!");
  WriteFile(home / "top.txt", "at home");
  WriteFile(home / "outbox/o1.txt", "one");
  WriteFile(home / "outbox/o2.txt", "two");
  WriteFile(work / "in/same.txt", "local");  // same size, other bytes: kept
  WriteFile(work / "in/diff.txt", "short");

  const ProgramRun run =
      Run({"/pub/*.txt, in, DOWN, ifmod", "*.txt, in2, DOWN", "/outbox/*.*, in3, DOWN, Delete"});
  EXPECT_EQ(run.exitCode, 1) << Log();
  EXPECT_EQ(ReadFile(work / "in/same.txt"), "local");
  EXPECT_EQ(ReadFile(work / "in/diff.txt"), "SERVER!");
  EXPECT_TRUE(LogHas("Skipping unmodified file same.txt")) << Log();
  // The second line lists the home directory, not /pub where the first ended.
  EXPECT_EQ(DirectoryNames(work / "in2"), (Lines{"top.txt"}));
  EXPECT_EQ(DirectoryNames(work / "in3"), (Lines{"o1.txt", "o2.txt"}));
  EXPECT_EQ(ReadFile(work / "in3/o2.txt"), "two");
  EXPECT_EQ(DirectoryNames(home / "outbox"), Lines{});
  EXPECT_TRUE(LogHas("Deleting file o1.txt")) << Log();
}

TEST_F(FtpProgramTest, UploadWithDeleteRemovesTheSourcesOnceStored) {
  MakeDirs(home, {"drop"});
  MakeDirs(work, {"out"});
  WriteFile(work / "out/a.txt", "aaa");
  WriteFile(work / "out/b.txt", "");
  WriteFile(work / "out/keep.dat", "not selected");
  const ProgramRun run = Run({"out/*.txt, drop, UP, IFMOD DELETE"});
  EXPECT_EQ(run.exitCode, 2) << Log();
  EXPECT_EQ(DirectoryNames(work / "out"), (Lines{"keep.dat"}));
  EXPECT_EQ(ReadFile(home / "drop/a.txt"), "aaa");
  EXPECT_EQ(ReadFile(home / "drop/b.txt"), "");
}

// No server can replace the INI file being run or the run log, and no
// upload deletes them; a link planted at a part name or at a stored name in
// the local directory is replaced, never written through. Each refusal is
// one line.
TEST_F(FtpProgramTest, TheRunsFilesAndPlantedLinksAreNeverWrittenThrough) {
  MakeDirs(home, {"trap", "drop"});
  MakeDirs(work, {"dl"});
  WriteFile(home / "trap/run.ini", "[MAIN]\r\nLOG=elsewhere.log\r\n[END]\r\n");
  WriteFile(home / "trap/run.log", "forged\n");
  WriteFile(home / "trap/a.txt", "server a");
  WriteFile(home / "trap/b.txt", "server b");
  TempDir outside;
  WriteFile(outside / "victim.txt", "victim");
  std::filesystem::create_symlink(outside / "victim.txt", work / "dl/.a.txt.quorbit-part");
  std::filesystem::create_symlink(outside / "victim.txt", work / "dl/b.txt");

  Run({"/trap/*.*, ., DOWN", "/trap/*.txt, dl, DOWN", "run.ini, drop, UP, DELETE"});
  const std::string ini = ReadFile(work / "run.ini");
  EXPECT_NE(ini.find("TRANSFER=run.ini, drop, UP, DELETE"), std::string::npos) << ini;
  EXPECT_EQ(ReadFile(home / "drop/run.ini"), ini);
  EXPECT_EQ(ReadFile(work / "a.txt"), "server a");
  EXPECT_FALSE(PathExists(work / "elsewhere.log"));
  EXPECT_EQ(Log().find("forged"), std::string::npos);
  for (const char* name : {"a.txt", "b.txt"}) {
    EXPECT_TRUE(
        std::filesystem::is_regular_file(std::filesystem::symlink_status(work / "dl/" + name)))
        << name;
  }
  EXPECT_EQ(ReadFile(work / "dl/a.txt"), "server a");
  EXPECT_EQ(ReadFile(work / "dl/b.txt"), "server b");
  EXPECT_EQ(DirectoryNames(outside.Path()), Lines{"victim.txt"});
  EXPECT_EQ(ReadFile(outside / "victim.txt"), "victim");
  const Lines log = LogFileTexts(work / "run.log");
  const auto said = [&log](const std::string& end) {
    return std::count_if(log.begin(), log.end(), [&end](const std::string& line) {
      return line.starts_with("Not overwriting ") && line.ends_with(end);
    });
  };
  EXPECT_EQ(said("run.ini: it is this run's INI file"), 2) << Log();
  EXPECT_EQ(said("run.log: it is this run's run log"), 1) << Log();
}

TEST_F(FtpProgramTest, SynchroniseTwoDirectories) {
  MakeDirs(home, {"shared"});
  MakeDirs(work, {"sync"});
  WriteFile(work / "sync/onlyloc.txt", "only here");
  WriteFile(work / "sync/both.txt", "LOCAL");
  WriteFile(work / "sync/differ.txt", "longer local copy");
  WriteFile(home / "shared/onlyrem.txt", "only there");
  WriteFile(home / "shared/both.txt", "REMOT");
  WriteFile(home / "shared/differ.txt", "short");

  const ProgramRun run = Run({"sync\\, /shared/, SYNCH"});
  EXPECT_EQ(run.exitCode, 3) << Log();
  EXPECT_EQ(ReadFile(home / "shared/onlyloc.txt"), "only here");
  EXPECT_EQ(ReadFile(work / "sync/onlyrem.txt"), "only there");
  EXPECT_EQ(ReadFile(work / "sync/both.txt"), "LOCAL");
  EXPECT_EQ(ReadFile(home / "shared/both.txt"), "REMOT");
  // Different sizes: uploaded first, and then equal, so not downloaded.
  EXPECT_EQ(ReadFile(home / "shared/differ.txt"), "longer local copy");
  EXPECT_EQ(ReadFile(work / "sync/differ.txt"), "longer local copy");
  EXPECT_EQ(DirectoryNames(work / "sync"),
            (Lines{"both.txt", "differ.txt", "onlyloc.txt", "onlyrem.txt"}));
}

TEST_F(FtpProgramTest, SynchroniseTwiceMovesNothingTheSecondTime) {
  // Long names on either side, names that differ only in letter case, a
  // sparse file above 4 GiB present on both sides with equal sizes, and a
  // link on the server, which arrives as the file it points at.
  MakeDirs(home, {"shared"});
  MakeDirs(work, {"sync"});
  WriteFile(home / "shared/RemoteLongName.data", "from the server");
  std::filesystem::create_symlink("RemoteLongName.data", home / "shared/current");
  WriteFile(home / "shared/case.txt", "R");
  WriteFile(work / "sync/LocalLongName.text", "from here");
  WriteFile(work / "sync/Case.TXT", "L");
  for (const std::string& huge : {home / "shared/huge.iso", work / "sync/huge.iso"}) {
    WriteFile(huge, "");
    std::filesystem::resize_file(huge, 4831838208);
  }
  const ProgramRun first = Run({"sync/, /shared/, SYNCH"});
  EXPECT_EQ(first.exitCode, 3) << Log();
  const Lines both = {
      "Case.TXT", "LocalLongName.text", "RemoteLongName.data", "case.txt", "current", "huge.iso"};
  EXPECT_EQ(DirectoryNames(work / "sync"), both);
  EXPECT_EQ(DirectoryNames(home / "shared"), both);
  EXPECT_EQ(ReadFile(work / "sync/RemoteLongName.data"), "from the server");
  EXPECT_EQ(ReadFile(work / "sync/current"), "from the server");
  EXPECT_EQ(ReadFile(home / "shared/LocalLongName.text"), "from here");

  std::filesystem::remove(work / "run.log");
  const ProgramRun second = Run({"sync/, /shared/, SYNCH"});
  EXPECT_EQ(second.exitCode, 0) << Log();
  EXPECT_FALSE(LogHas("Uploading")) << Log();
  EXPECT_FALSE(LogHas("Downloading")) << Log();
}

TEST_F(FtpProgramTest, NamesWithBlanksGoUpDownAndSynchroniseWhole) {
  // The server lists with MLSD, so names keep every blank.
  MakeDirs(home, {"in", "pub", "shared"});
  MakeDirs(work, {"out", "back", "sync"});
  WriteFile(work / "out/my file.txt", "up with a blank");
  WriteFile(home / "pub/a  b.txt", "down with two blanks");
  WriteFile(work / "sync/local copy.txt", "only here");
  WriteFile(home / "shared/remote copy.txt", "only there");
  WriteFile(work / "sync/both sides.txt", "LOCAL");
  WriteFile(home / "shared/both sides.txt", "REMOTE!");
  const Lines lines = {"out/*.txt, /in, UP", "/pub/*.txt, back, DOWN, IFMOD",
                       "sync/, /shared/, SYNCH"};
  const ProgramRun first = Run(lines);
  EXPECT_EQ(first.exitCode, 3) << Log();
  EXPECT_EQ(ReadFile(home / "in/my file.txt"), "up with a blank");
  EXPECT_EQ(ReadFile(work / "back/a  b.txt"), "down with two blanks");
  const Lines both = {"both sides.txt", "local copy.txt", "remote copy.txt"};
  EXPECT_EQ(DirectoryNames(work / "sync"), both);
  EXPECT_EQ(DirectoryNames(home / "shared"), both);
  EXPECT_EQ(ReadFile(home / "shared/both sides.txt"), "LOCAL");
  EXPECT_EQ(ReadFile(work / "sync/remote copy.txt"), "only there");

  // Sizes from the listing: the download is unchanged, and nothing is left
  // to synchronise.
  std::filesystem::remove(work / "run.log");
  const ProgramRun second = Run({lines[1], lines[2]});
  EXPECT_EQ(second.exitCode, 0) << Log();
  EXPECT_TRUE(LogHas("Skipping unmodified file a  b.txt")) << Log();
  EXPECT_FALSE(LogHas("Uploading")) << Log();
  EXPECT_FALSE(LogHas("Downloading")) << Log();
}

TEST_F(FtpProgramTest, LocalDirectoryThatCannotBeMadeIsReportedOnce) {
  WriteFile(work / "blocker", "a file where a directory should be");
  WriteFile(home / "r.txt", "remote");
  const ProgramRun run = Run({"/*.*, blocker/in, DOWN", "blocker/in/, /, SYNCH"});
  EXPECT_EQ(run.exitCode, 4) << Log();
  const std::string line = "Unable to create directory blocker/in/: Not a directory";
  const std::string log = Log();
  const std::size_t first = log.find(line);
  ASSERT_NE(first, std::string::npos) << log;
  EXPECT_NE(log.find(line, first + 1), std::string::npos) << log;  // one for each line
  EXPECT_FALSE(LogHas("Download failed")) << log;
}

TEST_F(FtpProgramTest, UnknownDirectionsAndCutLinesAreSkippedWithALine) {
  WriteFile(home / "r.txt", "remote");
  // Cut at 255 characters, the line would run without its DELETE.
  const std::string cut = "/*.*, cut, DOWN, " + std::string(250, ' ') + "DELETE";
  const ProgramRun run = Run({"/*.*, dwon, DWON", cut, "/*.*, back, DOWN"});
  EXPECT_EQ(run.exitCode, 5) << Log();
  EXPECT_TRUE(LogHas("Skipping transfer line 1: unknown direction DWON")) << Log();
  EXPECT_TRUE(LogHas("Skipping transfer line 2: the line is longer than 255 characters")) << Log();
  EXPECT_EQ(DirectoryNames(work.Path()), (Lines{"back", "run.ini", "run.log"}));
  EXPECT_EQ(ReadFile(work / "back/r.txt"), "remote");
  EXPECT_TRUE(PathExists(home / "r.txt"));
}

TEST_F(FtpProgramTest, LoginFailureSkipsTheLines) {
  MakeDirs(work, {"out"});
  WriteFile(work / "out/a.txt", "aaa");
  const ProgramRun run = Run({"out/*.txt, /, UP"}, "wrong");
  EXPECT_EQ(run.exitCode, 4) << Log();
  EXPECT_TRUE(LogHas("Password error")) << Log();
  EXPECT_TRUE(LogHas("Server reported: 530 ")) << Log();
  EXPECT_FALSE(LogHas("Attempting to upload")) << Log();
  EXPECT_FALSE(PathExists(home / "a.txt"));
}

}  // namespace

TEST(FtpTaskScripted, ALoginThatComesThroughOnALaterTryIsNoFailureOfTheRun) {
  ScriptedFtpServer server("send 220 ready\\r\\n\nexpect USER alice\nclose\naccept\n" +
                           kLoginScript +
                           R"(expect PWD
send 257 "/" is the current directory\r\n
expect QUIT
send 221 Goodbye\r\n
)");
  FtpTask task = MakeTask(server.Port(), {});
  task.RETRY = 2;
  ClearTransferCounts();
  ReportCapture capture;
  RunFtpTask(task, RunContext{});
  EXPECT_EQ(ExitStatus(), 0);
  ClearTransferCounts();
  EXPECT_EQ(server.Outcome(), "DONE\n");
}

}  // namespace quorbit
