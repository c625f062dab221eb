// The program as a whole: front-end choice, flags, the run log of a run
// without assignments, configuration errors, and the window under Xvfb.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "peers/peers.h"

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
  EXPECT_LT(run.seconds, 3.0);
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
  EXPECT_LT(run.seconds, 3.0);
  std::vector<std::string> log = LogFileTexts(dir / "logs/run.log");
  ASSERT_GE(log.size(), 4u);
  EXPECT_EQ(log[3], "Using ini file Mixed.Ini");
}

TEST(ConfigurationErrors, MissingIniIsOneLineOnStandardErrorAndNoRun) {
  TempDir dir;
  ProgramRun run = RunHeadless({"--console", "absent.ini"}, dir.Path());
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err, "Error: unable to open INI file\n");
  EXPECT_EQ(run.out, "");
  EXPECT_TRUE(DirectoryNames(dir.Path()).empty());
}

TEST(ConfigurationErrors, ErrorLineIsReportedAndNothingRuns) {
  TempDir dir;
  WriteFile(dir / "bad.ini", "[MAIN]\r\nLOG=logs/run.log\r\n");  // no [END]
  ProgramRun run = RunHeadless({"--console", "bad.ini"}, dir.Path());
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err, "Error: error encountered in INI file on line 2\n");
  EXPECT_FALSE(PathExists(dir / "logs"));
}

TEST(Flags, VersionHelpExitStatusAndMistakes) {
  TempDir dir;
  // Nothing was transferred: 0, never the "still running" value.
  EXPECT_EQ(RunHeadless({"--exit-status", "--console", "absent.ini"}, dir.Path()).exitCode, 0);
  ProgramRun version = RunHeadless({"--version"}, dir.Path());
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out, "QUORBIT 1.10.007\n");
  ProgramRun help = RunHeadless({"--help"}, dir.Path());
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("--exit-status"), std::string::npos);
  ProgramRun unknown = RunHeadless({"--frobnicate", "run.ini"}, dir.Path());
  EXPECT_EQ(unknown.exitCode, 64);
  EXPECT_NE(unknown.err.find("--frobnicate"), std::string::npos);
  // A forced window without a display runs nothing.
  WriteFile(dir / "run.ini", kEmptyRun);
  ProgramRun window = RunHeadless({"--window", "run.ini"}, dir.Path());
  EXPECT_EQ(window.exitCode, 69);
  EXPECT_FALSE(PathExists(dir / "logs"));
}

bool OnPath(const std::string& tool) {
  return RunProgram({"/bin/sh", "-c", "command -v " + tool}, "", 10).exitCode == 0;
}

TEST(Window, ShowsTheVersionCaptionAndClosesByItself) {
#ifndef QUORBIT_WINDOW_TESTS
  GTEST_SKIP() << "built without the window front end";
#endif
  if (!OnPath("Xvfb") || !OnPath("xwininfo")) GTEST_SKIP() << "needs Xvfb and xwininfo (x11-utils)";
  PeerProcess xvfb;
  ASSERT_TRUE(xvfb.Start({"Xvfb", "-displayfd", "1", "-screen", "0", "800x600x24", "-nolisten", "tcp"}));
  std::string display = ":" + xvfb.WaitForLine("", 20);
  ASSERT_NE(display, ":");

  TempDir dir;
  WriteFile(dir / "run.ini", kEmptyRun);
  PeerProcess program;
  ASSERT_TRUE(program.Start({"/usr/bin/env", "DISPLAY=" + display, kProgram, "--keep-open=2", "run.ini"},
                            dir.Path()));
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

}  // namespace
