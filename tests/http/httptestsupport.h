// Shared by the HTTP tests: a session that records its events, and (from
// peers/report_capture.h) the capture of what the reporting session shows and
// writes.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "http/httpclient.h"
#include "peers/peers.h"
#include "peers/report_capture.h"

// Records each event as text: "S<code>", "F<code>", "P<percent>", "B<bytes>".
class RecordingHttpSession : public HttpSession {
 public:
  explicit RecordingHttpSession(std::string_view debugLogName = "") : HttpSession(debugLogName) {}
  ~RecordingHttpSession() override { Done(); }

  void StatusEvent(std::uint8_t code) override { Record("S", code); }
  void FileEvent(std::uint8_t code, const HttpResponse&) override { Record("F", code); }
  void PercentEvent(std::int32_t percent) override { Record("P", percent); }
  void BytesEvent(std::int64_t bytes) override { Record("B", bytes); }

  bool Saw(const std::string& event) const {
    return std::find(events.begin(), events.end(), event) != events.end();
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
  void Record(const char* kind, std::int64_t value) {
    events.push_back(kind + std::to_string(value));
  }
};
