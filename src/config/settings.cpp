#include "config/settings.h"

#include <bitset>
#include <cstddef>
#include <map>
#include <span>

#include "config/inireader.h"
#include "util/localpaths.h"

namespace quorbit {

namespace {

// One declared key, repeated under the same name to collect repeated lines.
struct KeyLayout {
  std::string_view name;
  std::uint8_t kind;
  std::int32_t size;
  std::int32_t repeats = 1;
};

constexpr KeyLayout kMainKeys[] = {
    {"LOG", kKindText, 80},
    {"DEBUG_LOG", kKindText, 80},
    {"PROXY", kKindText, 80},
    {"CA_FILE", kKindText, 80},
};

constexpr KeyLayout kHttpKeys[] = {
    {"NAME", kKindText, 80},       {"URI", kKindText, 80},       {"LOCATION", kKindText, 80},
    {"LEVEL", kKindByte, 1},       {"TRANSLATE", kKindYesNo, 1}, {"IFMOD", kKindYesNo, 1},
    {"SHORTNAMES", kKindYesNo, 1}, {"PORT", kKindWord, 2},       {"VERIFY", kKindText, 3},
};

constexpr KeyLayout kFtpKeys[] = {
    {"NAME", kKindText, 80},
    {"URI", kKindText, 80},
    {"USER", kKindText, 80},
    {"PASSWORD", kKindText, 80},
    {"RETRY", kKindWord, 2},
    {"RETRY_DELAY", kKindWord, 2},
    {"LIST_DELAY", kKindWord, 2},
    {"PORT", kKindWord, 2},
    {"TRANSFER", kKindText, 255, kTransferSlots},
    {"TLS", kKindYesNo, 1},
    {"VERIFY", kKindText, 3},
};

// Where the reader puts the first key named name; past the last key (the
// record size) when no key has that name.
constexpr std::int32_t LayoutOffset(std::span<const KeyLayout> keys, std::string_view name) {
  std::int32_t offset = 0;
  for (const KeyLayout& key : keys) {
    if (key.name == name) return offset;
    offset += key.repeats * KeyStorageSize(key.kind, key.size);
  }
  return offset;
}

constexpr std::int32_t LayoutSize(std::span<const KeyLayout> keys) {
  return LayoutOffset(keys, {});
}

// The records must be the very images the reader fills: each field where its
// key lands, and nothing after the last one.
#define ASSERT_FIELD(Record, keys, FIELD)                              \
  static_assert(offsetof(Record, FIELD) == LayoutOffset(keys, #FIELD), \
                #Record "." #FIELD " is not where the reader stores " #FIELD)

ASSERT_FIELD(SettingsRecord, kMainKeys, LOG);
ASSERT_FIELD(SettingsRecord, kMainKeys, DEBUG_LOG);
ASSERT_FIELD(SettingsRecord, kMainKeys, PROXY);
ASSERT_FIELD(SettingsRecord, kMainKeys, CA_FILE);
static_assert(sizeof(SettingsRecord) == LayoutSize(kMainKeys));

ASSERT_FIELD(HttpTask, kHttpKeys, NAME);
ASSERT_FIELD(HttpTask, kHttpKeys, URI);
ASSERT_FIELD(HttpTask, kHttpKeys, LOCATION);
ASSERT_FIELD(HttpTask, kHttpKeys, LEVEL);
ASSERT_FIELD(HttpTask, kHttpKeys, TRANSLATE);
ASSERT_FIELD(HttpTask, kHttpKeys, IFMOD);
ASSERT_FIELD(HttpTask, kHttpKeys, SHORTNAMES);
ASSERT_FIELD(HttpTask, kHttpKeys, PORT);
ASSERT_FIELD(HttpTask, kHttpKeys, VERIFY);
static_assert(sizeof(HttpTask) == LayoutSize(kHttpKeys));

ASSERT_FIELD(FtpTask, kFtpKeys, NAME);
ASSERT_FIELD(FtpTask, kFtpKeys, URI);
ASSERT_FIELD(FtpTask, kFtpKeys, USER);
ASSERT_FIELD(FtpTask, kFtpKeys, PASSWORD);
ASSERT_FIELD(FtpTask, kFtpKeys, RETRY);
ASSERT_FIELD(FtpTask, kFtpKeys, RETRY_DELAY);
ASSERT_FIELD(FtpTask, kFtpKeys, LIST_DELAY);
ASSERT_FIELD(FtpTask, kFtpKeys, PORT);
ASSERT_FIELD(FtpTask, kFtpKeys, TRANSFER);
ASSERT_FIELD(FtpTask, kFtpKeys, TLS);
ASSERT_FIELD(FtpTask, kFtpKeys, VERIFY);
static_assert(sizeof(FtpTask) == LayoutSize(kFtpKeys));

#undef ASSERT_FIELD

SectionDef DefineSection(std::string_view name, std::span<const KeyLayout> keys) {
  SectionDef def(name);
  for (const KeyLayout& key : keys) {
    for (std::int32_t i = 0; i < key.repeats; ++i) def.AddKey(key.name, key.kind, key.size);
  }
  return def;
}

// The name as written; the default also in lower case; a name without '.'
// with either case of the usual extension. Returns the name that opened,
// empty when none did.
std::string OpenIniFile(IniReader& reader, std::string_view name) {
  std::vector<Str255> tried = {Str255(name)};
  if (name == kDefaultIniName) {
    tried.emplace_back("quorbit.ini");
  } else if (name.find('.') == std::string_view::npos) {
    tried.push_back(Cat(name, ".INI"));
    tried.push_back(Cat(name, ".ini"));
  }
  for (const Str255& candidate : tried) {
    if (reader.Open(candidate)) return candidate.Str();
  }
  return {};
}

void ApplyDefaults(HttpTask& task) {
  if (task.LEVEL == 0) task.LEVEL = 1;
  if (task.PORT == 0) task.PORT = IsHttpsUri(task.URI) ? 443 : 80;
  task.LOCATION = LocalPath(task.LOCATION);
  EnsureTrailing(task.LOCATION, kPathSep);
}

void ApplyDefaults(FtpTask& task) {
  if (task.PORT == 0) task.PORT = 21;
}

// Reads the current section as one more assignment of table. Sections beyond
// the table's capacity are still read, so that their errors are reported, but
// not kept.
template <typename Task>
std::int32_t LoadTask(IniReader& reader, std::vector<std::unique_ptr<Task>>& table) {
  auto task = std::make_unique<Task>();
  const std::int32_t result = reader.ReadSection(task.get());
  if (result != 0 || table.size() >= kMaxTasks) return result;
  ApplyDefaults(*task);
  table.push_back(std::move(task));
  return 0;
}

std::int32_t LoadMain(IniReader& reader, SettingsRecord& main) {
  const std::int32_t result = reader.ReadSection(&main);
  main.LOG = LocalPath(main.LOG);
  main.DEBUG_LOG = LocalPath(main.DEBUG_LOG);
  main.CA_FILE = LocalPath(main.CA_FILE);
  return result;
}

// The TRANSFER slots of the section just read whose lines were cut: the
// slots are filled in the order of the lines.
std::bitset<kTransferSlots> CutTransferSlots(const IniReader& reader) {
  std::bitset<kTransferSlots> cut;
  std::size_t slot = 0;
  for (const KeyDef& key : reader.CurrentSection()->keys) {
    if (key.name != "TRANSFER") continue;
    cut[slot++] = key.cut;
  }
  return cut;
}

std::int32_t LoadFtpTask(IniReader& reader, RunContext& context) {
  const std::size_t loaded = context.ftpTasks.size();
  const std::int32_t result = LoadTask(reader, context.ftpTasks);
  if (context.ftpTasks.size() > loaded) {
    context.cutTransferLines[context.ftpTasks.back().get()] = CutTransferSlots(reader);
  }
  return result;
}

std::int32_t LoadSection(IniReader& reader, std::string_view section, RunContext& context) {
  if (section == "HTTP") return LoadTask(reader, context.httpTasks);
  if (section == "FTP") return LoadFtpTask(reader, context);
  if (section == "MAIN") return LoadMain(reader, context.settings);
  return 0;
}

std::unique_ptr<IniReader> SettingsReader() {
  SectionList list;
  list.Add(DefineSection("HTTP", kHttpKeys));
  list.Add(DefineSection("FTP", kFtpKeys));
  list.Add(DefineSection("MAIN", kMainKeys));
  auto reader = std::make_unique<IniReader>();
  reader->Adopt(list);
  return reader;
}

}  // namespace

std::int32_t LoadSettings(std::string_view name, RunContext& context) {
  context = RunContext{};
  const std::unique_ptr<IniReader> reader = SettingsReader();
  context.iniFile = OpenIniFile(*reader, name);
  if (context.iniFile.empty()) return -1;
  std::int32_t result = 0;
  for (Str255 section = reader->FirstSection(); !section.Empty(); section = reader->NextSection()) {
    result = LoadSection(*reader, section, context);
    if (result != 0) break;
  }
  reader->Close();
  return result;
}

bool IsHttpsUri(std::string_view uri) {
  return UpperStr(uri.substr(0, 8)) == "HTTPS://";
}

namespace {

bool VerifyKeyAllows(const ShortStr<3>& verify) {
  return UpperStr(verify.View()) != "NO";
}

}  // namespace

bool VerifiesCertificates(const HttpTask& task) {
  return VerifyKeyAllows(task.VERIFY);
}

bool VerifiesCertificates(const FtpTask& task) {
  return VerifyKeyAllows(task.VERIFY);
}

bool TransferLineWasCut(const RunContext& context, const FtpTask& task, std::size_t slot) {
  const auto found = context.cutTransferLines.find(&task);
  return found != context.cutTransferLines.end() && slot < kTransferSlots && found->second[slot];
}

}  // namespace quorbit
