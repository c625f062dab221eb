#include "util/shorttext.h"

#include <algorithm>
#include <limits>

namespace quorbit {

namespace {

bool IsLower(char c) {
  return c >= 'a' && c <= 'z';
}
bool IsUpper(char c) {
  return c >= 'A' && c <= 'Z';
}

}  // namespace

char UpperLetter(char c) {
  return IsLower(c) ? static_cast<char>(c - 'a' + 'A') : c;
}
char LowerLetter(char c) {
  return IsUpper(c) ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string UpperStr(std::string_view text) {
  std::string r(text);
  for (char& c : r) c = UpperLetter(c);
  return r;
}

void TrimBlanks(ShortStrRef text) {
  std::string_view v = text.View();
  auto blank = [](char c) { return c == ' ' || c == '\0'; };
  while (!v.empty() && blank(v.front())) v.remove_prefix(1);
  while (!v.empty() && blank(v.back())) v.remove_suffix(1);
  text.Assign(v);
}

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](char x, char y) { return UpperLetter(x) == UpperLetter(y); });
}

std::string WithTrailing(std::string_view path, char separator) {
  std::string result(path);
  if (!result.empty() && result.back() != separator) result += separator;
  return result;
}

std::string IntToText(std::int64_t value) {
  return std::to_string(value);
}

std::int32_t TextToInt(std::string_view text) {
  if (text.empty()) return 0;
  bool negative = false;
  std::size_t i = 0;
  if (text[0] == '+' || text[0] == '-') {
    negative = text[0] == '-';
    i = 1;
  }
  if (i == text.size()) return 0;
  std::int64_t v = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c < '0' || c > '9') return 0;
    v = v * 10 + (c - '0');
    if (v > static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::max()) + 1) return 0;
  }
  if (negative) v = -v;
  if (v > std::numeric_limits<std::int32_t>::max()) return 0;
  return static_cast<std::int32_t>(v);
}

std::string PadLeft(std::string_view text, std::size_t width, char pad) {
  if (text.size() >= width) return std::string(text.substr(0, width));
  std::string r(width - text.size(), pad);
  r.append(text);
  return r;
}

std::string TwoDigits(std::uint16_t value) {
  return PadLeft(IntToText(value), 2, '0');
}

void EnsureTrailing(ShortStrRef text, char c) {
  std::string_view v = text.View();
  if (v.empty() || v.back() == c || v.size() >= text.max) return;
  text.text[v.size()] = c;
  *text.len = static_cast<std::uint8_t>(v.size() + 1);
}

std::string HexByte(std::uint8_t value) {
  static const char kDigits[] = "0123456789ABCDEF";
  return {kDigits[value >> 4], kDigits[value & 15]};
}

std::string HexWord(std::uint16_t value) {
  return HexByte(static_cast<std::uint8_t>(value >> 8)) +
         HexByte(static_cast<std::uint8_t>(value & 0xFF));
}

std::string HexLong(std::uint32_t value) {
  return HexWord(static_cast<std::uint16_t>(value >> 16)) +
         HexWord(static_cast<std::uint16_t>(value & 0xFFFF));
}

void ReplaceText(std::string& text, const TextReplacement& change) {
  const std::string_view pattern = change.pattern;
  const std::string_view replacement = change.replacement;
  const bool adaptCase = change.adaptCase;
  if (pattern.empty()) return;
  const std::string upperPattern = UpperStr(pattern);
  // A replacement that holds the pattern again would be found again forever
  // when searching from the start; then the search goes on after it instead.
  const bool continueAfter = UpperStr(replacement).find(upperPattern) != std::string::npos;
  std::size_t from = 0;
  for (;;) {
    const std::size_t at = UpperStr(text).find(upperPattern, from);
    if (at == std::string::npos) return;
    std::string repl(replacement);
    if (adaptCase) {
      std::size_t k = 0;
      for (std::size_t i = 0; i < upperPattern.size() && k < repl.size(); ++i) {
        const char m = text[at + i];
        if (IsUpper(m)) {
          repl[k] = UpperLetter(repl[k]);
          ++k;
        } else if (IsLower(m)) {
          repl[k] = LowerLetter(repl[k]);
          ++k;
        }
      }
    }
    text.replace(at, upperPattern.size(), repl);
    from = continueAfter ? at + repl.size() : 0;
  }
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::uint8_t HexPairValue(std::string_view text) {
  Str255 two = PadLeft(text, 2, '0');
  const auto digit = [](char c) { return std::max(HexDigitValue(c), 0); };
  return static_cast<std::uint8_t>(16 * digit(two[0]) + digit(two[1]));
}

void SplitFirst(ShortStrRef text, char c, ShortStrRef head) {
  std::string whole(text.View());
  std::size_t p = whole.find(c);
  if (p == std::string::npos) {
    head.Assign(whole);
    text.Assign({});
    return;
  }
  head.Assign(std::string_view(whole).substr(0, p));
  text.Assign(std::string_view(whole).substr(p + 1));
}

}  // namespace quorbit
