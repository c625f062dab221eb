#include "util/filemasks.h"

#include <cstddef>
#include <cstdint>
#include <string>

#include "util/fileattributes.h"
#include "util/localpaths.h"

namespace quorbit {

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// The length in bytes of the character at name[at]: a whole UTF-8 sequence,
// or one byte where the name is no valid UTF-8 there.
std::size_t CharLength(std::string_view name, std::size_t at) {
  const auto lead = static_cast<unsigned char>(name[at]);
  const std::size_t length = lead >= 0xF0 && lead < 0xF8 ? 4
                             : lead >= 0xE0              ? 3
                             : lead >= 0xC0              ? 2
                                                         : 1;
  if (at + length > name.size()) return 1;
  for (std::size_t i = 1; i < length; ++i) {
    if ((static_cast<unsigned char>(name[at + i]) & 0xC0) != 0x80) return 1;
  }
  return length;
}

// How many bytes of name, from at, the mask character takes: 0 when it does
// not match there. "?" takes any one character, "@" one that is no digit,
// "#" a digit (or itself, so that a name holding "#" is still matched by
// its own spelling); any other character itself, letters without regard to
// case.
std::size_t MaskCharTakes(char pattern, std::string_view name, std::size_t at) {
  const char c = name[at];
  if (pattern == '?' || (pattern == '@' && !IsDigit(c))) return CharLength(name, at);
  if (pattern == '#') return IsDigit(c) || c == '#' ? 1 : 0;
  return UpperLetter(pattern) == UpperLetter(c) ? 1 : 0;
}

// The whole name against the whole mask, "*" taking any run of characters.
// A failed try of a "*" takes one more character and tries again, from the
// last "*" only: what an earlier one took never needs to change.
bool WildcardMatch(std::string_view mask, std::string_view name) {
  std::size_t m = 0, n = 0;
  std::size_t star = std::string_view::npos, resume = 0;
  while (n < name.size()) {
    if (m < mask.size() && mask[m] == '*') {
      star = m++;
      resume = n;
      continue;
    }
    const std::size_t taken = m < mask.size() ? MaskCharTakes(mask[m], name, n) : 0;
    if (taken > 0) {
      ++m;
      n += taken;
    } else if (star != std::string_view::npos) {
      m = star + 1;
      resume += CharLength(name, resume);
      n = resume;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == '*') ++m;
  return m == mask.size();
}

// The longest start of text of at most limit bytes that ends between
// characters, so that a cut name never ends in a broken UTF-8 sequence.
std::string_view WholeCharsWithin(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) return text;
  std::size_t cut = limit;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return text.substr(0, cut);
}

}  // namespace

bool MatchFileMask(std::string_view mask, std::string_view name) {
  if (WildcardMatch(mask, name)) return true;
  // A trailing ".*" or "." also stands for "no extension", so "*.*" takes
  // every name and "*." those without a dot.
  if (mask.ends_with(".*")) {
    mask.remove_suffix(2);
  } else if (mask.ends_with('.')) {
    mask.remove_suffix(1);
  } else {
    return false;
  }
  return name.find('.') == std::string_view::npos && WildcardMatch(mask, name);
}

// NOLINTNEXTLINE(bugprone-easily-swappable-parameters): directory, then a name in it
std::string ShortFileName(std::string_view directory, std::string_view fileName) {
  const auto blanksToUnderscores = [](std::string text, std::string_view blanks) {
    for (char& c : text) {
      if (blanks.find(c) != std::string_view::npos) c = '_';
    }
    return text;
  };
  const std::size_t dot = fileName.rfind('.');
  std::string name(fileName.substr(0, dot));
  std::string extension(dot == std::string_view::npos ? std::string_view() : fileName.substr(dot));
  if (name.size() <= 8 && extension.size() <= 4) {
    return blanksToUnderscores(name, " ") + blanksToUnderscores(extension, " ");
  }
  extension = std::string(WholeCharsWithin(extension, 4));
  name = blanksToUnderscores(name, " .");
  if (name.size() > 5) {
    name = std::string(WholeCharsWithin(name, 5)) + '~';
    // The candidates are looked for inside the whole directory, however long.
    const std::string folder = WithTrailing(directory, kPathSep);
    std::uint16_t n = 0;
    while (n < 99 && FileExists(Cat(folder, name, TwoDigits(n), extension))) ++n;
    name += TwoDigits(n);
  }
  return name + extension;
}

}  // namespace quorbit
