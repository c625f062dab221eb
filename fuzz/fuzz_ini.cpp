// An INI file as a user may write it, read into the settings and the two
// assignment tables.
#include "config/settings.h"
#include "fuzz/fuzz_support.h"
#include "util/localpaths.h"

namespace quorbit {

namespace {

// A local path from the file uses the platform separator only.
bool IsLocalPath(std::string_view path) {
  return path.find('\\') == std::string_view::npos;
}

void CheckHttpTask(const HttpTask& task) {
  FUZZ_CHECK(task.LEVEL != 0 && task.PORT != 0);
  FUZZ_CHECK(task.TRANSLATE <= 1 && task.IFMOD <= 1 && task.SHORTNAMES <= 1);
  FUZZ_CHECK(IsLocalPath(task.LOCATION));
  FUZZ_CHECK(task.LOCATION.Empty() || task.LOCATION.Last() == kPathSep ||
             task.LOCATION.Length() == Str80::kMax);
}

void CheckLoaded(const RunContext& loaded, std::string_view text) {
  FUZZ_CHECK(loaded.httpTasks.size() <= kMaxTasks && loaded.ftpTasks.size() <= kMaxTasks);
  for (const auto& task : loaded.httpTasks) CheckHttpTask(*task);
  for (const auto& task : loaded.ftpTasks) FUZZ_CHECK(task->PORT != 0);
  FUZZ_CHECK(IsLocalPath(loaded.settings.LOG) && IsLocalPath(loaded.settings.DEBUG_LOG));
  // Nothing is kept from sections the file does not hold.
  const bool mayHaveTasks = text.find(']') != std::string_view::npos;
  FUZZ_CHECK(mayHaveTasks || (loaded.httpTasks.empty() && loaded.ftpTasks.empty()));
}

// Lines end with CR LF, CR or LF; the number of a faulty line is one of the
// file's.
std::int32_t LineCount(std::string_view text) {
  std::int32_t lines = 1;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' || (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n'))) {
      ++lines;
    }
  }
  return lines;
}

}  // namespace

}  // namespace quorbit

using namespace quorbit;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string name = ScratchDirectory() + "fuzz.ini";
  const std::string_view text = AsText(data, size);
  WriteWholeFile(name, text);
  RunContext loaded;
  const std::int32_t result = LoadSettings(name, loaded);
  FUZZ_CHECK(result >= 0 && result <= LineCount(text));
  if (result == 0) CheckLoaded(loaded, text);
  return 0;
}
