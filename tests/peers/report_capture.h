// Captures what the reporting shows and writes: a status display that records
// every call, and a run log in a temporary directory, both installed for the
// lifetime of a ReportCapture.
#pragma once

#include <algorithm>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "peers/peers.h"
#include "report/runlog.h"

// Records every call of the status display as one text: "line<n>: <text>",
// "memo: <text>", "percent: <n>", "bytes: <caption>", "hide percent",
// "hide bytes" or "error: <text>".
class RecordingSink : public StatusSink {
 public:
  void SetLine(int n, std::string_view text) override { Add("line" + std::to_string(n), text); }
  void AddMemoLine(std::string_view text) override { Add("memo", text); }
  void ShowPercent(int percent) override { Add("percent", std::to_string(percent)); }
  void ShowByteCount(std::string_view caption) override { Add("bytes", caption); }
  void HidePercent() override { calls.push_back("hide percent"); }
  void HideByteCount() override { calls.push_back("hide bytes"); }
  void ShowError(std::string_view text) override { Add("error", text); }

  std::vector<std::string> calls;

 private:
  void Add(const std::string& kind, std::string_view text) {
    calls.push_back(kind + ": " + std::string(text));
  }
};

class ReportCapture {
 public:
  ReportCapture() {
    SetStatusSink(&sink);
    RunLog::Open(dir / "run.log");
  }
  ~ReportCapture() {
    RunLog::Close();
    SetStatusSink(nullptr);
  }
  ReportCapture(const ReportCapture&) = delete;
  ReportCapture& operator=(const ReportCapture&) = delete;

  // The run log's texts after its banner.
  std::vector<std::string> LogLines() const {
    const std::vector<std::string> texts = LogFileTexts(dir / "run.log");
    const auto dashes = std::find(texts.begin(), texts.end(), std::string(60, '-'));
    if (dashes == texts.end()) return {};
    return {dashes + 1, texts.end()};
  }
  // The memo lines shown so far.
  std::vector<std::string> Memo() const {
    std::vector<std::string> memo;
    for (const std::string& call : sink.calls) {
      if (IsMemo(call)) memo.push_back(call.substr(kMemoPrefix.size()));
    }
    return memo;
  }
  // Every other call: status lines, progress bar, byte counter and errors.
  std::vector<std::string> Display() const {
    std::vector<std::string> display;
    std::copy_if(sink.calls.begin(), sink.calls.end(), std::back_inserter(display),
                 [](const std::string& call) { return !IsMemo(call); });
    return display;
  }

  TempDir dir;
  RecordingSink sink;

 private:
  static constexpr std::string_view kMemoPrefix = "memo: ";
  static bool IsMemo(const std::string& call) { return call.starts_with(kMemoPrefix); }
};
