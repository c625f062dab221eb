// The HTTP session the HTTP assignment creates: status and file events become
// lines on screen and in the run log, percent and byte events drive the
// progress bar and the byte counter (each value shown once), and a completed
// download is counted in the run's transfer counts. Every failure line
// (no connection, no TLS, no file, a refused redirect) marks the run failed.
#pragma once

#include <cstdint>
#include <string_view>

#include "http/httpsession.h"
#include "report/runlog.h"

namespace quorbit {

class ReportingHttpSession : public HttpSession {
 public:
  explicit ReportingHttpSession(std::string_view debugLogName) : HttpSession(debugLogName) {}
  // Ends the session (Done) if its owner has not done so.
  ~ReportingHttpSession() override { Done(); }

  void StatusEvent(HttpStatusEvent event) override;
  void FileEvent(HttpFileEvent event, const HttpResponse& response) override;
  void PercentEvent(std::int32_t percent) override;
  void BytesEvent(std::int64_t bytes) override;

 private:
  ProgressFilter progress_;
  // The file came whole: a connection that fails after it (a body that ends
  // with the server's close) interrupted nothing.
  bool fileComplete_ = false;
};

}  // namespace quorbit
