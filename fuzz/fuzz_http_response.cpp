// An HTTP answer as a server may send it, parsed as text: one head after
// another (interim answers before the final one), then the lines of a
// chunked body; and the local name the requested file part is stored under.
//
// Input: the file part of the requested URL up to a line feed, then the
// server's bytes.
#include <cctype>
#include <cstdio>

#include "fuzz/fuzz_support.h"
#include "http/bodyframing.h"
#include "http/httpget.h"
#include "http/responsehead.h"

namespace quorbit {

namespace {

// Heads a real exchange could hold before the final one; more only repeat.
constexpr int kHeadsMax = 8;

// Removes a CR LF or a CR at the end of text; false when there is none.
bool DropLineEnd(std::string_view& text) {
  if (text.ends_with('\n')) text.remove_suffix(1);
  if (!text.ends_with('\r')) return false;
  text.remove_suffix(1);
  return true;
}

void CheckHead(std::string_view text, const ResponseHead& head) {
  FUZZ_CHECK(head.size <= text.size());
  const HttpResponse& response = head.response;
  FUZZ_CHECK(response.contentLength >= 0);
  if (response.framing == BodyFraming::UntilClose) FUZZ_CHECK(response.contentLength == 0);
  if (head.refusal == HeadRefusal::NoEnd) return;
  if (response.framing == BodyFraming::Chunked) FUZZ_CHECK(response.contentLength == 0);
  // A whole head ends with its empty line, and what follows it changes
  // nothing of it.
  std::string_view whole = text.substr(0, head.size);
  FUZZ_CHECK(DropLineEnd(whole) && DropLineEnd(whole));
  const ResponseHead alone = ParseResponseHead(text.substr(0, head.size));
  FUZZ_CHECK(alone.size == head.size && alone.refusal == head.refusal);
  FUZZ_CHECK(alone.statusLine == head.statusLine && alone.response.status == response.status);
  FUZZ_CHECK(alone.response.framing == response.framing);
  FUZZ_CHECK(alone.response.contentLength == response.contentLength);
  if (head.refusal == HeadRefusal::UnusableLength) {
    FUZZ_CHECK(response.lengthUnusable && response.framing != BodyFraming::Chunked);
    FUZZ_CHECK(!IsInterim(response.status));
  }
}

// A size that was read is the hexadecimal number the line begins with.
void CheckChunkSize(std::string_view line) {
  const std::int64_t size = ParseChunkSize(line);
  FUZZ_CHECK(size >= -1);
  if (size < 0) return;
  std::size_t digits = 0;
  while (digits < line.size() && std::isxdigit(static_cast<unsigned char>(line[digits]))) {
    ++digits;
  }
  std::string_view number = line.substr(0, digits);
  while (number.size() > 1 && number.front() == '0') number.remove_prefix(1);
  char written[20];
  std::snprintf(written, sizeof written, "%llx", static_cast<unsigned long long>(size));
  std::string lower(number);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  FUZZ_CHECK(lower == written);
}

void CheckStoredName(std::string_view file) {
  const std::string name = StoredFileName(file, "/dir/");
  FUZZ_CHECK(name.find_first_of(std::string_view("/\\\0", 3)) == std::string::npos);
  FUZZ_CHECK(name != "." && name != "..");
}

}  // namespace

}  // namespace quorbit

using namespace quorbit;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text = AsText(data, size);
  const std::size_t eol = text.find('\n');
  CheckStoredName(text.substr(0, std::min<std::size_t>(eol, 255)));
  if (eol == std::string_view::npos) return 0;
  std::string_view answer = text.substr(eol + 1);
  for (int count = 0; count < kHeadsMax; ++count) {
    const ResponseHead head = ParseResponseHead(answer);
    CheckHead(answer, head);
    if (head.refusal == HeadRefusal::NoEnd) return 0;
    answer.remove_prefix(head.size);
    if (!IsInterim(head.response.status)) break;
  }
  // What follows the head, read as chunk-size lines.
  for (std::size_t end = answer.find('\r'); end != std::string_view::npos;
       end = answer.find('\r')) {
    CheckChunkSize(answer.substr(0, end));
    answer.remove_prefix(end + 1);
  }
  return 0;
}
