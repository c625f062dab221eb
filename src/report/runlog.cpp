#include "report/runlog.h"

#include <cstdio>
#include <string>

#include "report/datetext.h"
#include "report/transfercounts.h"
#include "util/localpaths.h"
#include "util/textfiles.h"

namespace quorbit {

namespace {

constexpr std::string_view kVersionPrefix = "QUORBIT 1.10.";
constexpr std::string_view kBuildNumber = "7";
constexpr std::string_view kLineEnd = "\n";
constexpr std::string_view kStampGap = "  ";
constexpr std::size_t kDashCount = 60;

StatusSink* installedSink = nullptr;
LogFile runLog;

void Put(std::FILE* file, std::string_view text) {
  if (!text.empty()) std::fwrite(text.data(), 1, text.size(), file);
}

bool IsControl(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7F;
}

// Names and header values come from servers: a line feed in one would start
// a forged log line, an escape sequence would drive the terminal. Control
// characters are shown as \xHH; every other byte (UTF-8 names) stays.
std::string Escaped(std::string_view text) {
  constexpr std::string_view kHexDigits = "0123456789ABCDEF";
  std::string shown;
  shown.reserve(text.size());
  for (char c : text) {
    if (!IsControl(c)) {
      shown += c;
      continue;
    }
    const auto byte = static_cast<unsigned char>(c);
    shown += "\\x";
    shown += kHexDigits[byte >> 4];
    shown += kHexDigits[byte & 0x0F];
  }
  return shown;
}

// Writes directly instead of building one short string, so that a long
// text after the stamp is not cut.
void PutStampedLine(std::FILE* file, std::string_view text) {
  Put(file, LogStamp());
  Put(file, kStampGap);
  Put(file, Escaped(text));
  Put(file, kLineEnd);
}

// Opens for appending; a missing file (or directory) is created, so a log
// deleted between two lines comes back with the next one.
bool ReopenForAppend(TextFile& file) {
  return AppendTextFile(file) && file.IsOpen();
}

}  // namespace

std::string VersionText() {
  return Cat(kVersionPrefix, PadLeft(kBuildNumber, 3, '0'));
}

std::string DashLine() {
  return std::string(kDashCount, '-');
}

std::string LogStamp() {
  const PackedDateTime now = NowPacked();
  return FormatDate(now, "%dd%-%mm%-%yy%") + " " + FormatTime(now, "%hh%:%mm%:%ss%");
}

void LogFile::Init() {
  opened = false;
}

// NOLINTNEXTLINE(bugprone-easily-swappable-parameters): the file, then the banner written into it
bool LogFile::Open(std::string_view fileName, std::string_view banner) {
  name = LocalPath(fileName);
  TextFile file(name);
  opened = ReopenForAppend(file);
  if (opened) {
    Put(file.Handle(), kLineEnd);
    PutStampedLine(file.Handle(), banner);
    PutStampedLine(file.Handle(), DashLine());
  }
  return opened;
}

void LogFile::WriteLine(std::string_view text) {
  if (!opened) return;
  TextFile file(name);
  if (ReopenForAppend(file)) PutStampedLine(file.Handle(), text);
}

void LogFile::Done() {
  opened = false;
}

void SetStatusSink(StatusSink* sink) {
  installedSink = sink;
}

namespace RunLog {

bool Open(std::string_view logName) {
  runLog.Init();
  return logName.empty() || runLog.Open(logName, VersionText());
}

void Close() {
  runLog.Done();
}

void Write(std::string_view text) {
  runLog.WriteLine(text);
}

void Show(std::string_view text) {
  if (installedSink) installedSink->AddMemoLine(Escaped(text));
}

}  // namespace RunLog

namespace StatusDisplay {

void SetLine(std::uint8_t n, std::string_view text) {
  if (n > 3) return;
  if (n > 0 && installedSink) installedSink->SetLine(n, Escaped(text));
  if (!text.empty()) RunLog::Write(text);
}

void ShowPercent(int percent) {
  if (!installedSink) return;
  installedSink->HideByteCount();
  installedSink->ShowPercent(percent);
}

void ShowByteCount(std::int64_t bytes) {
  if (!installedSink) return;
  installedSink->HidePercent();
  installedSink->ShowByteCount("Received " + IntToText(bytes) + " bytes");
}

void HidePercent() {
  if (installedSink) installedSink->HidePercent();
}

void HideByteCount() {
  if (installedSink) installedSink->HideByteCount();
}

}  // namespace StatusDisplay

// NOLINTNEXTLINE(bugprone-easily-swappable-parameters): screen before log, as in the name
void RunLog::ShowAndWrite(std::string_view screenText, std::string_view logText) {
  Show(screenText);
  Write(logText);
}

void RunLog::ShowAndWriteFailure(std::string_view screenText, std::string_view logText) {
  CountFailure();
  ShowAndWrite(screenText, logText);
}

void RunLog::ShowAndWriteFailure(std::string_view line) {
  ShowAndWriteFailure(line, line);
}

std::string TransferTimeText(std::int32_t seconds) {
  return "Transfer time " + TwoDigits(static_cast<std::uint16_t>(seconds / 60)) + ':' +
         TwoDigits(static_cast<std::uint16_t>(seconds % 60));
}

void ProgressFilter::Percent(std::int32_t percent) {
  if (percent == kProgressEnd) {
    StatusDisplay::HidePercent();
  } else if (percent <= 0 || percent == lastPercent) {
    return;
  } else {
    StatusDisplay::ShowPercent(percent);
  }
  lastPercent = static_cast<std::uint8_t>(percent);
}

void ProgressFilter::Bytes(std::int64_t count) {
  if (count == kProgressEnd) {
    StatusDisplay::HideByteCount();
  } else if (count <= 0 || count == lastBytes) {
    return;
  } else {
    StatusDisplay::ShowByteCount(count);
  }
  lastBytes = count;
}

void ShowError(std::string_view text) {
  if (installedSink) installedSink->ShowError(Escaped(text));
}

}  // namespace quorbit
