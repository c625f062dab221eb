// The main window over the native Win32 controls: a STATIC label per status
// line and for the byte counter, a read-only multi-line EDIT for the log and
// the common controls' progress bar.
#include <windows.h>
// windows.h first: commctrl.h builds on its types.
#include <commctrl.h>

#include <atomic>
#include <csignal>
#include <string>
#include <vector>

#include "app/mainwindow.h"
#include "app/updatequeue.h"
#include "app/worker.h"
#include "util/stoprequest.h"

namespace quorbit {

namespace {

// Client area of the 433 x 300 outer window of the design.
constexpr int kClientWidth = 425;
constexpr int kClientHeight = 273;
constexpr int kLabelHeight = 13;
constexpr int kFontHeight = -11;  // 8 point at 96 pixels per inch
constexpr UINT kPollMilliseconds = 1000;
constexpr UINT_PTR kTimer1 = 1;
// How long the end of the session waits for a stopped worker: 40 x 100 ms.
constexpr int kSessionEndTicks = 40;
constexpr DWORD kSessionEndTick = 100;
// Posted by the worker's thread when updates wait in the queue.
constexpr UINT kUpdatesArrived = WM_APP + 1;
constexpr const wchar_t* kWindowClass = L"QuorbitMainWindow";

// Texts are 8-bit: UTF-8 is shown as it is, anything else is read in the
// system's ANSI code page, as the original program showed every text.
std::wstring WideText(std::string_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  for (UINT codePage : {CP_UTF8, CP_ACP}) {
    const DWORD flags = codePage == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
    const int length = MultiByteToWideChar(codePage, flags, text.data(), size, nullptr, 0);
    if (length <= 0) continue;
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(codePage, flags, text.data(), size, wide.data(), length);
    return wide;
  }
  return {};
}

// The design's font, "MS Sans Serif" 8 point, released with its owner.
struct FormFont {
  FormFont()
      : handle(CreateFontW(kFontHeight, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                           OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                           DEFAULT_PITCH | FF_SWISS, L"MS Sans Serif")) {}
  ~FormFont() {
    if (handle) DeleteObject(handle);
  }
  FormFont(const FormFont&) = delete;
  FormFont& operator=(const FormFont&) = delete;
  HFONT handle;
};

class MainWindow : private StatusSink {
 public:
  // keepOpenSeconds: how long the window stays after the worker finished,
  // beyond the usual poll tick (0 normally; screenshots need more).
  MainWindow(const std::vector<std::string>& arguments, int keepOpenSeconds);
  ~MainWindow();
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // Creates the window and its controls as the design lays them out,
  // centred on the screen and not yet shown; false when Windows refuses.
  bool Create();
  HWND Handle() const { return window_; }
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

 private:
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  HWND AddControl(const wchar_t* windowClass, DWORD style, DWORD exStyle, int left, int top,
                  int width, int height);
  HWND AddLabel(int left, int top, std::string_view caption);
  void SetCaption(HWND label, std::string_view text);

  // First activation: prepares the controls and starts the worker; later
  // activations do nothing.
  void Startup();
  // Every second: closes the window once the worker has finished.
  void Poll();
  void Close();
  void EndWithSession();
  void ApplyUpdates();
  void SetLine(int n, std::string_view text) override;
  void AddMemoLine(std::string_view text) override;
  void ShowPercent(int percent) override;
  void ShowByteCount(std::string_view caption) override;
  void HidePercent() override;
  void HideByteCount() override;
  void ShowError(std::string_view text) override;

  HWND window_ = nullptr;
  // Controls in the order of the window's design; the memo comes first in
  // the tab order, the bar second. Timer1 is the timer kTimer1.
  HWND Outputmemo = nullptr;
  HWND Line1 = nullptr;
  HWND Line3 = nullptr;
  HWND ProgressBar = nullptr;
  HWND Line2 = nullptr;
  HWND Received = nullptr;

  FormFont font_;
  // The window as the worker's thread sees it: set once it exists, never
  // cleared (a message to a window that is gone is dropped).
  std::atomic<HWND> updatesTarget_{nullptr};
  UpdateQueue updates_;
  WorkerThread worker_;
  std::vector<std::string> arguments_;
  int keepOpenTicks_;
};

MainWindow::MainWindow(const std::vector<std::string>& arguments, int keepOpenSeconds)
    : updates_(/*errorsWait=*/true,
               [this] { PostMessageW(updatesTarget_.load(), kUpdatesArrived, 0, 0); }),
      arguments_(arguments),
      keepOpenTicks_(keepOpenSeconds) {}

MainWindow::~MainWindow() {
  if (window_) DestroyWindow(window_);
}

bool MainWindow::Create() {
  constexpr DWORD kStyle = WS_OVERLAPPEDWINDOW;
  RECT frame{0, 0, kClientWidth, kClientHeight};
  AdjustWindowRectEx(&frame, kStyle, FALSE, 0);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  const int left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  window_ = CreateWindowExW(0, kWindowClass, L"Quorbit", kStyle, left, top, width, height, nullptr,
                            nullptr, GetModuleHandleW(nullptr), this);
  if (!window_) return false;
  updatesTarget_.store(window_);

  Outputmemo =
      AddControl(L"EDIT", WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL,
                 WS_EX_CLIENTEDGE, 8, 80, 409, 161);
  // The memo keeps every line of the run, beyond the control's usual 32K.
  SendMessageW(Outputmemo, EM_SETLIMITTEXT, 0, 0);
  Line1 = AddLabel(8, 8, "Line1");
  Line3 = AddLabel(8, 56, "Line3");
  ProgressBar = AddControl(PROGRESS_CLASSW, WS_TABSTOP, 0, 8, 248, 409, 17);
  SendMessageW(ProgressBar, PBM_SETRANGE32, 0, 100);
  SendMessageW(ProgressBar, PBM_SETPOS, 0, 0);
  Line2 = AddLabel(8, 32, "Line2");
  Received = AddLabel(8, 248, "Received");
  SetTimer(window_, kTimer1, kPollMilliseconds, nullptr);
  return true;
}

HWND MainWindow::AddControl(const wchar_t* windowClass, DWORD style, DWORD exStyle, int left,
                            int top, int width, int height) {
  HWND control =
      CreateWindowExW(exStyle, windowClass, L"", WS_CHILD | WS_VISIBLE | style, left, top, width,
                      height, window_, nullptr, GetModuleHandleW(nullptr), nullptr);
  SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_.handle), FALSE);
  return control;
}

// SS_NOPREFIX: an '&' in a text shows as itself.
HWND MainWindow::AddLabel(int left, int top, std::string_view caption) {
  HWND label = AddControl(L"STATIC", SS_LEFT | SS_NOPREFIX, 0, left, top, 0, kLabelHeight);
  SetCaption(label, caption);
  return label;
}

// Sets a label's text and sizes the label to it.
void MainWindow::SetCaption(HWND label, std::string_view text) {
  const std::wstring wide = WideText(text);
  SIZE extent{0, kLabelHeight};
  HDC context = GetDC(label);
  HGDIOBJ previous = SelectObject(context, font_.handle);
  GetTextExtentPoint32W(context, wide.c_str(), static_cast<int>(wide.size()), &extent);
  SelectObject(context, previous);
  ReleaseDC(label, context);
  // Sized first, so that the text is never laid out (and wrapped) in the
  // old width.
  SetWindowPos(label, nullptr, 0, 0, extent.cx, kLabelHeight,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  SetWindowTextW(label, wide.c_str());
}

LRESULT CALLBACK MainWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    auto* form = static_cast<MainWindow*>(create->lpCreateParams);
    form->window_ = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
  }
  auto* form = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (message == WM_NCDESTROY && form) {
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    form->window_ = nullptr;
    form = nullptr;
  }
  if (!form) return DefWindowProcW(window, message, wParam, lParam);
  return form->HandleMessage(message, wParam, lParam);
}

LRESULT MainWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_ACTIVATE:
      if (LOWORD(wParam) != WA_INACTIVE) Startup();
      break;
    case WM_TIMER:
      if (wParam == kTimer1) Poll();
      return 0;
    case kUpdatesArrived:
      ApplyUpdates();
      return 0;
    case WM_CTLCOLORSTATIC:
      // The read-only memo keeps the white of a text box.
      if (reinterpret_cast<HWND>(lParam) == Outputmemo) {
        HDC context = reinterpret_cast<HDC>(wParam);
        SetTextColor(context, GetSysColor(COLOR_WINDOWTEXT));
        SetBkColor(context, GetSysColor(COLOR_WINDOW));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
      }
      break;
    case WM_CLOSE:
      Close();
      return 0;
    case WM_ENDSESSION:
      if (wParam) EndWithSession();
      return 0;
    case WM_DESTROY:
      KillTimer(window_, kTimer1);
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window_, message, wParam, lParam);
}

void MainWindow::Startup() {
  if (worker_.Started()) return;
  SetWindowTextW(Outputmemo, L"");
  ShowWindow(Received, SW_HIDE);
  SetWindowTextW(window_, WideText(VersionText()).c_str());
  SetStatusSink(&updates_);
  worker_.Start(arguments_);
}

// Closes the error boxes of this thread as if OK had been pressed.
BOOL CALLBACK DismissErrorBox(HWND window, LPARAM) {
  wchar_t className[16] = {};
  GetClassNameW(window, className, 16);
  if (std::wstring_view(className) == L"#32770")
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  return TRUE;
}

void MainWindow::Poll() {
  // A window started minimized or hidden (a shortcut's "Run: Minimized")
  // may never be activated; nobody may be there to do it, so the run starts
  // at the first tick all the same.
  Startup();
  // A requested stop dismisses the error box: nobody may be there to press
  // OK. The box's own message loop runs this timer too.
  if (StopRequested()) EnumThreadWindows(GetCurrentThreadId(), DismissErrorBox, 0);
  if (!WorkerFinished()) return;
  if (keepOpenTicks_ > 0) {
    --keepOpenTicks_;
    return;
  }
  DestroyWindow(window_);
}

// During the run the close button stops it as SIGTERM would: the worker ends
// at its next safe point and Poll then closes the window. A second click
// does not wait for that.
void MainWindow::Close() {
  if (!WorkerFinished() && !StopRequested()) {
    RequestStop(SIGTERM);
    return;
  }
  DestroyWindow(window_);
}

// The user logs off or the system shuts down, and the process ends when this
// returns: the run stops as SIGTERM would, and the worker gets a few seconds
// to abandon its transfer and finish the run log; a part file it still
// writes then is removed.
void MainWindow::EndWithSession() {
  RequestStop(SIGTERM);
  for (int tick = 0; tick < kSessionEndTicks && !WorkerFinished(); ++tick) Sleep(kSessionEndTick);
  if (!WorkerFinished()) RemovePartFilesInProgress([](const char* path) { DeleteFileA(path); });
}

void MainWindow::ApplyUpdates() {
  for (const StatusUpdate& update : updates_.TakeAll()) Deliver(update, *this);
}

void MainWindow::SetLine(int n, std::string_view text) {
  HWND const lines[] = {Line1, Line2, Line3};
  if (n >= 1 && n <= 3) SetCaption(lines[n - 1], text);
}

void MainWindow::ShowPercent(int percent) {
  ShowWindow(ProgressBar, SW_SHOWNA);
  SendMessageW(ProgressBar, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
}

void MainWindow::ShowByteCount(std::string_view caption) {
  ShowWindow(Received, SW_SHOWNA);
  SetCaption(Received, caption);
}

void MainWindow::HidePercent() {
  ShowWindow(ProgressBar, SW_HIDE);
}

void MainWindow::HideByteCount() {
  ShowWindow(Received, SW_HIDE);
}

void MainWindow::ShowError(std::string_view text) {
  ShowErrorBox(text);
  updates_.ErrorDismissed();
}

void MainWindow::AddMemoLine(std::string_view text) {
  std::wstring line = WideText(text);
  const int length = GetWindowTextLengthW(Outputmemo);
  if (length > 0) line.insert(0, L"\r\n");
  SendMessageW(Outputmemo, EM_SETSEL, static_cast<WPARAM>(length), length);
  SendMessageW(Outputmemo, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(line.c_str()));
  SendMessageW(Outputmemo, EM_SCROLLCARET, 0, 0);
}

bool RegisterWindowClass() {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = MainWindow::WindowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  // The stock application icon and arrow (IDI_APPLICATION and IDC_ARROW,
  // which name the ANSI forms unless UNICODE is defined).
  windowClass.hIcon = LoadIconW(nullptr, MAKEINTRESOURCEW(32512));
  windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
  windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  windowClass.lpszClassName = kWindowClass;
  return RegisterClassExW(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

// The message loop until the window is gone; the dialog keys move the focus
// between the memo and the bar.
void RunMessageLoop(HWND window) {
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (IsWindow(window) && IsDialogMessageW(window, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

}  // namespace

void ShowErrorBox(std::string_view text) {
  // No owner and task-modal: centred on the screen, the main window
  // disabled until OK.
  MessageBoxW(nullptr, WideText(text).c_str(), L"Error",
              MB_OK | MB_ICONERROR | MB_TASKMODAL | MB_SETFOREGROUND);
}

bool RunWindow(const std::vector<std::string>& arguments, int keepOpenSeconds) {
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_PROGRESS_CLASS};
  if (!InitCommonControlsEx(&controls) || !RegisterWindowClass()) return false;
  {
    MainWindow form(arguments, keepOpenSeconds);
    if (!form.Create()) return false;
    ShowWindow(form.Handle(), SW_SHOWNORMAL);
    SetForegroundWindow(form.Handle());
    RunMessageLoop(form.Handle());
  }
  SetStatusSink(nullptr);
  return true;
}

}  // namespace quorbit
