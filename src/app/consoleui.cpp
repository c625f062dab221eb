#include "app/consoleui.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <string_view>

#include "app/platform.h"
#include "app/worker.h"

namespace quorbit {

namespace {

constexpr int kFooterRows = 4;  // three status lines and the bar or counter
constexpr int kBarWidth = 40;
constexpr auto kPollInterval = std::chrono::milliseconds(100);

// Texts come from servers and files: control characters in them would move
// the cursor or change the terminal, so they become blanks.
std::string Printable(std::string_view text) {
  std::string shown(text);
  for (char& c : shown) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) c = ' ';
  }
  return shown;
}

int TerminalColumns(std::FILE* file) {
  const int columns = ConsoleColumns(file);
  return columns > 0 ? columns : 80;
}

void Put(std::FILE* file, std::string_view text) {
  if (!text.empty()) std::fwrite(text.data(), 1, text.size(), file);
}

}  // namespace

ConsoleView::ConsoleView(const Streams& streams, bool terminal)
    : out_(streams.out), err_(streams.err), terminal_(terminal) {}

void ConsoleView::Apply(const std::vector<StatusUpdate>& updates) {
  for (const StatusUpdate& update : updates) Deliver(update, *this);
  if (terminal_ && (!updates.empty() || !footerDrawn_)) DrawFooter();
  std::fflush(out_);
}

void ConsoleView::PrintLine(std::FILE* file, std::string_view text) {
  Put(file, Printable(text));
  Put(file, "\n");
}

void ConsoleView::AddMemoLine(std::string_view text) {
  ClearFooter();
  PrintLine(out_, text);
}

void ConsoleView::ShowPercent(int percent) {
  percent_ = percent < 0 ? 0 : (percent > 100 ? 100 : percent);
  barVisible_ = true;
}

void ConsoleView::ShowByteCount(std::string_view caption) {
  counterCaption_ = caption;
  counterVisible_ = true;
}

void ConsoleView::HidePercent() {
  barVisible_ = false;
}

void ConsoleView::HideByteCount() {
  counterVisible_ = false;
}

void ConsoleView::ShowError(std::string_view text) {
  ClearFooter();
  std::fflush(out_);
  PrintLine(err_, "quorbit: " + std::string(text));
  std::fflush(err_);
}

void ConsoleView::SetLine(int n, std::string_view text) {
  if (n < 1 || n > 3) return;
  std::string& line = lines_[n - 1];
  // Without a footer a status line is printed when it changes, so repeated
  // updates of the same step do not fill a cron mail.
  if (!terminal_ && !text.empty() && line != text) PrintLine(out_, text);
  line = text;
}

void ConsoleView::ClearFooter() {
  if (!footerDrawn_) return;
  // Up to the first footer row, to its start, and clear to the end of screen.
  Put(out_, "\x1b[" + std::to_string(kFooterRows) + "A\r\x1b[J");
  footerDrawn_ = false;
}

std::string ConsoleView::BarRow(int columns) const {
  if (counterVisible_) return counterCaption_;
  if (!barVisible_) return {};
  int width = columns - 8 < kBarWidth ? columns - 8 : kBarWidth;
  if (width < 1) width = 1;
  int filled = percent_ * width / 100;
  std::string row = "[";
  row.append(static_cast<std::size_t>(filled), '#');
  row.append(static_cast<std::size_t>(width - filled), ' ');
  row += "] ";
  row += PadLeft(IntToText(percent_), 3, ' ');
  row += "%";
  return row;
}

void ConsoleView::DrawFooter() {
  ClearFooter();
  int columns = TerminalColumns(out_);
  // Each row stays shorter than the terminal, so that none wraps and the
  // footer keeps its four rows for the next erase.
  auto visible = static_cast<std::size_t>(columns > 1 ? columns - 1 : 1);
  const std::string rows[kFooterRows] = {lines_[0], lines_[1], lines_[2], BarRow(columns)};
  for (const std::string& row : rows) PrintLine(out_, std::string_view(row).substr(0, visible));
  footerDrawn_ = true;
}

// Lets the console sleep between refreshes and still notice at once that
// the worker has finished.
class FinishSignal {
 public:
  void Notify() {
    {
      std::lock_guard lock(mutex_);
      finished_ = true;
    }
    changed_.notify_one();
  }
  void WaitAtMost(std::chrono::milliseconds interval) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, interval, [this] { return finished_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool finished_ = false;
};

void RunConsole(const std::vector<std::string>& arguments) {
  UpdateQueue updates(/*errorsWait=*/false);
  ConsoleView view({.out = stdout, .err = stderr}, StdoutIsTerminal());
  FinishSignal finish;
  SetStatusSink(&updates);
  {
    WorkerThread worker;
    worker.Start(arguments, [&finish] { finish.Notify(); });
    for (;;) {
      // Read before taking, so that the last batch holds every update the
      // worker made before it finished.
      bool finished = WorkerFinished();
      view.Apply(updates.TakeAll());
      if (finished) break;
      finish.WaitAtMost(kPollInterval);
    }
  }
  SetStatusSink(nullptr);
}

}  // namespace quorbit
