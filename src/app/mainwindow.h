// The window front end: the main window with its three status lines,
// the on-screen log, the progress bar and the byte counter. mainwindow.cpp
// draws it with FLTK, mainwindow_windows.cpp with the native Win32 controls.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quorbit {

// Modal error box, centred on the screen; returns once dismissed.
void ShowErrorBox(std::string_view text);

// Runs the worker with the window front end and returns once the window has
// closed; false (and nothing run) when no display can be opened.
bool RunWindow(const std::vector<std::string>& arguments, int keepOpenSeconds);

}  // namespace quorbit
