// Names as a case-blind file system compares them. Windows (NTFS) upper-cases
// each UTF-16 unit of both names by its table and compares the results; FAT,
// exFAT and the casefold folders of Linux do much the same. One rule serves
// them all: the simple Unicode upper-casing of every character. Where it
// joins names that a file system keeps apart (NTFS leaves characters beyond
// the BMP alone), the only cost is that their records share one file; the
// converse would lose records, so the rule leans that way.
#pragma once

#include <string>
#include <string_view>

#include "services/platform.h"

namespace marklode {

// The simple upper-case mapping of c (UnicodeData.txt); c itself when it has
// none. "ß" has none: its capital is two letters.
char32_t UpperCaseChar(char32_t c);

// The text by which a case-blind file system knows path: every character
// upper-cased, and each run of bytes that is not UTF-8, together with any
// U+FFFD beside them, one U+FFFD (the system's own conversion of such a name
// to UTF-16 gives that character, one or more of them). Under the Windows
// rule the whole path is folded and "/" becomes "\"; under the POSIX rule only
// the file name is, since the folders above may compare names by their bytes.
std::string CaseBlindKey(std::string_view path, PathRule rule = kHostPathRule);

}  // namespace marklode
