// The worker's three channels to the user: log files (the run log and the
// TCP/IP debug log), the status display of the front end, and the error box.
// Texts often carry what a server sent, so every channel shows a control
// character (a line feed, an escape, a NUL) as \xHH: one call is one line,
// and every log line starts with its stamp.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "util/shorttext.h"

namespace quorbit {

// "QUORBIT 1.10." followed by the build number as three digits.
std::string VersionText();

// "dd-mm-yy hh:mm:ss" of the current moment, taken through the packed date.
std::string LogStamp();

// The line of 60 '-' that follows a log's banner and precedes a run's summary.
std::string DashLine();

// A text log that is reopened in append mode and closed for every line, so the
// file is complete at any moment.
struct LogFile {
  std::string name;
  bool opened = false;

  void Init();
  bool Open(std::string_view fileName, std::string_view banner);
  void WriteLine(std::string_view text);
  void Done();
};

// What a front end shows. The worker calls these; a front end must not make
// the worker wait, except ShowError of a window, which waits for OK.
// ShowPercent and ShowByteCount also make their element visible; the status
// display hides the other one first, so that at most one of them shows.
class StatusSink {
 public:
  virtual ~StatusSink() = default;
  virtual void SetLine(int n, std::string_view text) = 0;  // n = 1..3
  virtual void AddMemoLine(std::string_view text) = 0;
  virtual void ShowPercent(int percent) = 0;
  virtual void ShowByteCount(std::string_view caption) = 0;  // "Received N bytes"
  virtual void HidePercent() = 0;
  virtual void HideByteCount() = 0;
  virtual void ShowError(std::string_view text) = 0;
};

// Installs the front end (nullptr: updates go nowhere).
void SetStatusSink(StatusSink* sink);

namespace RunLog {
// An empty name: no file, writes dropped. False when a log was named but
// cannot be opened (its lines are then dropped too).
bool Open(std::string_view logName);
void Close();
void Write(std::string_view text);  // log file only
void Show(std::string_view text);   // screen memo only
// A line for the memo, then one for the log file.
void ShowAndWrite(std::string_view screenText, std::string_view logText);
// The same for a failure: the run's outcome then says that something failed.
void ShowAndWriteFailure(std::string_view screenText, std::string_view logText);
// A failure whose line is the same on screen and in the log.
void ShowAndWriteFailure(std::string_view line);
}  // namespace RunLog

// "Transfer time " + MM:SS (minutes cut to two digits).
std::string TransferTimeText(std::int32_t seconds);

namespace StatusDisplay {
void SetLine(std::uint8_t n, std::string_view text);
void ShowPercent(int percent);
void ShowByteCount(std::int64_t bytes);
void HidePercent();
void HideByteCount();
}  // namespace StatusDisplay

// The value that ends a transfer's progress: it hides the bar or counter.
constexpr std::int32_t kProgressEnd = -1;

// Drives the progress bar and the byte counter for one transfer session,
// showing each new value once.
struct ProgressFilter {
  std::uint8_t lastPercent = 0;  // 8 bits: the end marker is kept as 255
  std::int64_t lastBytes = 0;

  void Percent(std::int32_t percent);
  void Bytes(std::int64_t count);
};

void ShowError(std::string_view text);

}  // namespace quorbit
