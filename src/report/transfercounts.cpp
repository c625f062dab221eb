#include "report/transfercounts.h"

TransferCountsRecord TransferCounts;

void ClearTransferCounts() { TransferCounts = TransferCountsRecord{}; }

int ExitStatus() {
  int status = 0;
  if (TransferCounts.HttpFetched > 0 || TransferCounts.FtpDownloaded > 0) status += 1;
  if (TransferCounts.FtpUploaded > 0) status += 2;
  return status;
}
