// Captures what the FTP reporting shows and writes: a front end that records
// every call, and a run log in a temporary directory, installed for the
// lifetime of the object.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "peers/peers.h"
#include "report/logunit.h"

class FtpReportCapture : public StatusSink {
 public:
  FtpReportCapture() {
    SetStatusSink(this);
    RunLog::Open(dir / "run.log");
  }
  ~FtpReportCapture() override {
    RunLog::Close();
    SetStatusSink(nullptr);
  }
  FtpReportCapture(const FtpReportCapture&) = delete;
  FtpReportCapture& operator=(const FtpReportCapture&) = delete;

  void SetLine(int n, std::string_view text) override { Add("line" + std::to_string(n), text); }
  void AddMemoLine(std::string_view text) override { memo.emplace_back(text); }
  void ShowPercent(int percent) override { Add("percent", std::to_string(percent)); }
  void ShowByteCount(std::string_view caption) override { Add("bytes", caption); }
  void HidePercent() override { display.push_back("hide percent"); }
  void HideByteCount() override { display.push_back("hide bytes"); }
  void ShowError(std::string_view text) override { Add("error", text); }

  // The run log's lines after its banner, without their time stamps.
  std::vector<std::string> LogLines() const {
    constexpr std::size_t kStampWidth = 19;  // "dd-mm-yy hh:mm:ss" and two blanks
    std::istringstream in(ReadFile(dir / "run.log"));
    std::vector<std::string> lines;
    bool afterBanner = false;
    for (std::string line; std::getline(in, line);) {
      std::string text = line.size() >= kStampWidth ? line.substr(kStampWidth) : "";
      if (afterBanner) lines.push_back(text);
      afterBanner = afterBanner || text == std::string(60, '-');
    }
    return lines;
  }

  TempDir dir;
  std::vector<std::string> memo;     // on-screen log lines
  std::vector<std::string> display;  // status lines, progress bar, byte counter

 private:
  void Add(const std::string& kind, std::string_view text) {
    display.push_back(kind + ": " + std::string(text));
  }
};
