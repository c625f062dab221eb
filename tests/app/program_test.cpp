// The program as a whole: front-end choice, flags and exit codes, the run log
// of a run without assignments, configuration errors, a stop by signal, and
// the window under Xvfb.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "peers/peers.h"

#ifdef QUORBIT_WINDOW_TESTS
#include <X11/Xlib.h>
#endif

namespace quorbit {

namespace {

const std::string kProgram = QUORBIT_PROGRAM;
const std::string kDashes(60, '-');
constexpr const char* kEmptyRun = "[MAIN]\r\nLOG=logs/run.log\r\n[END]\r\n";

// The program with the given arguments, without a display.
ProgramRun RunHeadless(const std::vector<std::string>& args, const std::string& dir) {
  std::vector<std::string> argv = {"/usr/bin/env", "-u", "DISPLAY", kProgram};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProgram(argv, dir, 30);
}

TEST(HeadlessRun, WritesTheRunLogInOrderAndEndsByItself) {
  TempDir dir;
  WriteFile(dir / "run.ini", kEmptyRun);
  ProgramRun run = RunHeadless({"--console", "run.ini"}, dir.Path());
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_LT(run.seconds, 10.0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out.find('\x1b'), std::string::npos);
  std::vector<std::string> log = LogFileTexts(dir / "logs/run.log");
  ASSERT_EQ(log.size(), 6u) << ReadFile(dir / "logs/run.log");
  EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + 5),
            (std::vector<std::string>{"", "QUORBIT 1.10.007", kDashes, "Using ini file run.ini",
                                      kDashes}));
  EXPECT_TRUE(std::regex_match(log[5], std::regex("Total time active 00:00:0[0-2]"))) << log[5];
}

TEST(HeadlessRun, ChoosesTheConsoleWithoutDisplayAndKeepsTheNamesCase) {
  TempDir dir;
  WriteFile(dir / "Mixed.Ini", kEmptyRun);
  ProgramRun run = RunHeadless({"Mixed.Ini"}, dir.Path());
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_LT(run.seconds, 10.0);
  std::vector<std::string> log = LogFileTexts(dir / "logs/run.log");
  ASSERT_GE(log.size(), 4u);
  EXPECT_EQ(log[3], "Using ini file Mixed.Ini");
}

TEST(ConfigurationErrors, MissingIniIsOneLineOnStandardErrorAndNoRun) {
  TempDir dir;
  ProgramRun run = RunHeadless({"--console", "absent.ini"}, dir.Path());
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err, "quorbit: cannot open INI file absent.ini: No such file or directory\n");
  EXPECT_EQ(run.out, "");
  EXPECT_TRUE(DirectoryNames(dir.Path()).empty());
}

TEST(ConfigurationErrors, ErrorLineIsReportedAndNothingRuns) {
  TempDir dir;
  WriteFile(dir / "bad.ini", "[MAIN]\r\nLOG=logs/run.log\r\n");  // no [END]
  ProgramRun run = RunHeadless({"--console", "bad.ini"}, dir.Path());
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err, "quorbit: error encountered in INI file on line 2\n");
  EXPECT_FALSE(PathExists(dir / "logs"));
}

// Exit codes and what goes with them, flag by flag: the run's outcome and
// the reasons why a run could not start stay apart.
TEST(Flags, ExitCodesAndMessages) {
  struct Row {
    std::vector<std::string> args;
    int exitCode;
    std::string out;  // expected in standard output
    std::string err;  // expected in standard error
  };
  TempDir dir;
  WriteFile(dir / "run.ini", kEmptyRun);
  WriteFile(dir / "bad.ini", "[MAIN]\r\nLOG=logs/run.log\r\n");
  WriteFile(dir / "window.ini", "[MAIN]\r\nLOG=window/run.log\r\n[END]\r\n");
  ASSERT_EQ(mkdir((dir / "folder.ini").c_str(), 0755), 0);
  // A run log that cannot be opened: its directory is a file.
  WriteFile(dir / "plain", "a file, not a directory");
  WriteFile(dir / "nolog.ini", "[MAIN]\r\nLOG=plain/run.log\r\n[END]\r\n");
  const std::vector<Row> rows = {
      // Nothing was transferred: 0, never the "still running" value.
      {{"--exit-status", "--console", "run.ini"}, 0, "", ""},
      // The run goes on without its log, but its outcome says it failed.
      {{"--exit-status", "--console", "nolog.ini"},
       4,
       "Unable to open run log plain/run.log\n",
       ""},
      {{"--console", "nolog.ini"}, 0, "Unable to open run log plain/run.log\n", ""},
      {{"--exit-status", "--console", "absent.ini"},
       66,
       "",
       "quorbit: cannot open INI file absent.ini: No such file or directory\n"},
      {{"--exit-status", "--console", "folder.ini"},
       66,
       "",
       "quorbit: cannot open INI file folder.ini: Is a directory\n"},
      {{"--exit-status", "--console", "bad.ini"}, 78, "", "on line 2"},
      // Without the flag the exit code stays 0.
      {{"--console", "bad.ini"}, 0, "", "on line 2"},
      {{"--version"}, 0, "QUORBIT 1.10.007\n", ""},
      {{"--help"}, 0, "--exit-status", ""},
      {{"--help"}, 0, "4  something failed", ""},
      {{"--frobnicate", "run.ini"}, 64, "", "--frobnicate"},
      // A forced window without a display runs nothing.
      {{"--window", "window.ini"}, 69, "", "window"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.args.back());
    ProgramRun run = RunHeadless(row.args, dir.Path());
    EXPECT_EQ(run.exitCode, row.exitCode);
    EXPECT_NE(run.out.find(row.out), std::string::npos) << run.out;
    EXPECT_NE(run.err.find(row.err), std::string::npos) << run.err;
    if (row.err.empty()) {
      EXPECT_EQ(run.err, "");
    }
  }
  EXPECT_FALSE(PathExists(dir / "window"));
}

// With --exit-status the outcome adds up what was received, sent and what
// failed: a file that came in a run whose log cannot be written is 1 + 4.
TEST(Flags, OutcomeAddsUpWhatCameAndWhatFailed) {
  struct Row {
    const char* what;
    std::string log;  // the LOG key
    int exitCode;
  };
  const std::vector<Row> rows = {
      {"a fetch and its log", "run.log", 1},
      {"a fetch without its log", "plain/run.log", 5},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    TempDir dir;
    WriteFile(dir / "plain", "a file, not a directory");
    PeerProcess server;
    const int port = StartScriptedServer(
        server, dir,
        "expect_match GET /a.txt *\nexpect_match Host: *\nexpect \n"
        "send HTTP/1.1 200 OK\\r\\nContent-Length: 5\\r\\nConnection: close\\r\\n\\r\\nhello\n"
        "close\n");
    ASSERT_NE(port, 0);
    WriteFile(dir / "run.ini",
              "[MAIN]\r\nLOG=" + row.log +
                  "\r\n[END]\r\n[HTTP]\r\nNAME=One\r\nURI=http://127.0.0.1/a.txt\r\n"
                  "LOCATION=store\r\nPORT=" +
                  std::to_string(port) + "\r\n[END]\r\n");
    ProgramRun run = RunHeadless({"--exit-status", "--console", "run.ini"}, dir.Path());
    EXPECT_EQ(run.exitCode, row.exitCode) << run.out;
    EXPECT_EQ(ReadFile(dir / "store/a.txt"), "hello");
  }
}

// A scheduler's SIGTERM in the middle of a transfer that stalls: the run ends
// within a couple of seconds with 128 + 15, abandons the transfer without
// leaving a half file under its final name or deleting a source, and closes
// its run log with the stop and the summary. Each row: the server, the
// assignment, and the log line that shows the transfer under way.
// A server that sends the start of a file and then stalls, and the [HTTP]
// assignment that fetches it into "store".
const std::string kStalledDownload =
    "expect_match GET /big.bin *\nexpect_match Host: *\nexpect \n"
    "send HTTP/1.1 200 OK\\r\\nContent-Length: 1000000\\r\\n\\r\\nthe first bytes\n"
    "await_close\n";
const std::string kStalledDownloadTask =
    "[HTTP]\r\nNAME=Stall\r\nURI=http://127.0.0.1/big.bin\r\nLOCATION=store\r\n"
    "PORT={port}\r\n[END]\r\n";

// The INI file of the run: a run log and the assignment for the server's port.
void WriteRunIni(const TempDir& dir, std::string assignment, int port) {
  assignment.replace(assignment.find("{port}"), 6, std::to_string(port));
  WriteFile(dir / "run.ini", "[MAIN]\r\nLOG=run.log\r\n[END]\r\n" + assignment);
}

// The last lines of a run log of a stopped run.
void ExpectStoppedRunLog(const std::string& path, const std::string& signalName) {
  std::vector<std::string> log = LogFileTexts(path);
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log[log.size() - 3], "Run stopped by signal " + signalName);
  EXPECT_EQ(log[log.size() - 2], kDashes);
  EXPECT_TRUE(std::regex_match(log.back(), std::regex("Total time active 00:00:[0-9]{2}")))
      << log.back();
}

TEST(StopBySignal, StalledDownloadAndUploadEndPromptlyAndCleanly) {
  struct Row {
    const char* what;
    std::string script;      // the server, which stalls in the transfer
    std::string assignment;  // "{port}" stands for the server's port
    std::string underWay;    // the start of the status line of the transfer
  };
  const std::vector<Row> rows = {
      {"HTTP download", kStalledDownload, kStalledDownloadTask, "Downloading "},
      // The server takes none of the data, so the upload waits for room.
      {"FTP upload with DELETE",
       "send 220 ready\\r\\n\nexpect USER alice\nsend 331 password please\\r\\n\n"
       "expect PASS s3cret\nsend 230 logged in\\r\\n\n"
       "expect FEAT\nsend 502 not implemented\\r\\n\nexpect PWD\n"
       "send 257 \"/\" is the current directory\\r\\n\nexpect CWD /\nsend 250 ok\\r\\n\n"
       "expect TYPE I\nsend 200 binary\\r\\n\nexpect PASV\npasv\nexpect STOR big.bin\n"
       "send 150 Ok to send data\\r\\n\nawait_close\n",
       "[FTP]\r\nNAME=Up\r\nURI=127.0.0.1\r\nPORT={port}\r\nUSER=alice\r\n"
       "PASSWORD=s3cret\r\nTRANSFER=out/big.bin, /, UP, DELETE\r\n[END]\r\n",
       "Uploading "},
  };
  const std::string source = RandomBytes(32 << 20);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    TempDir dir;
    ASSERT_EQ(mkdir((dir / "out").c_str(), 0755), 0);
    WriteFile(dir / "out/big.bin", source);
    PeerProcess server;
    const int port = StartScriptedServer(server, dir, row.script);
    ASSERT_NE(port, 0);
    WriteRunIni(dir, row.assignment, port);

    PeerProcess program;
    ASSERT_TRUE(program.Start({"/usr/bin/env", "-u", "DISPLAY", kProgram, "--console", "run.ini"},
                              dir.Path()));
    ASSERT_NE(program.WaitForLine(row.underWay, 20), "") << ReadFile(dir / "run.log");
    std::this_thread::sleep_for(std::chrono::seconds(1));  // well into the stall
    const auto signalled = std::chrono::steady_clock::now();
    ASSERT_EQ(kill(program.Pid(), SIGTERM), 0);
    const std::string rest = program.ReadRest(10);
    EXPECT_LT(SecondsSince(signalled), 5.0);
    EXPECT_EQ(program.Stop(), 143);

    EXPECT_NE(rest.find("Run stopped by signal SIGTERM\n"), std::string::npos) << rest;
    ExpectStoppedRunLog(dir / "run.log", "SIGTERM");
    // Neither a half download under its final name (nor its temporary file)
    // nor a lost upload source.
    EXPECT_TRUE(!PathExists(dir / "store") || DirectoryNames(dir / "store").empty())
        << ::testing::PrintToString(DirectoryNames(dir / "store"));
    EXPECT_TRUE(ReadFile(dir / "out/big.bin") == source);
  }
}

// The stalled download runs; the status line "Downloading " shows on the
// console. A run that did not get there fails the test.
void StartStalledDownload(const TempDir& dir, PeerProcess& server, PeerProcess& program,
                          std::vector<std::string> prefix = {}) {
  const int port = StartScriptedServer(server, dir, kStalledDownload);
  ASSERT_NE(port, 0);
  WriteRunIni(dir, kStalledDownloadTask, port);
  prefix.insert(prefix.end(), {"/usr/bin/env", "-u", "DISPLAY", kProgram, "--console", "run.ini"});
  ASSERT_TRUE(program.Start(prefix, dir.Path()));
  ASSERT_NE(program.WaitForLine("Downloading ", 20), "") << ReadFile(dir / "run.log");
}

// Signals that arrive together are one request to stop: timeout(1) sends
// SIGTERM to the program and then to its whole process group, and a user may
// press Ctrl-C twice. The run still ends cleanly: the stop and the summary in
// the log, no part file left.
TEST(StopBySignal, SignalsArrivingTogetherStopTheRunCleanly) {
  struct Row {
    const char* what;
    std::vector<std::string> prefix;  // what the program runs under
    int gapMs;                        // between our two SIGTERMs; -1: none sent
    int exitCode;
  };
  const std::vector<Row> rows = {
      {"timeout(1)", {"timeout", "5"}, -1, 124},
      {"two SIGTERMs a tenth of a second apart", {}, 100, 143},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    TempDir dir;
    PeerProcess server;
    PeerProcess program;
    StartStalledDownload(dir, server, program, row.prefix);
    if (HasFatalFailure()) return;
    if (row.gapMs >= 0) {
      ASSERT_EQ(kill(program.Pid(), SIGTERM), 0);
      std::this_thread::sleep_for(std::chrono::milliseconds(row.gapMs));
      ASSERT_EQ(kill(program.Pid(), SIGTERM), 0);
    }
    const std::string rest = program.ReadRest(10);
    EXPECT_EQ(program.Stop(), row.exitCode);
    EXPECT_NE(rest.find("Run stopped by signal SIGTERM\n"), std::string::npos) << rest;
    ExpectStoppedRunLog(dir / "run.log", "SIGTERM");
    EXPECT_TRUE(DirectoryNames(dir / "store").empty())
        << ::testing::PrintToString(DirectoryNames(dir / "store"));
  }
}

// A second signal a second or more after the first is an impatient user: it
// ends the program at once, even while the worker cannot move, and still
// leaves no part file. The worker is held with its part file open: once it
// waits for the answer, the run log becomes a pipe that nobody reads, so the
// log line that follows the creation of the part file never gets written.
TEST(StopBySignal, ASignalASecondAfterTheFirstEndsAtOnceWithoutAPartFile) {
  TempDir dir;
  PeerProcess server;
  // The answer comes once the run log has been swapped for the pipe.
  const int port = StartScriptedServer(
      server, dir,
      "expect_match GET /big.bin *\nexpect_match Host: *\nexpect \nawait_file " + dir / "swapped" +
          "\n"
          "send HTTP/1.1 200 OK\\r\\nContent-Length: 1000000\\r\\n\\r\\nthe first bytes\n"
          "await_close\n");
  ASSERT_NE(port, 0);
  WriteRunIni(dir, kStalledDownloadTask, port);
  PeerProcess program;
  ASSERT_TRUE(program.Start({"/usr/bin/env", "-u", "DISPLAY", kProgram, "--console", "run.ini"},
                            dir.Path()));
  ASSERT_NE(program.WaitForLine("Retrieving file header", 20), "") << ReadFile(dir / "run.log");
  ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0644), 0);
  ASSERT_EQ(rename((dir / "pipe").c_str(), (dir / "run.log").c_str()), 0);
  WriteFile(dir / "swapped", "");
  ASSERT_NE(program.WaitForLine("Downloading ", 20), "");

  ASSERT_EQ(kill(program.Pid(), SIGTERM), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(1300));
  ASSERT_EQ(DirectoryNames(dir / "store").size(), 1u) << "the worker should still be held";
  const auto signalled = std::chrono::steady_clock::now();
  ASSERT_EQ(kill(program.Pid(), SIGTERM), 0);
  program.ReadRest(10);
  EXPECT_LT(SecondsSince(signalled), 5.0);  // not held by the worker
  EXPECT_EQ(program.Stop(), -1);            // ended by the signal itself
  EXPECT_TRUE(DirectoryNames(dir / "store").empty())
      << ::testing::PrintToString(DirectoryNames(dir / "store"));
}

bool OnPath(const std::string& tool) {
  return RunProgram({"/bin/sh", "-c", "command -v " + tool}, "", 10).exitCode == 0;
}

// A system that gives the run no thread (here: a user allowed one process)
// ends it as failed, with the reason, instead of aborting.
TEST(Flags, NoThreadForTheRunIsAFailureThatSaysWhy) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a sanitizer's own start-up needs the threads this test takes away";
#endif
  if (geteuid() != 0 || !OnPath("setpriv") || !OnPath("prlimit")) {
    GTEST_SKIP() << "needs root, setpriv and prlimit to run as a user without threads";
  }
  TempDir dir;
  WriteFile(dir / "run.ini", "[MAIN]\r\n[END]\r\n");
  ASSERT_EQ(chmod(dir.Path().c_str(), 0755), 0);
  const ProgramRun run =
      RunProgram({"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "prlimit",
                  "--nproc=1", kProgram, "--exit-status", "--console", "run.ini"},
                 dir.Path(), 30);
  EXPECT_EQ(run.exitCode, 4);
  EXPECT_NE(run.err.find("quorbit: unable to start the run: "), std::string::npos) << run.err;
}

// Starts Xvfb; its display name (":n"), or "" when it did not start.
std::string StartDisplay(PeerProcess& xvfb) {
  if (!xvfb.Start({"Xvfb", "-displayfd", "1", "-screen", "0", "800x600x24", "-nolisten", "tcp"})) {
    return "";
  }
  std::string number = xvfb.WaitForLine("", 20);
  return number.empty() ? "" : ":" + number;
}

#ifdef QUORBIT_WINDOW_TESTS
// The window with the title, searched from the root down; 0 when none.
::Window FindWindow(::Display* display, ::Window window, const std::string& title) {
  char* name = nullptr;
  if (XFetchName(display, window, &name) && name) {
    const bool found = title == name;
    XFree(name);
    if (found) return window;
  }
  ::Window root = 0;
  ::Window parent = 0;
  ::Window* children = nullptr;
  unsigned count = 0;
  if (!XQueryTree(display, window, &root, &parent, &children, &count)) return 0;
  ::Window found = 0;
  for (unsigned i = 0; i < count && !found; ++i) found = FindWindow(display, children[i], title);
  if (children) XFree(children);
  return found;
}

// Sends the window what its close button sends: WM_DELETE_WINDOW.
bool PressCloseButton(const std::string& displayName, const std::string& title) {
  ::Display* display = XOpenDisplay(displayName.c_str());
  if (!display) return false;
  const ::Window window = FindWindow(display, DefaultRootWindow(display), title);
  if (window) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
    XFlush(display);
  }
  XCloseDisplay(display);
  return window != 0;
}
#endif

TEST(Window, ShowsTheVersionCaptionAndClosesByItself) {
#ifndef QUORBIT_WINDOW_TESTS
  GTEST_SKIP() << "built without the window front end";
#endif
  if (!OnPath("Xvfb") || !OnPath("xwininfo")) GTEST_SKIP() << "needs Xvfb and xwininfo (x11-utils)";
  PeerProcess xvfb;
  const std::string display = StartDisplay(xvfb);
  ASSERT_NE(display, "");

  TempDir dir;
  WriteFile(dir / "run.ini", kEmptyRun);
  PeerProcess program;
  ASSERT_TRUE(program.Start(
      {"/usr/bin/env", "DISPLAY=" + display, kProgram, "--keep-open=2", "run.ini"}, dir.Path()));
  std::string windows;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (windows.find("\"QUORBIT 1.10.007\"") == std::string::npos &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    windows = RunProgram({"xwininfo", "-root", "-tree"}, "", 10, {"DISPLAY=" + display}).out;
  }
  ASSERT_NE(windows.find("\"QUORBIT 1.10.007\""), std::string::npos) << windows;
  EXPECT_NE(windows.find("425x273"), std::string::npos) << windows;

  // The run is over at once; the window stays 2 seconds more and then goes
  // at the next one-second tick.
  const auto shown = std::chrono::steady_clock::now();
  program.ReadRest(15);
  const double open = SecondsSince(shown);
  EXPECT_EQ(program.Stop(), 0);
  EXPECT_LT(open, 5.0);
  EXPECT_EQ(LogFileTexts(dir / "logs/run.log").size(), 6u);
}

TEST(Window, CloseButtonDuringTheRunStopsItAsSigtermWould) {
#ifndef QUORBIT_WINDOW_TESTS
  GTEST_SKIP() << "built without the window front end";
#else
  if (!OnPath("Xvfb")) GTEST_SKIP() << "needs Xvfb";
  PeerProcess xvfb;
  const std::string display = StartDisplay(xvfb);
  ASSERT_NE(display, "");
  TempDir dir;
  PeerProcess server;
  const int port = StartScriptedServer(server, dir, kStalledDownload);
  ASSERT_NE(port, 0);
  WriteRunIni(dir, kStalledDownloadTask, port);
  PeerProcess program;
  ASSERT_TRUE(
      program.Start({"/usr/bin/env", "DISPLAY=" + display, kProgram, "run.ini"}, dir.Path()));
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (ReadFile(dir / "run.log").find("Downloading ") == std::string::npos &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  std::this_thread::sleep_for(std::chrono::seconds(1));  // well into the stall

  const auto pressed = std::chrono::steady_clock::now();
  ASSERT_TRUE(PressCloseButton(display, "QUORBIT 1.10.007"));
  program.ReadRest(10);
  // The worker stops within a second; the window goes at the next tick.
  EXPECT_LT(SecondsSince(pressed), 5.0);
  EXPECT_EQ(program.Stop(), 143);
  ExpectStoppedRunLog(dir / "run.log", "SIGTERM");
#endif
}

}  // namespace

}  // namespace quorbit
