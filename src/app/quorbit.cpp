// Program entry: reads the flags, chooses the front end and runs the worker
// under it.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "app/consoleui.h"
#include "app/platform.h"
#include "app/worker.h"
#include "net/sockets.h"
#include "report/runlog.h"
#include "util/shorttext.h"
#include "util/stoprequest.h"

#ifdef QUORBIT_HAVE_WINDOW
#include "app/mainwindow.h"
#endif

namespace quorbit {

namespace {

enum class FrontEnd { kAutomatic, kConsole, kWindow };

struct ProgramOptions {
  FrontEnd frontEnd = FrontEnd::kAutomatic;
  bool exitStatus = false;
  bool help = false;
  bool version = false;
  int keepOpenSeconds = 0;
  std::vector<std::string> arguments;  // positional: the INI file name
};

constexpr std::string_view kKeepOpen = "--keep-open=";
constexpr int kMaxKeepOpen = 3600;

constexpr const char* kUsage =
    "Usage: quorbit [OPTION]... [INI-FILE]\n"
    "Carries out the HTTP and FTP transfers listed in INI-FILE (default QUORBIT.INI)\n"
    "and records them in the run log that the INI file names.\n"
    "\n"
    "  --console            show the run on the console\n"
    "  --window             show the run in a window\n"
    "                       (default: the window when a display is available)\n"
    "  --exit-status        exit with the run's outcome (default: 0 in all\n"
    "                       these cases):\n"
    "                         1  something was received\n"
    "                         2  something was sent\n"
    "                         4  something failed (a file, a listing, a login,\n"
    "                            an assignment; the run log says what)\n"
    "                       added up (7: received, sent and failed); 66 when the\n"
    "                       INI file cannot be opened, 78 for an error in it\n"
    "  --keep-open=SECONDS  keep the window open SECONDS longer after the run,\n"
    "                       e.g. for screenshots\n"
    "  --help               show this help and exit\n"
    "  --version            show the version and exit\n"
    "\n"
    "Whatever the flags, 64 means wrong options and 69 that the window asked for\n"
    "cannot be shown. SIGTERM, SIGINT or SIGHUP (or closing the window) stops the\n"
    "run at the next safe point, abandons the transfer in progress and exits with\n"
    "128 + the signal's number (143 for SIGTERM). Signals within one second count\n"
    "as one (timeout(1) sends two); a later one ends the program at once.\n"
    "\n"
    "An HTTP assignment's URI may be http:// or https:// (TLS 1.2 or 1.3; the\n"
    "certificate is checked against the system's trusted certificates and the\n"
    "PEM file CA_FILE in [MAIN], unless the assignment says VERIFY=NO); https\n"
    "goes through PROXY in a CONNECT tunnel. An FTP assignment with TLS=YES logs\n"
    "in and moves every file over explicit TLS (AUTH TLS), or not at all. Hosts\n"
    "may be IPv6 addresses in brackets ([::1]). Every INI key: quorbit(1).\n";

bool ParseKeepOpen(std::string_view value, int& seconds) {
  if (value.empty() || value.size() > 4) return false;
  for (char c : value) {
    if (c < '0' || c > '9') return false;
  }
  seconds = TextToInt(value);
  return seconds <= kMaxKeepOpen;
}

// False, with the reason on standard error, for a flag it does not know.
bool ParseOptions(int argc, char** argv, ProgramOptions& options) {
  bool flagsEnded = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (flagsEnded || arg.size() < 2 || arg[0] != '-') {
      options.arguments.emplace_back(arg);
    } else if (arg == "--") {
      flagsEnded = true;
    } else if (arg == "--console") {
      options.frontEnd = FrontEnd::kConsole;
    } else if (arg == "--window") {
      options.frontEnd = FrontEnd::kWindow;
    } else if (arg == "--exit-status") {
      options.exitStatus = true;
    } else if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg == "--version") {
      options.version = true;
    } else if (!arg.starts_with(kKeepOpen) ||
               !ParseKeepOpen(arg.substr(kKeepOpen.size()), options.keepOpenSeconds)) {
      std::fprintf(stderr, "quorbit: invalid option %s\nTry 'quorbit --help'.\n", argv[i]);
      return false;
    }
  }
  return true;
}

// Runs the worker under the chosen front end; false, with the reason on
// standard error, when a forced window cannot be shown.
bool RunFrontEnd(const ProgramOptions& options) {
  if (options.frontEnd == FrontEnd::kConsole) {
    RunConsole(options.arguments);
    return true;
  }
#ifdef QUORBIT_HAVE_WINDOW
  if (RunWindow(options.arguments, options.keepOpenSeconds)) return true;
  if (options.frontEnd == FrontEnd::kWindow) {
    std::fputs("quorbit: cannot open the display for the window\n", stderr);
    return false;
  }
#else
  if (options.frontEnd == FrontEnd::kWindow) {
    std::fputs("quorbit: built without the window front end\n", stderr);
    return false;
  }
#endif
  RunConsole(options.arguments);
  return true;
}

// Exit codes of a run that could not start; they lie outside the outcome
// values 0 to 7 that --exit-status reports.
constexpr int kExitUsage = 64;        // unknown option or wrong arguments
constexpr int kExitNoInput = 66;      // the INI file cannot be opened (--exit-status)
constexpr int kExitUnavailable = 69;  // the front end asked for cannot be shown
constexpr int kExitConfig = 78;       // an error in the INI file (--exit-status)

// A stop by signal always shows in the exit code, since a scheduler must not
// take a cut-off run for a finished one. The run's outcome and the reasons
// why it could not start only with --exit-status.
int ExitCode(const ProgramOptions& options) {
  if (StopExitCode() != 0) return StopExitCode();
  if (!options.exitStatus) return 0;
  if (SettingsResult.load() < 0) return kExitNoInput;
  if (SettingsResult.load() > 0) return kExitConfig;
  return RunResult.load();
}

}  // namespace

}  // namespace quorbit

using namespace quorbit;

int main(int argc, char** argv) {
  AttachStartingConsole();
  ProgramOptions options;
  if (!ParseOptions(argc, argv, options)) return kExitUsage;
  if (options.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (options.version) {
    std::puts(VersionText().c_str());
    return 0;
  }
  InstallStopSignalHandlers();
  SocketStartup();
  if (!RunFrontEnd(options)) return kExitUnavailable;
  return ExitCode(options);
}
