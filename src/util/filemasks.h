// File names against masks, and 8.3 names for long ones.
#pragma once

#include <string>
#include <string_view>

#include "util/shorttext.h"

namespace quorbit {

// Whether the whole name matches the mask, as Windows file systems match:
// letter case ignored, "*" any run of characters, "?" any one character (a
// UTF-8 sequence counts as one), "#" a digit, "@" any character but a
// digit, and a trailing ".*" or "." also accepting names without a dot. So
// "*" and "*.*" take every name, "*.txt" every name ending in ".txt", long
// names, blanks and non-ASCII included.
bool MatchFileMask(std::string_view mask, std::string_view name);

// The 8.3 name fileName is stored under in directory. A name that fits keeps
// its letters, blanks becoming "_"; otherwise blanks and dots in the name
// become "_", the extension keeps three characters, and a name longer than
// five becomes its first five, "~" and the first two-digit number that names
// no file in directory yet.
std::string ShortFileName(std::string_view directory, std::string_view fileName);

}  // namespace quorbit
