#include "engine/run_report.h"

#include "engine/run.h"

namespace marklode {
namespace {

// A plain decimal number's size, looked at without converting it: its
// integer part, whether a fraction follows that is not all zeros, and
// whether it is a number at all.
struct Degrees {
  bool number = false;
  std::int64_t whole = 0;
  bool fraction = false;
};

Degrees ReadDegrees(std::string_view t) {
  while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
  while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
  if (!t.empty() && (t.front() == '-' || t.front() == '+')) t.remove_prefix(1);
  Degrees d;
  std::size_t i = 0;
  bool digits = false;
  for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i) {
    digits = true;
    if (d.whole < 1000) d.whole = d.whole * 10 + (t[i] - '0');
  }
  if (i < t.size() && t[i] == '.') {
    for (++i; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i) {
      digits = true;
      if (t[i] != '0') d.fraction = true;
    }
  }
  d.number = digits && i == t.size();
  return d;
}

bool Beyond(const Degrees& d, std::int64_t limit) {
  return d.whole > limit || (d.whole == limit && d.fraction);
}

std::string_view OutcomeKey(ItemOutcome outcome) {
  switch (outcome) {
    case ItemOutcome::Converted:
      return "converted";
    case ItemOutcome::NotWritten:
      return "not-written";
    case ItemOutcome::Refused:
      return "refused";
    case ItemOutcome::Skipped:
      return "skipped";
    case ItemOutcome::Stopped:
      return "stopped";
    case ItemOutcome::Cancelled:
      return "cancelled";
  }
  return "";
}

std::string_view OutcomeText(ItemOutcome outcome) {
  switch (outcome) {
    case ItemOutcome::Converted:
      return "";
    case ItemOutcome::NotWritten:
      return "not written";
    case ItemOutcome::Refused:
      return "refused: an earlier file of the list wrote the same output";
    case ItemOutcome::Skipped:
      return "skipped: no one file to read";
    case ItemOutcome::Stopped:
      return "not read: the run stopped here";
    case ItemOutcome::Cancelled:
      return "cancelled";
  }
  return "";
}

std::string_view StatusKey(RunStatus status) {
  switch (status) {
    case RunStatus::Done:
      return "done";
    case RunStatus::Stopped:
      return "stopped";
    case RunStatus::Cancelled:
      return "cancelled";
  }
  return "";
}

// The files an event tells of: those it read, or the input as given when it
// read none.
template <class Fn>
void ForEachFile(const ItemEvent& event, Fn fn) {
  if (event.files.empty()) {
    FileReport none;
    none.file = event.input;
    fn(none);
  } else {
    for (const FileReport& f : event.files) fn(f);
  }
}

std::string LinesText(const FileReport::Skips& s) {
  if (s.linesKept == 0) return "";
  std::string t = s.linesKept == 1 ? " (line " : " (lines ";
  for (std::size_t i = 0; i < s.linesKept; ++i) {
    if (i) t += ", ";
    t += std::to_string(s.lines[i]);
  }
  if (s.count > s.linesKept) t += ", ...";
  return t + ")";
}

}  // namespace

void FileReport::Add(const FileReport& later, std::int64_t lineOffset) {
  read += later.read;
  written += later.written;
  for (std::size_t r = 0; r < kSkipReasons; ++r) {
    Skips& mine = skipped[r];
    const Skips& theirs = later.skipped[r];
    mine.count += theirs.count;
    for (std::uint8_t k = 0; k < theirs.linesKept && mine.linesKept < kLinesKept; ++k)
      mine.lines[mine.linesKept++] = theirs.lines[k] + lineOffset;
  }
  for (std::size_t c = 0; c < kNameChanges; ++c) names[c] += later.names[c];
  anyPoint = anyPoint || later.anyPoint;
  awayFromZero = awayFromZero || later.awayFromZero;
  longitudeBeyond90 = longitudeBeyond90 || later.longitudeBeyond90;
  latitudesBeyond90 += later.latitudesBeyond90;
}

std::int64_t FileReport::SkippedTotal() const {
  std::int64_t n = 0;
  for (const Skips& s : skipped) n += s.count;
  return n;
}

std::vector<ReportHint> FileReport::Hints() const {
  std::vector<ReportHint> hints;
  if (latitudesBeyond90 > 0 && !longitudeBeyond90) hints.push_back(ReportHint::SwappedCoordinates);
  if (anyPoint && !awayFromZero) hints.push_back(ReportHint::AllZero);
  return hints;
}

bool IsZeroDegrees(std::string_view text) {
  const Degrees d = ReadDegrees(text);
  return d.whole == 0 && !d.fraction;
}

bool IsBeyond90(std::string_view t) {
  // Most longitudes tell by their whole part alone: read no further.
  std::size_t i = 0;
  while (i < t.size() && (t[i] == ' ' || t[i] == '-' || t[i] == '+')) ++i;
  std::size_t digits = 0;
  while (i + digits < t.size() && t[i + digits] >= '0' && t[i + digits] <= '9') ++digits;
  if (digits < 2) return false;
  if (digits > 2) return Beyond(ReadDegrees(t), 90);  // seldom: a flag is set, or "090"
  const int whole = (t[i] - '0') * 10 + (t[i + 1] - '0');
  return whole > 90 || (whole == 90 && Beyond(ReadDegrees(t), 90));
}

void NoteRefusedCoordinates(FileReport& report, std::string_view lat, std::string_view lon) {
  const Degrees x = ReadDegrees(lon), y = ReadDegrees(lat);
  if (x.number && Beyond(x, 90)) report.longitudeBeyond90 = true;
  if (y.number && Beyond(y, 90) && !Beyond(y, 180)) ++report.latitudesBeyond90;
}

std::string_view SkipReasonText(SkipReason reason) {
  switch (reason) {
    case SkipReason::NoCoordinates:
      return "no valid coordinates";
    case SkipReason::NoName:
      return "no name";
    case SkipReason::Filtered:
      return "filtered out";
    case SkipReason::FewFields:
      return "fewer than three fields";
    case SkipReason::UnpairedQuote:
      return "unpaired quote";
    case SkipReason::Unreadable:
      return "unreadable";
    case SkipReason::NotAPoint:
      return "not a point";
  }
  return "";
}

std::string_view SkipReasonKey(SkipReason reason) {
  switch (reason) {
    case SkipReason::NoCoordinates:
      return "no-coordinates";
    case SkipReason::NoName:
      return "no-name";
    case SkipReason::Filtered:
      return "filtered";
    case SkipReason::FewFields:
      return "few-fields";
    case SkipReason::UnpairedQuote:
      return "unpaired-quote";
    case SkipReason::Unreadable:
      return "unreadable";
    case SkipReason::NotAPoint:
      return "not-a-point";
  }
  return "";
}

std::string_view NameChangeText(NameChange change) {
  switch (change) {
    case NameChange::Cut:
      return "cut to the length limit";
    case NameChange::Unique:
      return "made unique";
    case NameChange::Replaced:
      return "with characters replaced";
  }
  return "";
}

std::string_view NameChangeKey(NameChange change) {
  switch (change) {
    case NameChange::Cut:
      return "cut";
    case NameChange::Unique:
      return "made-unique";
    case NameChange::Replaced:
      return "characters-replaced";
  }
  return "";
}

std::string_view HintText(ReportHint hint) {
  switch (hint) {
    case ReportHint::SwappedCoordinates:
      return "latitude and longitude look swapped";
    case ReportHint::AllZero:
      return "every point lies at 0,0";
  }
  return "";
}

std::string_view HintKey(ReportHint hint) {
  switch (hint) {
    case ReportHint::SwappedCoordinates:
      return "swapped-coordinates";
    case ReportHint::AllZero:
      return "all-zero";
  }
  return "";
}

std::string ReportText(const RunResult& result, bool check) {
  std::string out;
  if (check) out += "Check only: nothing was written.\n";
  for (const ItemEvent& event : result.events) {
    ForEachFile(event, [&](const FileReport& f) {
      const std::string head = f.file + ": ";
      if (event.outcome != ItemOutcome::Converted) {
        out += head + std::string(OutcomeText(event.outcome)) + "\n";
        if (f.read == 0) return;
      }
      out += head + std::to_string(f.read) + " read, " + std::to_string(f.written) +
             (check ? " to write\n" : " written\n");
      for (std::size_t r = 0; r < kSkipReasons; ++r) {
        const FileReport::Skips& s = f.skipped[r];
        if (s.count == 0) continue;
        out += head + std::to_string(s.count) + " skipped, " +
               std::string(SkipReasonText(static_cast<SkipReason>(r))) + LinesText(s) + "\n";
      }
      for (std::size_t c = 0; c < kNameChanges; ++c) {
        const std::int64_t n = f.names[c];
        if (n == 0) continue;
        out += head + std::to_string(n) + (n == 1 ? " name " : " names ") +
               std::string(NameChangeText(static_cast<NameChange>(c))) + "\n";
      }
      for (ReportHint h : f.Hints()) out += head + "hint: " + std::string(HintText(h)) + "\n";
    });
  }
  if (result.itemsNotStarted > 0)
    out += std::to_string(result.itemsNotStarted) + " more not read: the run had ended\n";
  return out;
}

std::string ReportJson(const RunResult& result, bool check) {
  std::string j = "{\"check\":";
  j += check ? "true" : "false";
  j += ",\"status\":\"";
  j += StatusKey(result.status);
  j += "\",\"entries\":" + std::to_string(result.entries) +
       ",\"outputs\":" + std::to_string(result.outputsCommitted) +
       ",\"not-started\":" + std::to_string(result.itemsNotStarted) + ",\"files\":[";
  bool first = true;
  for (const ItemEvent& event : result.events) {
    ForEachFile(event, [&](const FileReport& f) {
      if (!first) j += ',';
      first = false;
      j += "\n{\"input\":" + JsonString(f.file) + ",\"output\":" + JsonString(event.output) +
           ",\"outcome\":\"" + std::string(OutcomeKey(event.outcome)) +
           "\",\"read\":" + std::to_string(f.read) + ",\"written\":" + std::to_string(f.written) +
           ",\"skipped\":{";
      for (std::size_t r = 0; r < kSkipReasons; ++r) {
        const FileReport::Skips& s = f.skipped[r];
        if (r) j += ',';
        j += '"';
        j += SkipReasonKey(static_cast<SkipReason>(r));
        j += "\":{\"count\":" + std::to_string(s.count) + ",\"lines\":[";
        for (std::size_t i = 0; i < s.linesKept; ++i) {
          if (i) j += ',';
          j += std::to_string(s.lines[i]);
        }
        j += "]}";
      }
      j += "},\"names\":{";
      for (std::size_t c = 0; c < kNameChanges; ++c) {
        if (c) j += ',';
        j += '"';
        j += NameChangeKey(static_cast<NameChange>(c));
        j += "\":" + std::to_string(f.names[c]);
      }
      j += "},\"hints\":[";
      bool firstHint = true;
      for (ReportHint h : f.Hints()) {
        if (!firstHint) j += ',';
        firstHint = false;
        j += '"';
        j += HintKey(h);
        j += '"';
      }
      j += "]}";
    });
  }
  j += "]}\n";
  return j;
}

std::string JsonString(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* const e = p + text.size();
  while (p < e) {
    const unsigned char c = *p;
    if (c < 0x80) {
      switch (c) {
        case '"':
          out += "\\\"";
          break;
        case '\\':
          out += "\\\\";
          break;
        case '\n':
          out += "\\n";
          break;
        case '\r':
          out += "\\r";
          break;
        case '\t':
          out += "\\t";
          break;
        default:
          if (c < 0x20) {
            out += "\\u00";
            out += kHex[c >> 4];
            out += kHex[c & 15];
          } else {
            out += static_cast<char>(c);
          }
      }
      ++p;
      continue;
    }
    // A UTF-8 sequence passes whole when it is well formed (no overlong
    // form, no surrogate, nothing past U+10FFFF); else its first byte is U+FFFD.
    std::size_t n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
    if (c > 0xF4) n = 0;
    bool ok = n > 0 && static_cast<std::size_t>(e - p) >= n;
    for (std::size_t i = 1; ok && i < n; ++i) ok = (p[i] & 0xC0) == 0x80;
    if (ok && n == 3) {
      ok = !(c == 0xE0 && p[1] < 0xA0) && !(c == 0xED && p[1] >= 0xA0);
    } else if (ok && n == 4) {
      ok = !(c == 0xF0 && p[1] < 0x90) && !(c == 0xF4 && p[1] >= 0x90);
    }
    if (ok) {
      out.append(reinterpret_cast<const char*>(p), n);
      p += n;
    } else {
      out += "\\ufffd";
      ++p;
    }
  }
  return out + "\"";
}

}  // namespace marklode
