// The one fake front end of the tests: a status display that records every
// call and keeps which of the progress bar and the byte counter the window
// would show.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "report/runlog.h"

namespace quorbit {

// Records every call as one text: "line<n>: <text>", "memo: <text>",
// "percent: <n>", "bytes: <caption>", "hide percent", "hide bytes" or
// "error: <text>". Derived fakes may act on a call after recording it.
class FakeStatusSink : public StatusSink {
 public:
  void SetLine(int n, std::string_view text) override { Add("line" + std::to_string(n), text); }
  void AddMemoLine(std::string_view text) override { Add("memo", text); }
  void ShowPercent(int percent) override {
    barVisible = true;
    Add("percent", std::to_string(percent));
  }
  void ShowByteCount(std::string_view caption) override {
    counterVisible = true;
    Add("bytes", caption);
  }
  void HidePercent() override {
    barVisible = false;
    calls.emplace_back("hide percent");
  }
  void HideByteCount() override {
    counterVisible = false;
    calls.emplace_back("hide bytes");
  }
  void ShowError(std::string_view text) override { Add("error", text); }

  // The texts of the calls of one kind ("memo", "error", "line1", ...), in order.
  std::vector<std::string> TextsOf(std::string_view kind) const {
    const std::string prefix = std::string(kind) + ": ";
    std::vector<std::string> texts;
    for (const std::string& call : calls) {
      if (call.starts_with(prefix)) texts.push_back(call.substr(prefix.size()));
    }
    return texts;
  }
  // The memo lines shown so far.
  std::vector<std::string> Memo() const { return TextsOf("memo"); }
  // Every other call: status lines, progress bar, byte counter and errors.
  std::vector<std::string> Display() const {
    std::vector<std::string> display;
    for (const std::string& call : calls) {
      if (!call.starts_with("memo: ")) display.push_back(call);
    }
    return display;
  }

  std::vector<std::string> calls;
  // As the window starts: the bar shows, the counter does not.
  bool barVisible = true;
  bool counterVisible = false;

 private:
  void Add(const std::string& kind, std::string_view text) {
    calls.push_back(kind + ": " + std::string(text));
  }
};

// A FakeStatusSink installed as the status display while it exists.
class InstalledFakeSink : public FakeStatusSink {
 public:
  InstalledFakeSink() { SetStatusSink(this); }
  ~InstalledFakeSink() override { SetStatusSink(nullptr); }
  InstalledFakeSink(const InstalledFakeSink&) = delete;
  InstalledFakeSink& operator=(const InstalledFakeSink&) = delete;
};

}  // namespace quorbit
