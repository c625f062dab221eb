#include "report/transfercounts.h"

namespace quorbit {

TransferCountsRecord TransferCounts;

void ClearTransferCounts() {
  TransferCounts = TransferCountsRecord{};
}

void CountHttpFetched() {
  ++TransferCounts.HttpFetched;
  TransferCounts.received = true;
}

void CountFtpDownloaded() {
  ++TransferCounts.FtpDownloaded;
  TransferCounts.received = true;
}

void CountFtpUploaded() {
  ++TransferCounts.FtpUploaded;
  TransferCounts.sent = true;
}

void CountFailure() {
  TransferCounts.failed = true;
}

int ExitStatus() {
  return (TransferCounts.received ? 1 : 0) + (TransferCounts.sent ? 2 : 0) +
         (TransferCounts.failed ? 4 : 0);
}

}  // namespace quorbit
