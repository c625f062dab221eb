#include "config/settings.h"

#include <bitset>
#include <cstddef>
#include <map>
#include <span>

#include "config/inireader.h"
#include "util/localfiles.h"

SettingsRecord Settings;
std::vector<std::unique_ptr<HttpTask>> HttpTasks;
std::vector<std::unique_ptr<FtpTask>> FtpTasks;
Str255 LoadedIniFile;

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

std::unique_ptr<IniReader> Reader;

// The cut TRANSFER lines of each loaded FTP assignment, by its record.
std::map<const FtpTask*, std::bitset<kTransferSlots>> CutTransferLines;

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
Str255 OpenIniFile(IniReader& reader, std::string_view name) {
  std::vector<Str255> tried = {Str255(name)};
  if (name == kDefaultIniName) {
    tried.emplace_back("quorbit.ini");
  } else if (name.find('.') == std::string_view::npos) {
    tried.push_back(Cat(name, ".INI"));
    tried.push_back(Cat(name, ".ini"));
  }
  for (const Str255& candidate : tried) {
    if (reader.Open(candidate)) return candidate;
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

std::int32_t LoadMain(IniReader& reader) {
  const std::int32_t result = reader.ReadSection(&Settings);
  Settings.LOG = LocalPath(Settings.LOG);
  Settings.DEBUG_LOG = LocalPath(Settings.DEBUG_LOG);
  Settings.CA_FILE = LocalPath(Settings.CA_FILE);
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

std::int32_t LoadFtpTask(IniReader& reader) {
  const std::size_t loaded = FtpTasks.size();
  const std::int32_t result = LoadTask(reader, FtpTasks);
  if (FtpTasks.size() > loaded) CutTransferLines[FtpTasks.back().get()] = CutTransferSlots(reader);
  return result;
}

std::int32_t LoadSection(IniReader& reader, std::string_view section) {
  if (section == "HTTP") return LoadTask(reader, HttpTasks);
  if (section == "FTP") return LoadFtpTask(reader);
  if (section == "MAIN") return LoadMain(reader);
  return 0;
}

}  // namespace

void DefineSettings() {
  Settings = SettingsRecord{};
  SectionList list;
  list.Add(DefineSection("HTTP", kHttpKeys));
  list.Add(DefineSection("FTP", kFtpKeys));
  list.Add(DefineSection("MAIN", kMainKeys));
  Reader = std::make_unique<IniReader>();
  Reader->Adopt(list);
}

std::int32_t LoadSettings(std::string_view name) {
  HttpTasks.clear();
  FtpTasks.clear();
  CutTransferLines.clear();
  LoadedIniFile = Reader ? OpenIniFile(*Reader, name) : Str255();
  if (LoadedIniFile.Empty()) return -1;
  std::int32_t result = 0;
  for (Str255 section = Reader->FirstSection(); !section.Empty(); section = Reader->NextSection()) {
    result = LoadSection(*Reader, section);
    if (result != 0) break;
  }
  Reader->Close();
  return result;
}

void ReleaseSettings() {
  Reader.reset();
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

bool TransferLineWasCut(const FtpTask& task, std::size_t slot) {
  const auto found = CutTransferLines.find(&task);
  return found != CutTransferLines.end() && slot < kTransferSlots && found->second[slot];
}
