// Counters of completed transfers for the whole run, and the outcome value
// derived from them.
#pragma once

#include <cstdint>

struct TransferCountsRecord {
  std::uint16_t HttpFetched = 0;    // HTTP fetches completed
  std::uint16_t FtpDownloaded = 0;  // FTP downloads completed
  std::uint16_t FtpUploaded = 0;    // FTP uploads completed
};

// One set per process, bumped by the HTTP and FTP reporting (wrapping at 65535).
extern TransferCountsRecord TransferCounts;

void ClearTransferCounts();
// 1 when anything was received, plus 2 when anything was sent.
int ExitStatus();
