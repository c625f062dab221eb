#include "app/mainwindow.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Progress.H>
#include <FL/Fl_Return_Button.H>
#include <FL/Fl_Text_Buffer.H>
#include <FL/Fl_Text_Display.H>
#include <FL/Fl_Window.H>
#include <FL/fl_draw.H>
#include <FL/fl_utf8.h>
#include <FL/x.H>

#include <algorithm>
#include <csignal>
#include <string>
#include <vector>

#include "app/updatequeue.h"
#include "app/worker.h"
#include "util/stoprequest.h"

namespace quorbit {

// The main window over FLTK.
class MainWindow : public Fl_Double_Window, private StatusSink {
 public:
  // keepOpenSeconds: how long the window stays after the worker finished,
  // beyond the usual poll tick (0 normally; screenshots need more).
  MainWindow(const std::vector<std::string>& arguments, int keepOpenSeconds);
  ~MainWindow() override;
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // Controls in the order of the window's design; Timer1 is the repeated
  // one-second timeout that calls Poll.
  Fl_Text_Display* logView;
  Fl_Box* Line1;
  Fl_Box* Line3;
  Fl_Progress* ProgressBar;
  Fl_Box* Line2;
  Fl_Box* Received;

  // First activation: prepares the controls and starts the worker; later
  // activations do nothing.
  void Startup();
  // Every second: closes the window once the worker has finished.
  void Poll();

  int handle(int event) override;

 private:
  static void OnTimer1(void* form);
  static void OnUpdates(void* form);
  static void OnClose(Fl_Widget* window, void*);
  void ApplyUpdates();
  void SetLine(int n, std::string_view text) override;
  void AddMemoLine(std::string_view text) override;
  void ShowPercent(int percent) override;
  void ShowByteCount(std::string_view caption) override;
  void HidePercent() override;
  void HideByteCount() override;
  void ShowError(std::string_view text) override;

  Fl_Text_Buffer memoText_;
  UpdateQueue updates_;
  WorkerThread worker_;
  std::vector<std::string> arguments_;
  int keepOpenTicks_;
};

namespace {

// Client area of the 433 x 300 outer window of the design.
constexpr int kClientWidth = 425;
constexpr int kClientHeight = 273;
constexpr int kFontSize = 11;  // 8 point at 96 pixels per inch
constexpr double kPollSeconds = 1.0;
// FLTK draws a left-aligned label this far inside its box, so a label box
// starts that much left of its text and is that much wider on both sides.
constexpr int kLabelInset = 3;

// Texts are 8-bit: UTF-8 is shown as it is, anything else is taken as
// Latin-1.
std::string DisplayText(std::string_view text) {
  auto length = static_cast<unsigned>(text.size());
  if (fl_utf8test(text.data(), length) != 0) return std::string(text);
  std::string utf8(text.size() * 2 + 1, '\0');
  unsigned made =
      fl_utf8froma(utf8.data(), static_cast<unsigned>(utf8.size()), text.data(), length);
  utf8.resize(std::min<std::size_t>(made, utf8.size() - 1));
  return utf8;
}

// The text of a label: '@' would start an FLTK symbol, so it is doubled to
// show as itself.
std::string LabelText(std::string_view text) {
  std::string shown;
  for (char c : DisplayText(text)) {
    shown += c;
    if (c == '@') shown += '@';
  }
  return shown;
}

// Sets a label's text and sizes the label to it.
void SetCaption(Fl_Box* label, std::string_view text) {
  label->copy_label(LabelText(text).c_str());
  int width = 0;
  int height = 0;
  fl_font(label->labelfont(), label->labelsize());
  fl_measure(label->label(), width, height, 0);
  label->size(width + 2 * kLabelInset, label->h());
  if (label->window()) label->window()->redraw();
}

Fl_Box* MakeLabel(int left, int top, int width, std::string_view caption) {
  auto* label = new Fl_Box(left - kLabelInset, top, width + 2 * kLabelInset, 13);
  label->box(FL_NO_BOX);
  label->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_CLIP);
  label->labelsize(kFontSize);
  SetCaption(label, caption);
  return label;
}

void CentreOnScreen(Fl_Window& window) {
  window.position((Fl::w() - window.w()) / 2, (Fl::h() - window.h()) / 2);
}

}  // namespace

MainWindow::MainWindow(const std::vector<std::string>& arguments, int keepOpenSeconds)
    : Fl_Double_Window(kClientWidth, kClientHeight, "Quorbit"),
      updates_(/*errorsWait=*/true, [this] { Fl::awake(OnUpdates, this); }),
      arguments_(arguments),
      keepOpenTicks_(keepOpenSeconds) {
  labelsize(kFontSize);
  logView = new Fl_Text_Display(8, 80, 409, 161);
  logView->buffer(&memoText_);
  logView->textsize(kFontSize);
  logView->textfont(FL_HELVETICA);
  logView->wrap_mode(Fl_Text_Display::WRAP_AT_BOUNDS, 0);
  Line1 = MakeLabel(8, 8, 26, "Line1");
  Line3 = MakeLabel(8, 56, 26, "Line3");
  ProgressBar = new Fl_Progress(8, 248, 409, 17);
  ProgressBar->minimum(0);
  ProgressBar->maximum(100);
  ProgressBar->value(0);
  ProgressBar->selection_color(fl_rgb_color(0, 0, 128));
  Line2 = MakeLabel(8, 32, 26, "Line2");
  Received = MakeLabel(8, 248, 46, "Received");
  end();
  // Tab order: the memo first, then the bar.
  insert(*logView, 0);
  insert(*ProgressBar, 1);
  xclass("Quorbit");
  callback(OnClose);
  CentreOnScreen(*this);
  Fl::add_timeout(kPollSeconds, OnTimer1, this);
}

MainWindow::~MainWindow() {
  Fl::remove_timeout(OnTimer1, this);
  // The memo refers to memoText_, which goes after this body: the controls
  // go first.
  clear();
}

int MainWindow::handle(int event) {
  int handled = Fl_Double_Window::handle(event);
  if (event == FL_SHOW && shown()) Startup();
  return handled;
}

void MainWindow::Startup() {
  if (worker_.Started()) return;
  memoText_.text("");
  Received->hide();
  copy_label(VersionText().c_str());
  SetStatusSink(&updates_);
  worker_.Start(arguments_);
}

void MainWindow::Poll() {
  if (!WorkerFinished()) return;
  if (keepOpenTicks_ > 0) {
    --keepOpenTicks_;
    return;
  }
  hide();
}

void MainWindow::OnTimer1(void* form) {
  static_cast<MainWindow*>(form)->Poll();
  Fl::repeat_timeout(kPollSeconds, OnTimer1, form);
}

void MainWindow::OnUpdates(void* form) {
  static_cast<MainWindow*>(form)->ApplyUpdates();
}

void MainWindow::OnClose(Fl_Widget* window, void*) {
  // Like a form of the original system, the window does not close on Escape.
  if (Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape) return;
  // During the run the close button stops it as SIGTERM would: the worker
  // ends at its next safe point and Poll then closes the window. A second
  // click does not wait for that.
  if (!WorkerFinished() && !StopRequested()) {
    RequestStop(SIGTERM);
    return;
  }
  window->hide();
}

void MainWindow::ApplyUpdates() {
  for (const StatusUpdate& update : updates_.TakeAll()) Deliver(update, *this);
}

void MainWindow::SetLine(int n, std::string_view text) {
  Fl_Box* const lines[] = {Line1, Line2, Line3};
  if (n >= 1 && n <= 3) SetCaption(lines[n - 1], text);
}

void MainWindow::ShowPercent(int percent) {
  ProgressBar->show();
  ProgressBar->value(static_cast<float>(percent));
}

void MainWindow::ShowByteCount(std::string_view caption) {
  Received->show();
  SetCaption(Received, caption);
}

void MainWindow::HidePercent() {
  ProgressBar->hide();
}

void MainWindow::HideByteCount() {
  Received->hide();
}

void MainWindow::ShowError(std::string_view text) {
  ShowErrorBox(text);
  updates_.ErrorDismissed();
}

void MainWindow::AddMemoLine(std::string_view text) {
  if (memoText_.length() > 0) memoText_.append("\n");
  memoText_.append(DisplayText(text).c_str());
  logView->insert_position(memoText_.length());
  logView->show_insert_position();
}

void ShowErrorBox(std::string_view text) {
  std::string message = LabelText(text);
  fl_font(FL_HELVETICA, kFontSize);
  int textWidth = 0;
  int textHeight = 0;
  fl_measure(message.c_str(), textWidth, textHeight, 0);
  int width = std::max(200, textWidth + 76);
  Fl_Window box(width, 98, "Error");
  auto* symbol = new Fl_Box(16, 16, 32, 32, "X");
  symbol->box(FL_OVAL_BOX);
  symbol->color(FL_RED);
  symbol->labelcolor(FL_WHITE);
  symbol->labelfont(FL_HELVETICA_BOLD);
  symbol->labelsize(16);
  auto* label = new Fl_Box(60, 16, width - 76, 32);
  label->copy_label(message.c_str());
  label->labelsize(kFontSize);
  label->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE);
  auto* ok = new Fl_Return_Button((width - 75) / 2, 62, 75, 23, "OK");
  ok->labelsize(kFontSize);
  ok->callback([](Fl_Widget* button, void*) { button->window()->hide(); });
  box.end();
  box.set_modal();
  CentreOnScreen(box);
  box.show();
  // A requested stop dismisses the box: nobody may be there to press OK.
  while (box.shown() && !StopRequested()) Fl::wait(kPollSeconds);
}

bool RunWindow(const std::vector<std::string>& arguments, int keepOpenSeconds) {
  Display* display = XOpenDisplay(nullptr);
  if (!display) return false;
  fl_open_display(display);
  Fl::lock();  // lets the worker wake the event loop through Fl::awake
  {
    MainWindow form(arguments, keepOpenSeconds);
    form.show();
    Fl::run();
  }
  SetStatusSink(nullptr);
  Fl::unlock();
  return true;
}

}  // namespace quorbit
