// A generic, table-driven INI reader. The caller declares sections and their
// keys; the reader walks the file section by section and writes each
// section's values into a packed record image whose layout follows from the
// declarations. Every section in the file is closed by an "[END]" line.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string_view>
#include <vector>

#include "util/shorttext.h"

namespace quorbit {

// Key kinds. Both integer kinds are read alike: the key's size says how many
// low bytes of the number are stored.
constexpr std::uint8_t kKindByte = 0;
constexpr std::uint8_t kKindWord = 1;
constexpr std::uint8_t kKindText = 3;   // size = maximum number of characters
constexpr std::uint8_t kKindYesNo = 5;  // one byte, 1 = yes

constexpr std::size_t kMaxKeys = 1024;
constexpr std::size_t kMaxSections = 1024;

// Bytes a key takes in its record image: a text key holds a length byte in
// front of its characters, any other key exactly its size.
constexpr std::int32_t KeyStorageSize(std::uint8_t kind, std::int32_t size) {
  return kind == kKindText ? size + 1 : size;
}

struct KeyDef {
  Str255 name;  // upper case
  std::uint8_t kind = 0;
  std::int32_t size = 0;
  std::int32_t offset = 0;
  bool seen = false;  // filled by a line of the current section
  bool cut = false;   // its line or value was longer than allowed and lost its end
};

struct SectionDef {
  Str255 name;  // upper case
  std::vector<KeyDef> keys;
  std::int32_t recordSize = 0;  // also the offset of the next key

  explicit SectionDef(std::string_view sectionName = {}) : name(sectionName) {}
  // Lays the key out after the previous ones; false when the section is full.
  bool AddKey(std::string_view keyName, std::uint8_t kind, std::int32_t size);
};

struct SectionList {
  std::vector<SectionDef> sections;

  // Adds a copy of def (same keys, same offsets); false when the list is full.
  bool Add(const SectionDef& def);
  // The first definition named exactly name, or nullptr.
  SectionDef* Find(std::string_view name);
};

class IniReader {
 public:
  // Takes a copy of every definition of list.
  void Adopt(const SectionList& list);
  // Opens a regular file for reading; false when that is impossible.
  bool Open(std::string_view name);
  void Close();

  // The name of the next declared section in the file, or an empty text when
  // there is none. FirstSection starts over at the top of the file.
  Str255 FirstSection();
  Str255 NextSection();

  // Fills record, which holds at least the current section's record size, with
  // the section's values. Returns 0, or the number of the line at fault (the
  // file's last line when the section has no "[END]").
  std::int32_t ReadSection(void* record);

  // The declaration of the section last found, with what ReadSection saw of
  // each key; nullptr before the first.
  const SectionDef* CurrentSection() const { return current_; }

  // 1-based number of the last line read since FirstSection.
  std::int32_t LineCount() const { return lineCount_; }

 private:
  struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };

  bool AtEnd();
  Str255 ReadLine();

  SectionList list_;
  std::unique_ptr<std::FILE, FileCloser> file_;
  std::int32_t lineCount_ = 0;
  SectionDef* current_ = nullptr;  // of the last header found, in list_
  bool lineCut_ = false;           // the last line read was longer than 255 characters
};

}  // namespace quorbit
