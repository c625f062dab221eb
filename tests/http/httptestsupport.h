// Shared by the HTTP tests: a session that records its events, and (from
// peers/report_capture.h) the capture of what the reporting session shows and
// writes.
#pragma once

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "http/httpget.h"
#include "peers/peers.h"
#include "peers/report_capture.h"

namespace quorbit {

// Records each event as text: status and file events by name ("Connecting",
// "Complete"), percent and byte events as "P<percent>" and "B<bytes>".
class RecordingHttpSession : public HttpSession {
 public:
  explicit RecordingHttpSession(std::string_view debugLogName = "") : HttpSession(debugLogName) {}
  ~RecordingHttpSession() override { Done(); }

  void StatusEvent(HttpStatusEvent event) override {
    events.emplace_back(HttpStatusEventName(event));
  }
  void FileEvent(HttpFileEvent event, const HttpResponse&) override {
    events.emplace_back(HttpFileEventName(event));
  }
  void PercentEvent(std::int32_t percent) override { Record("P", percent); }
  void BytesEvent(std::int64_t bytes) override { Record("B", bytes); }

  bool Saw(const std::string& event) const {
    return std::find(events.begin(), events.end(), event) != events.end();
  }
  // The percent ('P') or byte ('B') events, in order.
  std::vector<std::string> Only(char kind) const {
    std::vector<std::string> picked;
    for (const auto& e : events) {
      if (e.size() > 1 && e[0] == kind && (e[1] == '-' || std::isdigit(e[1]))) picked.push_back(e);
    }
    return picked;
  }

  std::vector<std::string> events;

 private:
  void Record(const char* kind, std::int64_t value) {
    events.push_back(kind + std::to_string(value));
  }
};

}  // namespace quorbit
