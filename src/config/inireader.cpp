#include "config/inireader.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>
#include <optional>
#include <span>
#include <string>

#include "util/filesystem.h"

namespace quorbit {

namespace {

constexpr int kCtrlZ = 26;  // ends a text file, whatever follows it

// Decimal with an optional sign, or hexadecimal digits after "$", "x", "X",
// "0x" or "0X" without a sign. Anything else, or a value beyond signed
// 32 bits, is not a number.
std::optional<std::int32_t> ParseInteger(std::string_view text) {
  int base = 10;
  bool negative = false;
  if (text.starts_with("0x") || text.starts_with("0X")) {
    base = 16;
    text.remove_prefix(2);
  } else if (text.starts_with('$') || text.starts_with('x') || text.starts_with('X')) {
    base = 16;
    text.remove_prefix(1);
  } else if (text.starts_with('+') || text.starts_with('-')) {
    negative = text.starts_with('-');
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  // An unsigned parse takes digits only: no second sign, no blanks.
  std::uint64_t magnitude = 0;
  const char* end = text.data() + text.size();
  auto [stop, error] = std::from_chars(text.data(), end, magnitude, base);
  if (error != std::errc() || stop != end) return std::nullopt;
  const std::uint64_t limit = std::uint64_t{std::numeric_limits<std::int32_t>::max()} + negative;
  if (magnitude > limit) return std::nullopt;
  const auto value = static_cast<std::int64_t>(magnitude);
  return static_cast<std::int32_t>(negative ? -value : value);
}

// The low bytes of value that fill the field, least significant first.
void StoreInteger(std::span<std::uint8_t> field, std::int32_t value) {
  const std::int64_t wide = value;
  for (std::size_t i = 0; i < field.size(); ++i) {
    field[i] = static_cast<std::uint8_t>(wide >> (8 * std::min<std::size_t>(i, 7)));
  }
}

void StoreText(std::uint8_t* at, std::int32_t size, std::string_view value) {
  const std::size_t count = std::min<std::size_t>(value.size(), std::max(size, 0));
  at[0] = static_cast<std::uint8_t>(count);
  std::memcpy(at + 1, value.data(), count);
}

// Writes value into the record image as the key's kind demands; false when
// the value does not fit the kind.
bool StoreValue(const KeyDef& key, std::string_view value, std::uint8_t* image) {
  std::uint8_t* at = image + key.offset;
  switch (key.kind) {
    case kKindByte:
    case kKindWord: {
      const std::optional<std::int32_t> number = ParseInteger(value);
      if (!number) return false;
      StoreInteger({at, static_cast<std::size_t>(std::max(key.size, 0))}, *number);
      return true;
    }
    case kKindText:
      StoreText(at, key.size, value);
      return true;
    case kKindYesNo: {
      const std::string upper = UpperStr(value);
      if (upper != "YES" && upper != "NO") return false;
      *at = upper == "YES" ? 1 : 0;
      return true;
    }
    default:
      return true;
  }
}

// The first key named name that no line of this section has filled yet.
KeyDef* FirstUnseenKey(SectionDef& section, std::string_view name) {
  auto it = std::find_if(section.keys.begin(), section.keys.end(),
                         [name](const KeyDef& key) { return !key.seen && key.name == name; });
  return it == section.keys.end() ? nullptr : &*it;
}

}  // namespace

bool SectionDef::AddKey(std::string_view keyName, std::uint8_t kind, std::int32_t size) {
  if (keys.size() >= kMaxKeys) return false;
  keys.push_back(KeyDef{Str255(keyName), kind, size, recordSize, false});
  recordSize += KeyStorageSize(kind, size);
  return true;
}

bool SectionList::Add(const SectionDef& def) {
  if (sections.size() >= kMaxSections) return false;
  sections.push_back(def);
  return true;
}

SectionDef* SectionList::Find(std::string_view name) {
  auto it = std::find_if(sections.begin(), sections.end(),
                         [name](const SectionDef& def) { return def.name == name; });
  return it == sections.end() ? nullptr : &*it;
}

void IniReader::Adopt(const SectionList& list) {
  current_ = nullptr;  // the definitions may move
  for (const SectionDef& def : list.sections) list_.Add(def);
}

bool IniReader::Open(std::string_view name) {
  Close();
  const std::string path(name);
  file_.reset(OpenStream(path, "rb"));
  if (!file_) return false;
  // A directory opens for reading on Linux but yields no lines: it is no INI file.
  EntryStatus status;
  if (StatStream(file_.get(), status) != 0 || status.kind == EntryKind::Directory) {
    Close();
    return false;
  }
  return true;
}

void IniReader::Close() {
  file_.reset();
}

// The end of the file, a Ctrl-Z, or a read error (taken as the end).
bool IniReader::AtEnd() {
  if (!file_ || std::ferror(file_.get())) return true;
  const int c = std::getc(file_.get());
  if (c == EOF) return true;
  std::ungetc(c, file_.get());
  return c == kCtrlZ;
}

// One line, ending at CR, LF or CR LF (LF CR is two line ends), cut to 255
// characters with the rest of the line skipped, trimmed of spaces and NULs.
Str255 IniReader::ReadLine() {
  std::FILE* f = file_.get();
  Str255 line;
  lineCut_ = false;
  for (int c = std::getc(f); c != EOF && c != '\n'; c = std::getc(f)) {
    if (c == kCtrlZ) {
      std::ungetc(c, f);
      break;
    }
    if (c == '\r') {
      const int next = std::getc(f);
      if (next != '\n' && next != EOF) std::ungetc(next, f);
      break;
    }
    // Beyond 255 characters the line is dropped; only blanks, which the trim
    // below would take anyway, are lost without the line counting as cut.
    if (line.Length() == Str255::kMax && c != ' ' && c != '\0') lineCut_ = true;
    line.Append(static_cast<char>(c));
  }
  TrimBlanks(line);
  if (lineCount_ < std::numeric_limits<std::int32_t>::max()) ++lineCount_;
  return line;
}

Str255 IniReader::FirstSection() {
  if (!file_) return {};
  std::rewind(file_.get());
  lineCount_ = 0;
  return NextSection();
}

Str255 IniReader::NextSection() {
  while (!AtEnd()) {
    const Str255 line = ReadLine();
    if (line.Empty() || line[0] != '[' || line.Last() != ']') continue;
    Str255 name = line.Copy(2, line.Length() - 2);
    TrimBlanks(name);
    current_ = list_.Find(UpperStr(name));
    if (current_) return current_->name;
  }
  return {};
}

std::int32_t IniReader::ReadSection(void* record) {
  if (!current_) return 0;  // no section found, nothing to fill
  auto* image = static_cast<std::uint8_t*>(record);
  std::memset(image, 0, static_cast<std::size_t>(current_->recordSize));
  for (KeyDef& key : current_->keys) key.seen = key.cut = false;
  while (!AtEnd()) {
    Str255 line = ReadLine();
    if (line.Empty() || line[0] == ';') continue;
    if (UpperStr(line) == "[END]") return 0;
    Str255 keyName;
    SplitFirst(line, '=', keyName);  // line keeps the value
    keyName = UpperStr(keyName);
    TrimBlanks(keyName);
    TrimBlanks(line);
    KeyDef* key = FirstUnseenKey(*current_, keyName);
    if (!key) continue;
    key->seen = true;
    key->cut = lineCut_ ||
               (key->kind == kKindText && static_cast<std::int32_t>(line.Length()) > key->size);
    if (!StoreValue(*key, line, image)) return lineCount_;
  }
  return lineCount_;  // the section has no "[END]"
}

}  // namespace quorbit
