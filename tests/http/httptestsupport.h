// Shared by the HTTP tests: a session that records its events, and a front
// end and run log that record what the reporting session shows and writes.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "http/httplib.h"
#include "peers/peers.h"
#include "report/logunit.h"

// Records each event as text: "S<code>", "F<code>", "P<percent>", "B<bytes>".
class RecordingSession : public HttpSession {
 public:
  explicit RecordingSession(std::string_view debugLogName = "") : HttpSession(debugLogName) {}
  ~RecordingSession() override { Done(); }

  void StatusEvent(std::uint8_t code) override { Record("S", code); }
  void FileEvent(std::uint8_t code, const HttpResponse&) override { Record("F", code); }
  void PercentEvent(std::int32_t percent) override { Record("P", percent); }
  void BytesEvent(std::int32_t bytes) override { Record("B", bytes); }

  bool Saw(const std::string& event) const {
    for (const auto& e : events) {
      if (e == event) return true;
    }
    return false;
  }
  // The events that start with prefix, in order.
  std::vector<std::string> Only(char prefix) const {
    std::vector<std::string> picked;
    for (const auto& e : events) {
      if (e[0] == prefix) picked.push_back(e);
    }
    return picked;
  }

  std::vector<std::string> events;

 private:
  void Record(const char* kind, std::int32_t value) {
    events.push_back(kind + std::to_string(value));
  }
};

// Records every call of the status display, one text per call.
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

// Installs a RecordingSink and a run log in a temporary directory for the
// lifetime of the object.
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

  // The run log's lines after its banner, without their time stamps.
  std::vector<std::string> LogLines() const {
    constexpr std::size_t kStampWidth = 19;  // "dd-mm-yy hh:mm:ss" and two blanks
    std::istringstream in(ReadFile(dir / "run.log"));
    std::vector<std::string> lines;
    std::string line;
    bool afterBanner = false;
    while (std::getline(in, line)) {
      std::string text = line.size() >= kStampWidth ? line.substr(kStampWidth) : "";
      if (afterBanner) lines.push_back(text);
      afterBanner = afterBanner || text == std::string(60, '-');
    }
    return lines;
  }
  // The memo lines shown so far.
  std::vector<std::string> Memo() const {
    std::vector<std::string> memo;
    for (const auto& c : sink.calls) {
      if (c.rfind("memo: ", 0) == 0) memo.push_back(c.substr(6));
    }
    return memo;
  }

  TempDir dir;
  RecordingSink sink;
};
