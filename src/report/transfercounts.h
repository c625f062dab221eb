// Counters of completed transfers for the whole run, and the outcome value
// derived from them.
#pragma once

#include <cstdint>

namespace quorbit {

struct TransferCountsRecord {
  std::uint16_t HttpFetched = 0;    // HTTP fetches completed (wraps at 65535)
  std::uint16_t FtpDownloaded = 0;  // FTP downloads completed (wraps at 65535)
  std::uint16_t FtpUploaded = 0;    // FTP uploads completed (wraps at 65535)
  // Whether anything was received or sent at all: unlike the counters these
  // never wrap back, so a run of exactly 65536 transfers still counts.
  bool received = false;
  bool sent = false;
  // Whether anything failed: a file, a listing, a login or an assignment.
  bool failed = false;
};

// One set per process, bumped by the HTTP and FTP reporting.
extern TransferCountsRecord TransferCounts;

void ClearTransferCounts();
void CountHttpFetched();
void CountFtpDownloaded();
void CountFtpUploaded();
// Marks the run as having failed somewhere; every failure line goes through here.
void CountFailure();
// 1 when anything was received, plus 2 when anything was sent, plus 4 when
// anything failed.
int ExitStatus();

}  // namespace quorbit
