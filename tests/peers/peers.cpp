#include "peers/peers.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>

#include "util/localpaths.h"

namespace quorbit {

namespace fs = std::filesystem;

namespace {

#ifndef _WIN32
double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::vector<char*> ArgvPointers(const std::vector<std::string>& argv) {
  std::vector<char*> p;
  p.reserve(argv.size() + 1);
  for (const auto& a : argv) p.push_back(const_cast<char*>(a.c_str()));
  p.push_back(nullptr);
  return p;
}

// Waits for pid up to timeoutSeconds; kills its group when it takes longer.
int WaitOrKill(pid_t pid, double timeoutSeconds) {
  double deadline = Now() + timeoutSeconds;
  int status = 0;
  for (;;) {
    pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (r < 0) return -1;
    if (Now() > deadline) {
      kill(-pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    usleep(10000);
  }
}

// Cases labelled unit run with QUORBIT_UNIT_TEST set (tests/CMakeLists.txt):
// they must need no child process, so that the unit label runs alone in
// seconds. A case that starts one fails here and names where to list it.
bool ChildProcessAllowed() {
  if (std::getenv("QUORBIT_UNIT_TEST") == nullptr) return true;
  ADD_FAILURE() << "a case labelled unit starts a child process: name its suite among the peer "
                   "or program suites of tests/CMakeLists.txt";
  return false;
}
#endif

// The program names files in UTF-8 on every system; so do the tests, which
// on Windows must say so, or the paths would be read in the ANSI code page.
fs::path Utf8Path(std::string_view path) {
  return fs::path(std::u8string(path.begin(), path.end()));
}

std::string Utf8Name(const fs::path& path) {
  const std::u8string name = path.u8string();
  return std::string(name.begin(), name.end());
}

}  // namespace

std::string PeersDir() {
  return QUORBIT_PEERS_DIR;
}
std::string SourceDir() {
  return QUORBIT_SOURCE_DIR;
}

TempDir::TempDir() {
  // Six random letters or digits, as mkdtemp makes them: the paths of the
  // tests stay short enough for the fixed-size fields they end up in.
  static constexpr std::string_view kLetters = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device seed;
  std::error_code ec;
  const fs::path base = fs::temp_directory_path(ec);
  // A name nobody has taken: create_directory fails on an existing one.
  for (int attempt = 0; attempt < 100 && path_.empty() && !ec; ++attempt) {
    std::string name = "quorbit-test-";
    for (int i = 0; i < 6; ++i) name += kLetters[seed() % kLetters.size()];
    if (fs::create_directory(base / name, ec)) path_ = (base / name).string();
  }
  while (path_.size() > 1 && (path_.back() == '/' || path_.back() == kPathSep)) path_.pop_back();
}

TempDir::~TempDir() {
  std::error_code ec;
  if (!path_.empty()) {
    // Make everything writable again so that read-only test files go too.
    for (auto it = fs::recursive_directory_iterator(path_, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
      if (!it->is_symlink())
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
  }
}

std::string TempDir::operator/(std::string_view name) const {
  std::string path = path_ + kPathSep + std::string(name);
  std::replace(path.begin(), path.end(), '/', kPathSep);
  return path;
}

std::string NativePath(std::string_view path) {
  std::string native(path);
  std::replace(native.begin(), native.end(), '/', kPathSep);
  if (kPathSep == '\\' && native.starts_with(kPathSep)) native.insert(0, "C:");
  return native;
}

std::string NativeLines(std::string_view text) {
  std::string native;
  for (char c : text) {
    if (c == '\n' && kPathSep == '\\') native += '\r';
    native += c;
  }
  return native;
}

#ifndef _WIN32
int FreeLoopbackPort() {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  if (s < 0) return 0;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = 0;
  socklen_t n = sizeof a;
  int port = 0;
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(s, reinterpret_cast<sockaddr*>(&a), &n) == 0) {
    port = ntohs(a.sin_port);
  }
  close(s);
  return port;
}

bool HasIpv6Loopback() {
  int s = socket(AF_INET6, SOCK_STREAM, 0);
  if (s < 0) return false;
  sockaddr_in6 a{};
  a.sin6_family = AF_INET6;
  a.sin6_addr = in6addr_loopback;
  bool bound = bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(s);
  return bound;
}
#endif

std::string ReadFile(const std::string& path) {
  std::ifstream in(Utf8Path(path), std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, std::string_view data) {
  fs::create_directories(Utf8Path(path).parent_path());
  std::ofstream out(Utf8Path(path), std::ios::binary | std::ios::trunc);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
}

bool PathExists(const std::string& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(Utf8Path(path), ec));
}

std::vector<std::string> DirectoryNames(const std::string& directory) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(Utf8Path(directory))) {
    names.push_back(Utf8Name(entry.path().filename()));
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string RandomBytes(std::size_t count) {
  std::mt19937 generator(20240605);
  std::string bytes(count, '\0');
  for (char& byte : bytes) byte = static_cast<char>(generator());
  return bytes;
}

std::vector<std::string> LogFileTexts(const std::string& path) {
  static const std::regex stamped(R"(\d\d-\d\d-\d\d \d\d:\d\d:\d\d  (.*))");
  const std::string text = ReadFile(path);
  std::vector<std::string> texts;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    std::string line = text.substr(start, end - start);
    // A line ends with the platform's line end: CR LF on Windows.
    if (kPathSep == '\\' && !line.empty() && line.back() == '\r') {
      line.pop_back();
    } else if (kPathSep == '\\') {
      texts.push_back("<bad>" + line);
      continue;
    }
    std::smatch m;
    if (line.empty()) {
      texts.emplace_back();
    } else if (std::regex_match(line, m, stamped)) {
      texts.push_back(m[1]);
    } else {
      texts.push_back("<bad>" + line);
    }
  }
  EXPECT_EQ(start, text.size()) << path << ": the last line has no line end";
  return texts;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double ProcessorSeconds() {
#ifdef _WIN32
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  auto seconds = [](const FILETIME& t) {
    return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) |
                               t.dwLowDateTime) /
           1e7;
  };
  return seconds(kernel) + seconds(user);
#else
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
#endif
}

InDirectory::InDirectory(const std::string& path) : previous_(fs::current_path().string()) {
  std::error_code ec;
  fs::current_path(path, ec);
  EXPECT_FALSE(ec) << path;
}

InDirectory::~InDirectory() {
  std::error_code ec;
  fs::current_path(previous_, ec);
  EXPECT_FALSE(ec) << previous_;
}

#ifndef _WIN32

FileSizeLimit::FileSizeLimit(rlim_t bytes) {
  getrlimit(RLIMIT_FSIZE, &saved_);
  previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
  rlimit limit = saved_;
  limit.rlim_cur = bytes;
  setrlimit(RLIMIT_FSIZE, &limit);
}

FileSizeLimit::~FileSizeLimit() {
  setrlimit(RLIMIT_FSIZE, &saved_);
  std::signal(SIGXFSZ, previousHandler_);
}

PeerProcess::~PeerProcess() {
  Stop();
}

bool PeerProcess::Start(const std::vector<std::string>& argv, const std::string& workdir) {
  Stop();
  if (!ChildProcessAllowed()) return false;
  int pipefd[2];
  if (pipe2(pipefd, O_CLOEXEC) != 0) return false;
  pid_t pid = fork();
  if (pid < 0) {
    close(pipefd[0]);
    close(pipefd[1]);
    return false;
  }
  if (pid == 0) {
    setpgid(0, 0);
    dup2(pipefd[1], 1);
    int devnull = open("/dev/null", O_RDONLY);
    if (devnull >= 0) dup2(devnull, 0);
    if (!workdir.empty() && chdir(workdir.c_str()) != 0) _exit(126);
    auto args = ArgvPointers(argv);
    execvp(args[0], args.data());
    _exit(127);
  }
  setpgid(pid, pid);
  close(pipefd[1]);
  pid_ = pid;
  out_ = pipefd[0];
  buffer_.clear();
  return true;
}

bool PeerProcess::ReadSome(int timeoutMs) {
  if (out_ < 0) return false;
  pollfd p{out_, POLLIN, 0};
  if (poll(&p, 1, timeoutMs) <= 0) return false;
  char chunk[4096];
  ssize_t n = read(out_, chunk, sizeof chunk);
  if (n <= 0) {
    close(out_);
    out_ = -1;
    return false;
  }
  buffer_.append(chunk, static_cast<std::size_t>(n));
  return true;
}

std::string PeerProcess::WaitForLine(std::string_view prefix, int timeoutSeconds) {
  double deadline = Now() + timeoutSeconds;
  for (;;) {
    std::size_t nl;
    while ((nl = buffer_.find('\n')) != std::string::npos) {
      std::string line = buffer_.substr(0, nl);
      buffer_.erase(0, nl + 1);
      if (line.compare(0, prefix.size(), prefix) == 0) return line.substr(prefix.size());
    }
    double left = deadline - Now();
    if (left <= 0 || out_ < 0) return "";
    ReadSome(static_cast<int>(left * 1000) + 1);
  }
}

std::string PeerProcess::ReadRest(int timeoutSeconds) {
  double deadline = Now() + timeoutSeconds;
  while (out_ >= 0 && Now() < deadline) {
    ReadSome(static_cast<int>((deadline - Now()) * 1000) + 1);
  }
  std::string rest;
  rest.swap(buffer_);
  return rest;
}

int PeerProcess::Stop() {
  int code = -1;
  if (pid_ > 0) {
    kill(-pid_, SIGTERM);
    code = WaitOrKill(pid_, 5);
    pid_ = -1;
  }
  if (out_ >= 0) {
    close(out_);
    out_ = -1;
  }
  return code;
}

int StartScriptedPeer(PeerProcess& peer, const std::string& script,
                      const std::vector<std::string>& args) {
  std::vector<std::string> argv = {"/usr/bin/python3", "-u", PeersDir() + "/" + script};
  argv.insert(argv.end(), args.begin(), args.end());
  if (!peer.Start(argv)) return 0;
  std::string port = peer.WaitForLine("PORT ");
  return port.empty() ? 0 : std::atoi(port.c_str());
}

int StartScriptedServer(PeerProcess& peer, const TempDir& dir, std::string_view script,
                        const std::string& listenAddress) {
  static int scriptsWritten = 0;
  std::string path = dir / ("script" + std::to_string(++scriptsWritten) + ".txt");
  WriteFile(path, script);
  return StartScriptedPeer(peer, "scripted_server.py", {path, listenAddress});
}

ProgramRun RunProgram(const std::vector<std::string>& argv, const std::string& workdir,
                      int timeoutSeconds, const std::vector<std::string>& extraEnv) {
  ProgramRun run;
  if (!ChildProcessAllowed()) return run;
  int outPipe[2], errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0) return run;
  if (pipe2(errPipe, O_CLOEXEC) != 0) {
    close(outPipe[0]);
    close(outPipe[1]);
    return run;
  }
  double start = Now();
  pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    int devnull = open("/dev/null", O_RDONLY);
    if (devnull >= 0) dup2(devnull, 0);
    if (!workdir.empty() && chdir(workdir.c_str()) != 0) _exit(126);
    for (const auto& e : extraEnv) putenv(const_cast<char*>(e.c_str()));
    auto args = ArgvPointers(argv);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  if (pid < 0) {
    close(outPipe[0]);
    close(errPipe[0]);
    return run;
  }
  setpgid(pid, pid);
  // Drain both pipes until the child closes them or the time runs out.
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&run.out, &run.err};
  int open = 2;
  double deadline = start + timeoutSeconds;
  while (open > 0 && Now() < deadline) {
    if (poll(fds, 2, 100) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char chunk[4096];
      ssize_t n = read(fds[i].fd, chunk, sizeof chunk);
      if (n > 0) {
        sinks[i]->append(chunk, static_cast<std::size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  for (auto& f : fds) {
    if (f.fd >= 0) close(f.fd);
  }
  run.exitCode = WaitOrKill(pid, deadline - Now() > 0 ? deadline - Now() : 0.1);
  run.seconds = Now() - start;
  return run;
}
#endif

}  // namespace quorbit
