// The FTP session the FTP assignment uses: status and file events become
// lines on screen and in the run log (often worded differently), percent and
// byte events drive the progress bar and the byte counter (each new value
// shown once, -1 hides), and a completed transfer is counted as a download
// or an upload in the run's transfer counts.
#pragma once

#include <cstdint>
#include <string_view>

#include "ftp/ftpsession.h"
#include "report/runlog.h"

namespace quorbit {

class ReportingFtpSession : public FtpSession {
 public:
  explicit ReportingFtpSession(std::string_view debugLogName) : FtpSession(debugLogName) {}

  void StatusEvent(FtpStatusEvent event, std::string_view text) override;
  void FileEvent(FtpFileEvent event, const FtpFileRecord& file) override;
  void PercentEvent(std::int32_t percent) override;
  void BytesEvent(std::int64_t count) override;

 private:
  ProgressFilter progress_;
};

}  // namespace quorbit
