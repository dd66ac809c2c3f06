// A Windows command line taken apart into its arguments.
#include <cstddef>
#include <utility>

#include "services/strings.h"

namespace marklode {

std::vector<std::string> SplitCommandLine(std::string_view line) {
  std::vector<std::string> args;
  std::size_t i = 0;
  const auto blank = [&line](std::size_t k) {
    return k < line.size() && (line[k] == ' ' || line[k] == '\t');
  };
  // The program's name knows no escapes: quoted, it runs to the next quote;
  // otherwise to the first blank.
  if (!line.empty() && line[0] == '"') {
    const std::size_t end = line.find('"', 1);
    args.emplace_back(line.substr(1, end == std::string_view::npos ? end : end - 1));
    i = end == std::string_view::npos ? line.size() : end + 1;
  } else {
    while (i < line.size() && !blank(i)) ++i;
    args.emplace_back(line.substr(0, i));
  }
  while (blank(i)) ++i;

  while (i < line.size()) {  // at the first character of an argument
    std::string arg;
    bool quoted = false;
    while (i < line.size() && !(blank(i) && !quoted)) {
      if (line[i] == '\\') {
        std::size_t n = 0;
        for (; i < line.size() && line[i] == '\\'; ++i) ++n;
        if (i == line.size() || line[i] != '"') {
          arg.append(n, '\\');  // backslashes are literal unless a quote follows
          continue;
        }
        arg.append(n / 2, '\\');
        if (n % 2 == 1) {  // an escaped quote: literal, no change of state
          arg += '"';
          ++i;
          continue;
        }
      }
      if (line[i] == '"') {
        // A run of quotes, counting the one that opened a quoted stretch:
        // every third is a literal quote, and one left over means "inside".
        std::size_t run = quoted ? 1 : 0;
        for (; i < line.size() && line[i] == '"'; ++i) ++run;
        arg.append(run / 3, '"');
        quoted = run % 3 == 1;
        continue;
      }
      arg += line[i++];
    }
    args.push_back(std::move(arg));
    while (blank(i)) ++i;
  }
  return args;
}

}  // namespace marklode
