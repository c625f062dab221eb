// The lines of a control connection as a server may send them, put together
// into replies: every line is passed over, continues a reply or completes
// one, and a completed reply always ends on a line with its own code; a reply
// answers a command only when it is complete and one is owed.
#include <string>

#include "ftp/ftpreplies.h"
#include "fuzz/fuzz_support.h"

namespace quorbit {}  // namespace quorbit

using namespace quorbit;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text = AsText(data, size);
  ReplyAssembler assembler;
  ExpectedReplies expected;
  expected.Owe("RETR");
  while (!text.empty()) {
    // Lines end at LF, as the control connection reads them, and come in
    // pieces of at most kMaxLinePiece bytes.
    const std::size_t end = std::min(text.find('\n'), std::min(text.size(), kMaxLinePiece));
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    const bool wasInReply = assembler.InReply();
    const std::int32_t codeBefore = assembler.Code();
    const ReplyAssembler::Step step = assembler.Take(line);
    const bool owed = expected.AnyOwed();
    const ExpectedReplies::Taken taken = expected.Take(line);
    FUZZ_CHECK(taken.step == step);
    FUZZ_CHECK((taken.answer.code >= 0) == (step == ReplyAssembler::Step::Complete && owed));
    FUZZ_CHECK(taken.answer.code < 0 || taken.answer.code == assembler.Code());
    switch (step) {
      case ReplyAssembler::Step::PassedOver:
        FUZZ_CHECK(!wasInReply && !assembler.InReply() && assembler.Code() == codeBefore);
        break;
      case ReplyAssembler::Step::Continues:
        FUZZ_CHECK(assembler.InReply());
        FUZZ_CHECK(!wasInReply || assembler.Code() == codeBefore);
        break;
      case ReplyAssembler::Step::Complete:
        FUZZ_CHECK(!assembler.InReply());
        FUZZ_CHECK(ReplyCode(line) == assembler.Code());
        FUZZ_CHECK(assembler.Code() >= 0 && assembler.Code() <= 999);
        FUZZ_CHECK(line.size() == 3 || line[3] == ' ');
        break;
    }
  }
  return 0;
}
