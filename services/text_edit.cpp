// Separated lists, replacements and trimming.
#include <cstddef>

#include "services/strings.h"

namespace marklode {

int FieldCount(std::string_view text, char sep) {
  if (text.empty()) return 0;
  int count = 1;
  for (char c : text)
    if (c == sep) ++count;
  return count;
}

std::string_view FieldRange(std::string_view text, int first, int last, char sep) {
  if (first < 1) first = 1;
  if (last < 0) last = INT32_MAX;
  if (last < first) last = first;
  // Walk the separators once: start is where field `first` begins, end where
  // field `last` (or the text) ends.
  std::size_t start = std::string_view::npos;
  std::size_t pos = 0;
  for (int i = 1;; ++i) {
    if (i == first) start = pos;
    std::size_t next = text.find(sep, pos);
    if (next == std::string_view::npos) {
      if (start == std::string_view::npos) return {};
      return text.substr(start);
    }
    if (i == last) return text.substr(start, next - start);
    pos = next + 1;
  }
}

std::string_view FieldAt(std::string_view text, int n, char sep) {
  return FieldRange(text, n, 0, sep);
}

namespace {

// Replaces what findNext(text, from) finds, find.size() bytes each time.
template <class FindNext>
std::string Replace(std::string_view text, std::string_view find, std::string_view repl, int limit,
                    FindNext findNext) {
  if (find.empty()) return std::string(text);
  std::string out;
  std::size_t pos = 0;
  for (int n = 0; limit < 0 || n < limit; ++n) {
    const std::size_t at = findNext(text, pos);
    if (at == std::string_view::npos) break;
    out.append(text, pos, at - pos).append(repl);
    pos = at + find.size();
  }
  out.append(text.substr(pos));
  return out;
}

}  // namespace

std::string ReplaceText(std::string_view text, std::string_view find, std::string_view repl,
                        int limit) {
  return Replace(text, find, repl, limit,
                 [find](std::string_view t, std::size_t from) { return t.find(find, from); });
}

std::string ReplaceTextNoCase(std::string_view text, std::string_view find, std::string_view repl) {
  return Replace(text, find, repl, -1,
                 [find](std::string_view t, std::size_t from) { return IFind(t, find, from); });
}

std::string CollapseSpaces(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t start = 0;;) {
    std::size_t run = text.find("  ", start);
    if (run == std::string_view::npos) {
      out.append(text.substr(start));
      return out;
    }
    out.append(text.substr(start, run + 1 - start));  // keeps one space
    start = text.find_first_not_of(' ', run);
    if (start == std::string_view::npos) return out;
  }
}

std::string_view TrimSpaces(std::string_view t) {
  std::size_t b = 0, e = t.size();
  while (b < e && t[b] == ' ') ++b;
  while (e > b && t[e - 1] == ' ') --e;
  return t.substr(b, e - b);
}

std::string_view TrimBlanks(std::string_view t) {
  std::size_t b = 0, e = t.size();
  while (b < e && (t[b] == ' ' || t[b] == '\t')) ++b;
  while (e > b && (t[e - 1] == ' ' || t[e - 1] == '\t')) --e;
  return t.substr(b, e - b);
}

}  // namespace marklode
