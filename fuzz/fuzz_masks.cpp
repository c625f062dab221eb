// File masks as transfer lines give them: matched against listing names,
// and by the local search, which must select by the same rule.
//
// Input: the mask, a NUL, then a name.
#include <algorithm>
#include <array>

#include "fuzz/fuzz_support.h"
#include "util/fileattributes.h"
#include "util/filemasks.h"
#include "util/localsearch.h"

namespace quorbit {

namespace {

// Names of the scratch directory searched; a search finds only these.
constexpr std::array<std::string_view, 8> kLocalNames = {
    "README", "index.htm", "INDEX.HTML", "longname1.txt", "a.b.c", ".hidden", "x", "report 1.csv"};

const std::string& LocalDirectory() {
  static const std::string directory = [] {
    const std::string path = ScratchDirectory() + "search";
    ::mkdir(path.c_str(), 0700);
    for (std::string_view name : kLocalNames) WriteWholeFile(path + "/" + std::string(name), "x");
    return path;
  }();
  return directory;
}

void CheckLocalSearch(std::string_view mask) {
  const std::vector<FoundFile> found = FindFiles(LocalDirectory(), mask, kAttrAny);
  FUZZ_CHECK(found.size() <= kLocalNames.size());
  for (std::size_t i = 0; i < found.size(); ++i) {
    FUZZ_CHECK(std::find(kLocalNames.begin(), kLocalNames.end(), found[i].name) !=
               kLocalNames.end());
    FUZZ_CHECK(MatchFileMask(mask, found[i].name));
    FUZZ_CHECK(i == 0 || found[i - 1].name < found[i].name);
  }
}

}  // namespace

}  // namespace quorbit

using namespace quorbit;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = AsText(data, size);
  const std::size_t nul = text.find('\0');
  const Str255 mask(text.substr(0, nul));
  const Str255 name(nul == std::string_view::npos ? std::string_view() : text.substr(nul + 1));

  MatchFileMask(mask, name);
  FUZZ_CHECK(MatchFileMask(name, name));
  CheckLocalSearch(mask);
  return 0;
}
