// What a run read, wrote and skipped, per input file, and why: the counts
// behind "--report", "--check" and the window's Details. Counting is a few
// additions per record; line numbers are kept for the first few of each
// reason only.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace marklode {

struct RunResult;

enum class SkipReason : std::uint8_t {
  NoCoordinates,  // missing, or no number in range
  NoName,         // a GPX waypoint without a name
  Filtered,       // a profile's filter left it out
  FewFields,      // a POI-CSV line with fewer than three fields
  UnpairedQuote,  // a POI-CSV line taken apart by a stray double quote
  Unreadable,     // a record that could not be read
  NotAPoint,      // a KML line or polygon: no one place to mark
};
inline constexpr std::size_t kSkipReasons = 7;

enum class NameChange : std::uint8_t {
  Cut,       // to the length limit
  Unique,    // a number added to make it unique
  Replaced,  // characters replaced (line breaks, "&", "~", ...)
};
inline constexpr std::size_t kNameChanges = 3;

enum class ReportHint : std::uint8_t {
  SwappedCoordinates,  // POI-CSV: longitude and latitude seem to be in each other's place
  AllZero,             // GPX: every waypoint lies at 0,0
};

// One input file's counts.
struct FileReport {
  static constexpr std::size_t kLinesKept = 5;
  struct Skips {
    std::int64_t count = 0;
    std::array<std::int64_t, kLinesKept> lines{};  // the first ones, where known
    std::uint8_t linesKept = 0;
  };

  std::string file;          // as the user would name it (the path read)
  std::int64_t read = 0;     // records or waypoints read
  std::int64_t written = 0;  // of them, written (0 when the output was not put in place)
  std::array<Skips, kSkipReasons> skipped{};
  std::array<std::int64_t, kNameChanges> names{};

  // Evidence for the hints, seen while converting. Each flag, once set,
  // stops its check: most files settle both after their first points.
  bool anyPoint = false;           // a point with coordinates in range
  bool awayFromZero = false;       // one of them not at 0,0
  bool longitudeBeyond90 = false;  // a longitude outside -90..90
  std::int64_t latitudesBeyond90 =
      0;  // refused "latitudes" beyond 90 that would pass as longitudes

  // line: where the record begins, 0 when not known.
  void Skip(SkipReason reason, std::int64_t line = 0) {
    Skips& s = skipped[static_cast<std::size_t>(reason)];
    ++s.count;
    if (line > 0 && s.linesKept < kLinesKept) s.lines[s.linesKept++] = line;
  }
  // Skipped records counted elsewhere, whose lines are not known (they are read too).
  void SkipMany(SkipReason reason, std::int64_t n) {
    skipped[static_cast<std::size_t>(reason)].count += n;
    read += n;
  }
  void Renamed(NameChange change, std::int64_t n = 1) {
    names[static_cast<std::size_t>(change)] += n;
  }
  // Adds the counts of a later part of the same file (read on another
  // thread): its lines come after this one's, and are lineOffset lines
  // further on in the file than it counted.
  void Add(const FileReport& later, std::int64_t lineOffset = 0);
  const Skips& Of(SkipReason reason) const { return skipped[static_cast<std::size_t>(reason)]; }
  std::int64_t SkippedTotal() const;
  std::vector<ReportHint> Hints() const;
};

// Whether a coordinate's text (a decimal number that passed its check) is 0,
// or lies beyond 90 either way.
bool IsZeroDegrees(std::string_view text);
bool IsBeyond90(std::string_view text);

// Notes a point's coordinate texts (numbers that passed their check) for the
// hints: after the first points of most files, two tests of a flag.
inline void NoteCoordinates(FileReport& report, std::string_view lat, std::string_view lon) {
  report.anyPoint = true;
  if (!report.awayFromZero) report.awayFromZero = !IsZeroDegrees(lat) || !IsZeroDegrees(lon);
  if (!report.longitudeBeyond90) report.longitudeBeyond90 = IsBeyond90(lon);
}
// The same for a record whose coordinates were refused: a "latitude" between
// 90 and 180 that would pass as a longitude.
void NoteRefusedCoordinates(FileReport& report, std::string_view lat, std::string_view lon);

// The words for each reason, change and hint, as the report prints them.
std::string_view SkipReasonText(SkipReason reason);
std::string_view SkipReasonKey(SkipReason reason);  // the JSON key
std::string_view NameChangeText(NameChange change);
std::string_view NameChangeKey(NameChange change);
std::string_view HintText(ReportHint hint);
std::string_view HintKey(ReportHint hint);

// The report as short lines, one per file and per reason: for stderr and the
// window's Details. Each line ends in "\n".
std::string ReportText(const RunResult& result, bool check);
// The report as one JSON document (ending in "\n"), for scripts.
std::string ReportJson(const RunResult& result, bool check);
// text as a JSON string, quotes included: control characters, quotes and
// backslashes escaped, and bytes that are no UTF-8 as U+FFFD.
std::string JsonString(std::string_view text);

}  // namespace marklode
