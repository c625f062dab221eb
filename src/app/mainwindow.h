// The window front end: the main window with its three status lines,
// the on-screen log, the progress bar and the byte counter.
#pragma once

#include <FL/Fl_Box.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Progress.H>
#include <FL/Fl_Text_Buffer.H>
#include <FL/Fl_Text_Display.H>

#include <string>
#include <vector>

#include "app/updatequeue.h"
#include "app/worker.h"

class MainWindow : public Fl_Double_Window {
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
  void Apply(const StatusUpdate& update);
  void AddMemoLine(std::string_view text);

  Fl_Text_Buffer memoText_;
  UpdateQueue updates_;
  WorkerThread worker_;
  std::vector<std::string> arguments_;
  int keepOpenTicks_;
};

// Modal error box, centred on the screen; returns once dismissed.
void ShowErrorBox(std::string_view text);

// Runs the worker with the window front end and returns once the window has
// closed; false (and nothing run) when no display can be opened.
bool RunWindow(const std::vector<std::string>& arguments, int keepOpenSeconds);
