// Shared helpers of the fuzz targets: a scratch directory per process, whole
// files in and out, and a check that stops the run with a message.
#pragma once

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

namespace quorbit {

// A broken property is a finding like a crash: the fuzzer keeps the input.
#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (false)

inline std::string_view AsText(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// Removes everything inside a directory (scratch trees hold no links).
inline void EmptyDirectory(const std::string& directory) {
  if (DIR* dir = ::opendir(directory.c_str())) {
    while (dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      const std::string path = directory + "/" + name;
      if (::unlink(path.c_str()) != 0) {
        EmptyDirectory(path);
        ::rmdir(path.c_str());
      }
    }
    ::closedir(dir);
  }
}

// A fresh directory for this process, removed when it ends normally; ends
// with "/". In memory (/dev/shm) where there is one: files are written,
// truncated and renamed over on every run, which a disk file system may
// answer with a flush each time.
inline const std::string& ScratchDirectory() {
  // A plain array: it outlives every destructor that runs at exit.
  static char created[64];
  static const std::string path = [] {
    struct stat info {};
    const bool memory =
        ::stat("/dev/shm", &info) == 0 && S_ISDIR(info.st_mode) && ::access("/dev/shm", W_OK) == 0;
    std::snprintf(created, sizeof created, "%s/quorbit-fuzz-XXXXXX", memory ? "/dev/shm" : "/tmp");
    if (!::mkdtemp(created)) std::abort();
    std::atexit([] {
      EmptyDirectory(created);
      ::rmdir(created);
    });
    return std::string(created) + "/";
  }();
  return path;
}

inline void WriteWholeFile(const std::string& path, std::string_view data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  if (!out) std::abort();
}

inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace quorbit
