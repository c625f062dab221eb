// Short strings: fixed-capacity 8-bit text with a length byte, and the small
// operations on them that every module shares.
//
// A ShortStr<Max> is exactly Max + 1 bytes (length byte first, then room for
// Max characters), trivially copyable, so that packed configuration records
// can embed it. Assigning or appending beyond Max silently cuts the text at
// Max. Positions handed out by Pos and taken by Copy / Delete are 1-based;
// 0 means "not found". operator[] is 0-based, like any C++ container.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>

namespace quorbit {

template <std::size_t Max = 255>
struct ShortStr {
  static_assert(Max >= 1 && Max <= 255, "a short string holds 1 to 255 characters");
  static constexpr std::size_t kMax = Max;

  std::uint8_t len = 0;
  char text[Max] = {};

  ShortStr() = default;
  ShortStr(std::string_view s) { Assign(s); }  // NOLINT: implicit by design
  ShortStr(const char* s) { Assign(s ? std::string_view(s) : std::string_view()); }
  template <std::size_t M>
  ShortStr(const ShortStr<M>& o) {  // NOLINT: implicit, cuts at Max
    Assign(o.View());
  }
  ShortStr(const std::string& s) { Assign(s); }

  std::size_t Length() const { return len; }
  bool Empty() const { return len == 0; }
  std::string_view View() const { return std::string_view(text, len); }
  std::string Str() const { return std::string(text, len); }
  operator std::string_view() const { return View(); }  // NOLINT

  const char* begin() const { return text; }
  const char* end() const { return text + len; }
  char operator[](std::size_t i) const { return text[i]; }
  char& operator[](std::size_t i) { return text[i]; }
  char Last() const { return len ? text[len - 1] : '\0'; }

  void Clear() { len = 0; }
  void Assign(std::string_view s) {
    len = static_cast<std::uint8_t>(s.size() < Max ? s.size() : Max);
    if (len) std::memmove(text, s.data(), len);
  }
  void Append(std::string_view s) {
    std::size_t room = Max - len;
    std::size_t n = s.size() < room ? s.size() : room;
    if (n) std::memmove(text + len, s.data(), n);
    len = static_cast<std::uint8_t>(len + n);
  }
  void Append(char c) {
    if (len < Max) text[len++] = c;
  }
  // Sets the length directly (for callers that filled text themselves).
  void SetLength(std::size_t n) { len = static_cast<std::uint8_t>(n < Max ? n : Max); }

  ShortStr& operator=(std::string_view s) {
    Assign(s);
    return *this;
  }
  ShortStr& operator=(const char* s) {
    Assign(s ? std::string_view(s) : std::string_view());
    return *this;
  }
  template <std::size_t M>
  ShortStr& operator=(const ShortStr<M>& o) {
    Assign(o.View());
    return *this;
  }
  ShortStr& operator=(const std::string& s) {
    Assign(s);
    return *this;
  }
  ShortStr& operator+=(std::string_view s) {
    Append(s);
    return *this;
  }
  ShortStr& operator+=(char c) {
    Append(c);
    return *this;
  }

  // 1-based position of the first occurrence, 0 when absent.
  std::size_t Pos(std::string_view needle) const {
    if (needle.empty()) return 0;
    std::size_t p = View().find(needle);
    return p == std::string_view::npos ? 0 : p + 1;
  }
  std::size_t Pos(char c) const {
    std::size_t p = View().find(c);
    return p == std::string_view::npos ? 0 : p + 1;
  }
  // Copy of count characters from the 1-based index; clamped to the text.
  ShortStr Copy(std::size_t index, std::size_t count) const {
    ShortStr r;
    if (index < 1) index = 1;
    if (index > len) return r;
    std::size_t avail = len - index + 1;
    r.Assign(View().substr(index - 1, count < avail ? count : avail));
    return r;
  }
  // Removes count characters from the 1-based index; clamped to the text.
  void Delete(std::size_t index, std::size_t count) {
    if (index < 1 || index > len || count == 0) return;
    std::size_t avail = len - index + 1;
    if (count > avail) count = avail;
    std::memmove(text + index - 1, text + index - 1 + count, len - (index - 1) - count);
    len = static_cast<std::uint8_t>(len - count);
  }

  friend bool operator==(const ShortStr& a, std::string_view b) { return a.View() == b; }
  friend ShortStr operator+(const ShortStr& a, std::string_view b) {
    ShortStr r = a;
    r.Append(b);
    return r;
  }
  friend ShortStr operator+(const ShortStr& a, char c) {
    ShortStr r = a;
    r.Append(c);
    return r;
  }
};

using Str255 = ShortStr<255>;
using Str80 = ShortStr<80>;

static_assert(sizeof(Str255) == 256 && sizeof(Str80) == 81);
static_assert(std::is_trivially_copyable_v<Str255>);
static_assert(alignof(Str80) == 1);

// The concatenation of plain texts (anything that converts to a
// std::string_view), whole.
template <class... Texts>
std::string Cat(const Texts&... texts) {
  const std::string_view views[] = {std::string_view(texts)...};
  std::size_t size = 0;
  for (std::string_view view : views) size += view.size();
  std::string joined;
  joined.reserve(size);
  for (std::string_view view : views) joined.append(view);
  return joined;
}

// Mutable view of any ShortStr<Max>, so that in-place operations are written
// once for every capacity.
struct ShortStrRef {
  std::uint8_t* len;
  char* text;
  std::size_t max;
  template <std::size_t M>
  ShortStrRef(ShortStr<M>& s) : len(&s.len), text(s.text), max(M) {}  // NOLINT
  std::string_view View() const { return std::string_view(text, *len); }
  void Assign(std::string_view s) {
    std::size_t n = s.size() < max ? s.size() : max;
    if (n) std::memmove(text, s.data(), n);
    *len = static_cast<std::uint8_t>(n);
  }
};

// --- The shared operations -------------------------------------------------

std::string UpperStr(std::string_view text);  // a..z to A..Z only
// The same text but for the letter case of a..z (other bytes exactly).
bool EqualIgnoringCase(std::string_view a, std::string_view b);
// The path ending with the separator; an empty path stays empty (the
// current directory).
std::string WithTrailing(std::string_view path, char separator);
char UpperLetter(char c);           // a..z to A..Z only
char LowerLetter(char c);           // A..Z to a..z only
void TrimBlanks(ShortStrRef text);  // spaces and NULs, both ends
std::string IntToText(std::int64_t value);
std::int32_t TextToInt(std::string_view text);  // 0 when not a number
std::string TwoDigits(std::uint16_t value);     // "07"; longer: first 2 chars
std::string PadLeft(std::string_view text, std::size_t width, char pad);
void EnsureTrailing(ShortStrRef text, char c);  // empty text stays empty
std::string HexByte(std::uint8_t value);
std::string HexWord(std::uint16_t value);
std::string HexLong(std::uint32_t value);
// One replacement for ReplaceText: every occurrence of pattern (found
// without regard to case) becomes replacement; with adaptCase the
// replacement takes the letter case of the matched text.
struct TextReplacement {
  std::string_view pattern;
  std::string_view replacement;
  bool adaptCase = false;
};
// A replacement that contains the pattern again is replaced once per
// occurrence (searching on after it) instead of looping forever.
void ReplaceText(std::string& text, const TextReplacement& change);
// The value of a hexadecimal digit of either case; -1 for any other character.
int HexDigitValue(char c);
// The byte two hexadecimal digits spell (one digit is padded with a leading
// "0"); a character that is no digit counts as 0.
std::uint8_t HexPairValue(std::string_view text);
// head = text before the first c; text keeps what follows it. Without c:
// head = whole text, text becomes empty.
void SplitFirst(ShortStrRef text, char c, ShortStrRef head);

}  // namespace quorbit
