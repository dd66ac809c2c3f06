// Small text routines: separated lists, replacements, trimming, numbers, UTF-8
// aware character counting and the match patterns of the filters. One header
// for them all; each subject lives in a file of its own: text_edit.cpp,
// text_case.cpp, decimal_numbers.cpp, utf8.cpp, match_patterns.cpp and
// command_line_split.cpp.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace marklode {

// Separated lists (";" file lists, "/" paths, "-" ranges); fields count from 1.
int FieldCount(std::string_view text, char sep);  // 0 for empty text
std::string_view FieldRange(std::string_view text, int first, int last, char sep);
std::string_view FieldAt(std::string_view text, int n, char sep);  // FieldRange(n, 0)

// Replaces occurrences of find (not empty), at most limit of them when limit >=
// 0; inserted text is never searched again.
std::string ReplaceText(std::string_view text, std::string_view find, std::string_view repl,
                        int limit = -1);
// The same for every occurrence of find in either letter case (ASCII).
std::string ReplaceTextNoCase(std::string_view text, std::string_view find, std::string_view repl);
// Every run of spaces becomes one space (only code 32 counts).
std::string CollapseSpaces(std::string_view text);

std::string_view TrimSpaces(std::string_view text);  // spaces only
std::string_view TrimBlanks(std::string_view text);  // spaces and tabs
std::string ToLowerAscii(std::string_view text);
std::string ToUpperAscii(std::string_view text);
bool IEquals(std::string_view a, std::string_view b);  // ASCII letters without case
bool IStartsWith(std::string_view text, std::string_view prefix);
std::size_t IFind(std::string_view text, std::string_view what, std::size_t from = 0);

// Optional spaces, an optional sign, digits with at most one "." and at least one
// digit, optional spaces. Nothing else: no exponents, no locale forms.
bool IsDecimalNumber(std::string_view text);
// A decimal number (as above, spaces removed first) taken apart: its text
// without the spaces, its sign, its whole part (numbers of 1000 or more are
// not taken) and whether any digit after the "." is not 0.
struct CoordinateParts {
  bool ok = false;
  bool negative = false;
  int whole = 0;
  bool fraction = false;
  std::string_view text;
};
CoordinateParts ParseCoordinate(std::string_view text);
// A decimal number (as above, spaces removed first) within [-limit, limit].
bool IsCoordinate(std::string_view text, int limit);

// UTF-8. A text that is valid UTF-8 counts characters as code points; any other
// text counts bytes, one character each.
bool IsValidUtf8(std::string_view text);
// The same, a byte at a time: the plain twin of the vector loop in
// IsValidUtf8, which the tests compare it with.
bool IsValidUtf8Scalar(std::string_view text);
std::size_t CharCount(std::string_view text);
// Characters first..last (from 1, both included) of text, clamped to the text.
std::string_view CharSlice(std::string_view text, std::size_t first, std::size_t last);
// The first n characters; never splits a UTF-8 sequence.
std::string_view FirstChars(std::string_view text, std::size_t n);
// Appends code point cp as UTF-8.
void AppendUtf8(std::string& out, char32_t cp);

// The two kinds of pattern, each matched against the whole text by one
// routine. Both take "*" for any run and "?" for any one character.
//
// The filters' match patterns, case-sensitively, by characters (code points
// of UTF-8 text): also "#" one digit, "[list]" and "[!list]" one character in
// or not in the list (ranges like a-z allowed).
bool LikeMatch(std::string_view text, std::string_view pattern);
// File-name wildcards, by characters (code points of UTF-8 text, else
// bytes), ASCII letters compared without regard to case.
bool WildcardMatch(std::string_view name, std::string_view pattern);

// A Windows command line taken apart as CommandLineToArgvW takes it (the
// program's own name first), on UTF-8 text: every character with a meaning
// here is ASCII. Kept here, not taken from the shell library, because loading
// that library (and the window library it pulls in) costs a console run more
// than many conversions take.
std::vector<std::string> SplitCommandLine(std::string_view line);

}  // namespace marklode
