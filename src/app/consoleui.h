// The console front end: for terminals and headless runs (cron, CI).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "app/updatequeue.h"
#include "util/shorttext.h"

namespace quorbit {

// Shows status updates on a console. On a terminal the three status lines
// and the progress bar or byte counter stay at the bottom while log lines
// scroll above them; otherwise only plain lines are written: log lines and
// changed status lines, never control characters. Errors go to err.
class ConsoleView : private StatusSink {
 public:
  // Where the lines go: out takes the memo and the footer, err the errors.
  struct Streams {
    std::FILE* out;
    std::FILE* err;
  };
  ConsoleView(const Streams& streams, bool terminal);
  void Apply(const std::vector<StatusUpdate>& updates);

 private:
  void SetLine(int n, std::string_view text) override;
  void AddMemoLine(std::string_view text) override;
  void ShowPercent(int percent) override;
  void ShowByteCount(std::string_view caption) override;
  void HidePercent() override;
  void HideByteCount() override;
  void ShowError(std::string_view text) override;
  void PrintLine(std::FILE* file, std::string_view text);
  void ClearFooter();
  void DrawFooter();
  std::string BarRow(int columns) const;

  std::FILE* out_;
  std::FILE* err_;
  bool terminal_;
  std::string lines_[3];
  std::string counterCaption_;
  int percent_ = 0;
  bool barVisible_ = true;
  bool counterVisible_ = false;
  bool footerDrawn_ = false;
};

// Runs the worker with the console front end and returns once it has
// finished.
void RunConsole(const std::vector<std::string>& arguments);

}  // namespace quorbit
