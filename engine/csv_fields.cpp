#include "engine/csv_fields.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <thread>

#include "engine/byte_scan.h"
#include "services/strings.h"

namespace marklode {
namespace {

// Windows-1252 bytes 0x80 to 0x9F; the five it leaves undefined keep their own
// number, as in Latin-1.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// A record this long gives back the room it took once it is read: its
// copies are not kept for the next.
constexpr std::size_t kLongRecord = 1 << 20;

bool ForbiddenControl(unsigned char c) {
  return c < 0x20 && c != '\t' && c != '\n' && c != '\r';
}

// Runs fn on every field of record, in order, as the splitting rule finds
// them.
template <class OnField>
void ForEachField(std::string_view record, OnField&& fn) {
  CsvSplitter split;
  const char* const b = record.data();
  const char* const e = b + record.size();
  for (const char* p = b;; ++p) {
    p = FindFirstOf<',', '"'>(p, e);
    if (p == e) break;
    if (*p == '"') {
      split.Quote(p - b);
    } else if (split.Comma(p - b)) {
      fn(split.field());
    }
  }
  split.End(record.size());
  fn(split.field());
}

// raw as UTF-8 without the characters XML forbids; null when raw needs no change.
const std::string* XmlSafe(std::string_view raw, bool utf8, std::string& out) {
  // Most text needs nothing: plain ASCII, or UTF-8 without controls.
  bool plain = true;
  for (const char *p = raw.data(), *e = p + raw.size(); plain; ++p) {
    p = utf8 ? FindControlOrEF(p, e) : FindControlOrHigh(p, e);
    if (p == e) break;
    const auto u = static_cast<unsigned char>(*p);
    plain = u < 0x20 ? !ForbiddenControl(u) : utf8 && u != 0xEF;
  }
  if (plain) return nullptr;
  out.clear();
  // At most three bytes of UTF-8 for each byte read as Windows-1252: room
  // taken once, never grown (and copied) on the way.
  out.reserve(utf8 ? raw.size() : 3 * raw.size());
  for (std::size_t i = 0; i < raw.size(); ++i) {
    unsigned char u = static_cast<unsigned char>(raw[i]);
    if (ForbiddenControl(u)) continue;
    if (u < 0x80) {
      out += char(u);
    } else if (!utf8) {
      AppendUtf8(out, u < 0xA0 ? kCp1252High[u - 0x80] : char32_t(u));
    } else if (u == 0xEF && i + 2 < raw.size() && raw[i + 1] == '\xBF' &&
               (raw[i + 2] == '\xBE' || raw[i + 2] == '\xBF')) {
      i += 2;  // U+FFFE and U+FFFF are not characters XML allows
    } else {
      out += char(u);
    }
  }
  return &out;
}

}  // namespace

std::string ToXmlText(std::string_view text) {
  std::string out;
  const std::string* changed = XmlSafe(text, IsValidUtf8(text), out);
  return changed ? out : std::string(text);
}

std::string_view WithoutQuotes(std::string_view record, const CsvFieldSpan& f) {
  const std::string_view field = record.substr(f.begin, f.end - f.begin);
  if (f.quotes == 0) return field;
  if (f.quotes == 2 && f.firstQuote == f.begin && f.lastQuote + 1 == f.end)
    return field.substr(1, field.size() - 2);
  return {};
}

void SplitCsvFields(std::string_view record, std::vector<std::string_view>& fields,
                    std::vector<std::string_view>& unquoted) {
  fields.clear();
  unquoted.clear();
  ForEachField(record, [&](const CsvFieldSpan& f) {
    fields.push_back(record.substr(f.begin, f.end - f.begin));
    unquoted.push_back(WithoutQuotes(record, f));
  });
}

void SplitCsvFields(std::string_view record, std::vector<std::string_view>& fields) {
  std::vector<std::string_view> unquoted;
  SplitCsvFields(record, fields, unquoted);
}

void CsvRecordFields::Finish(std::string_view record) {
  for (std::size_t k = 0; k < count && k < kHead; ++k) {
    head[k] = record.substr(spans_[k].begin, spans_[k].end - spans_[k].begin);
    unquoted[k] = WithoutQuotes(record, spans_[k]);
  }
}

void CsvRecordFields::MakeXmlSafe(bool utf8) {
  for (std::size_t k = 0; k < count && k < kHead; ++k) {
    const std::string* clean = XmlSafe(head[k], utf8, cleanHead_[k]);
    if (!clean) continue;
    head[k] = *clean;
    // Cleaning leaves quotes and commas: the field is still one field.
    ForEachField(head[k], [&](const CsvFieldSpan& f) { unquoted[k] = WithoutQuotes(head[k], f); });
  }
  if (XmlSafe(rest, utf8, cleanRest_)) {
    rest.swap(cleanRest_);
    if (cleanRest_.capacity() > kLongRecord) std::string().swap(cleanRest_);
  }
}

void CsvRecordFields::ReleaseRoom() {
  clear();
  head = unquoted = {};
  for (std::string* s :
       {&rest, &cleanRest_, &cleanHead_[0], &cleanHead_[1], &cleanHead_[2], &cleanHead_[3]})
    if (s->capacity() > kLongRecord) std::string().swap(*s);
}

void SplitCsvFields(std::string_view record, CsvRecordFields& fields) {
  fields.clear();
  ForEachField(record, [&](const CsvFieldSpan& f) { fields.Add(f, record.data()); });
  fields.Finish(record);
}

void CleanCsvFieldInto(std::string& out, std::string_view field) {
  out.clear();
  AppendCsvFieldClean(out, field);
}

void AppendCsvFieldClean(std::string& out, std::string_view field) {
  for (std::size_t start = 0;;) {
    std::size_t q = field.find('"', start);
    out.append(field.substr(start, q - start));
    if (q == std::string_view::npos) return;
    start = q + 1;
  }
}

std::string CleanCsvField(std::string_view field) {
  std::string out;
  CleanCsvFieldInto(out, field);
  return out;
}

// The framer.

namespace {

// A scan that wants nothing but the frames.
struct FramesOnly {
  static constexpr bool kCommas = false;
  void Begin() {}
  void Quote(std::size_t) {}
  void Comma(std::size_t, const char*) {}
  std::size_t Full(char*, std::size_t, bool) { return 0; }
};

}  // namespace

template <class Scan>
bool CsvFramer::Frame(Scan& scan, CsvFrame& frame) {
  constexpr std::size_t kNone = std::string_view::npos;
  if (first_) {  // a UTF-8 byte-order mark is no part of the first record
    first_ = false;
    while (end_ - begin_ < 3 && Fill()) {
    }
    if (end_ - begin_ >= 3 && std::memcmp(buf_.data() + begin_, "\xEF\xBB\xBF", 3) == 0)
      begin_ += 3;
  }
  if (done_ || cancelled_) return false;
  scan.Begin();
  std::size_t pos = begin_;
  bool quoted = false;      // inside a quoted stretch
  bool shortened = false;   // the scan took bytes out of the record
  bool overran = false;     // the record ends before bytes the scan passed on
  bool crInQuotes = false;  // see CsvFrame
  bool plain = true;        // see CsvFrame
  unsigned high = 0;        // any byte above 0x7F
  std::size_t keptLfs = 0;  // LFs that stay in quoted stretches
  // An LF in a quoted stretch while no line end has told what it is: the
  // record ends there unless a CR comes first. From the start of the record.
  std::size_t pendingLf = kNone;
  std::size_t lineEnd = kNone, next = 0;
  const auto endAtPendingLf = [&] {
    ends_ = LineEnds::kLF;
    lineEnd = begin_ + pendingLf;
    next = lineEnd + 1;
    keptLfs = 0;
    overran = true;
  };
  for (;;) {
    if (pos >= end_) {
      const std::size_t off = pos - begin_;
      if (pendingLf != kNone && off - pendingLf > kLookAhead) {
        endAtPendingLf();
        break;
      }
      // A record as long as the buffer: the scan may make room in it rather
      // than let it grow.
      if (off == buf_.size() - kPadding && pendingLf == kNone) {
        if (const std::size_t d = scan.Full(buf_.data() + begin_, off, high != 0)) {
          end_ -= d;
          pos = end_;
          shortened = true;
          continue;
        }
      }
      if (!Fill()) break;
      pos = begin_ + off;
      continue;
    }
    // Most bytes end nothing and need nothing: run past them.
    pos = FindRecordStop<Scan::kCommas>(buf_.data() + pos, buf_.data() + end_, high) - buf_.data();
    if (pos >= end_) continue;
    const char c = buf_[pos];
    if (c == '"') {
      quoted = !quoted;
      scan.Quote(pos - begin_);
    } else if (Scan::kCommas && c == ',') {
      scan.Comma(pos - begin_, buf_.data() + begin_);
    } else if (c == '\r') {
      if (ends_ == LineEnds::kUnknown) {
        if (pendingLf != kNone && pos - begin_ - pendingLf > kLookAhead) {
          endAtPendingLf();  // too far to tell a CR file by
          break;
        }
        ends_ = LineEnds::kCR;
      }
      crInQuotes = quoted;
      lineEnd = pos;
      next = pos + 1;
      if (next >= end_) {  // is an LF next, in the following block?
        const std::size_t off = pos - begin_;
        Fill();
        pos = begin_ + off;
        lineEnd = pos;
        next = pos + 1;
      }
      if (next < end_ && buf_[next] == '\n') ++next;
      break;
    } else if (c == '\n') {
      // (A record cut short knows no LF in quotes before the first line
      // end: it has no way back to one.)
      if (quoted && ends_ != LineEnds::kLF && !(shortened && ends_ == LineEnds::kUnknown)) {
        ++keptLfs;
        if (ends_ == LineEnds::kUnknown && pendingLf == kNone) pendingLf = pos - begin_;
      } else {
        if (ends_ == LineEnds::kUnknown) {
          if (pendingLf != kNone) {
            endAtPendingLf();
            break;
          }
          ends_ = LineEnds::kLF;
        }
        lineEnd = pos;
        next = pos + 1;
        break;
      }
    } else if (c != '\t') {
      plain = false;
    }
    ++pos;
  }
  if (cancelled_) return false;
  if (lineEnd == kNone) {  // the end of the input
    // LFs in a quoted stretch that closes before the end, and no line end
    // outside quotes at all: one record whose comment kept its line breaks,
    // as a file of a single point has it (it holds no CR to tell it by).
    // Cutting it at the LF would make records of the comment's lines.
    if (pendingLf != kNone && quoted) {
      endAtPendingLf();
    } else {
      lineEnd = next = end_;
      done_ = true;
    }
  }
  frame.bytes = std::string_view(buf_.data() + begin_, lineEnd - begin_);
  frame.line = line_;
  frame.keptLfs = keptLfs;
  frame.high = high != 0;
  frame.plain = plain;
  frame.overran = overran;
  frame.crInQuotes = crInQuotes;
  frame.openQuote = quoted;
  begin_ = next;
  line_ += 1 + keptLfs;
  if (frame.bytes == "\x1A") {  // a DOS end-of-file mark ends the file
    done_ = true;
    return false;
  }
  return true;
}

bool CsvFramer::Next(CsvFrame& frame) {
  FramesOnly scan;
  return Frame(scan, frame);
}

// The record-text stage.

namespace {

// Its part in a record longer than the buffer: rather than let the buffer
// grow, the fields after the fourth, which rest holds already as far as they
// count, are taken out of the bytes when that frees at least half of it. Then
// the record text holds only the first four fields and the last.
struct LongRecordCut {
  bool cut = false;  // fields were taken out of the middle of the record
  bool utf8 = true;  // and they were valid UTF-8
  // Takes [from, to) out of the size bytes at record (high: a byte above
  // 0x7F came so far); the bytes taken out.
  std::size_t Take(char* record, std::size_t size, bool high, std::size_t from, std::size_t to) {
    if (to - from < size / 2) return 0;
    if (high) utf8 = utf8 && IsValidUtf8({record + from, to - from});
    std::memmove(record + from, record + to, size - to);
    cut = true;
    return to - from;
  }
};

// A record's text, and what the splitter is to make of it.
struct RecordText {
  // Where the fields come from: the scan's, when the text is the bytes
  // scanned; the scan's made fit for XML one by one, when the text is what
  // is left of a record cut short; else a split of the text.
  enum class Fields { kScanned, kScannedMadeSafe, kSplitText };
  std::string_view text;
  Fields fields = Fields::kScanned;
  bool utf8 = true;     // the bytes were read as UTF-8
  bool copied = false;  // the text is a copy of a long record's bytes
};

// The text of a framed record that is not empty: read as UTF-8 when it is
// valid UTF-8 (with the fields cut from it, if any) and as Windows-1252
// otherwise, without the characters XML cannot hold; copied into scratch only
// when that changes it. False when nothing is left of it. (Inline: it runs
// once a record, and the call cost the reader a few percent.)
inline bool MakeRecordText(const CsvFrame& frame, const LongRecordCut& cut, std::string& scratch,
                           RecordText& out) {
  using Fields = RecordText::Fields;
  const std::string_view raw = frame.bytes;
  const bool utf8 = !frame.high || (cut.utf8 && IsValidUtf8(raw));
  const bool asItLies = frame.plain && utf8;  // nothing for XML to refuse
  out.utf8 = utf8;
  out.copied = false;
  if (cut.cut) [[unlikely]] {
    // The fields are what is left of the record: cleaned one by one.
    const std::string* changed = asItLies ? nullptr : XmlSafe(raw, utf8, scratch);
    out.text = changed ? std::string_view(*changed) : raw;
    out.fields = asItLies ? Fields::kScanned : Fields::kScannedMadeSafe;
    return true;
  }
  if (asItLies) {
    out.text = raw;
    out.fields = frame.overran ? Fields::kSplitText : Fields::kScanned;
    return true;
  }
  const std::string* changed = XmlSafe(raw, utf8, scratch);
  out.text = changed ? std::string_view(*changed) : raw;
  out.fields = Fields::kSplitText;
  out.copied = changed && raw.size() > kLongRecord;
  return !out.text.empty();
}

// The line of the first double quote in raw (a record that begins on line and
// holds LFs in quoted stretches) whose stretch ran on over a line break; 0
// when none. Fields quoted whole ("a", "b" in lines) are comments with kept
// line breaks; any other field over a line break has a stray quote.
std::size_t RunOnLine(std::string_view raw, std::size_t line) {
  std::size_t found = 0;
  ForEachField(raw, [&](const CsvFieldSpan& f) {
    if (found || f.quotes == 0) return;
    const std::string_view field = raw.substr(f.begin, f.end - f.begin);
    if (field.find('\n') == std::string_view::npos) return;
    if (f.quotes % 2 == 0 && f.firstQuote == f.begin && f.lastQuote + 1 == f.end) return;
    found =
        line + static_cast<std::size_t>(std::count(raw.begin(), raw.begin() + f.firstQuote, '\n'));
  });
  return found;
}

}  // namespace

// The splitter stage.

namespace {

// The fields of a record, found by the splitting rule as the framer's scan
// passes its quotes and commas, so that its bytes are gone over once; where
// the text is not the bytes scanned, the text is split again. It holds the
// record-text stage's cut, which takes out fields it has found.
class FieldScan {
 public:
  static constexpr bool kCommas = true;
  explicit FieldScan(CsvRecordFields& fields) : fields_(fields) {}
  void Begin() {
    fields_.clear();
    split_ = CsvSplitter();
    cut = LongRecordCut();
  }
  void Quote(std::size_t at) { split_.Quote(at); }
  void Comma(std::size_t at, const char* record) {
    if (split_.Comma(at)) fields_.Add(split_.field(), record);
  }
  std::size_t Full(char* record, std::size_t size, bool high) {
    if (fields_.count <= CsvRecordFields::kHead) return 0;
    const std::size_t d = cut.Take(record, size, high, fields_.headEnd(), split_.open());
    if (d) split_.MoveBack(d);
    return d;
  }
  // The record's fields, had where text says; bytes are the record scanned.
  void Finish(const RecordText& text, std::string_view bytes) {
    if (text.fields == RecordText::Fields::kSplitText) {
      SplitCsvFields(text.text, fields_);
      return;
    }
    split_.End(bytes.size());
    fields_.Add(split_.field(), bytes.data());
    fields_.Finish(bytes);
    if (text.fields == RecordText::Fields::kScannedMadeSafe) fields_.MakeXmlSafe(text.utf8);
  }

  LongRecordCut cut;

 private:
  CsvRecordFields& fields_;
  CsvSplitter split_;
};

// The reader without fields: no split, and so no cut.
struct NoFields : FramesOnly {
  void Finish(const RecordText&, std::string_view) {}
  const LongRecordCut cut{};
};

}  // namespace

// The reader: the three stages in turn.

void CsvRecordReader::ReleaseRoom() {
  BlockReader::ReleaseRoom();
  if (scratch_.capacity() > kLongRecord) std::string().swap(scratch_);
}

bool CsvRecordReader::Next(std::string_view& record, CsvRecordFields* fields) {
  if (fields) {
    FieldScan scan(*fields);
    return NextRecord(scan, record);
  }
  NoFields scan;
  return NextRecord(scan, record);
}

template <class Scan>
bool CsvRecordReader::NextRecord(Scan& scan, std::string_view& record) {
  CsvFrame frame;
  RecordText text;
  while (Frame(scan, frame)) {
    if (frame.keptLfs > 0) [[unlikely]]
      runOnLine_ = RunOnLine(frame.bytes, frame.line);
    if (crCutLine_ && frame.openQuote) [[unlikely]]
      crLine_ = crCutLine_;
    // (A stretch that ran on over LFs first is told as the run-on.)
    crCutLine_ = frame.crInQuotes && frame.keptLfs == 0 ? frame.line : 0;
    if (frame.bytes.empty()) continue;
    whole_ = !scan.cut.cut;
    line_ = frame.line;
    if (!MakeRecordText(frame, scan.cut, scratch_, text)) continue;
    scan.Finish(text, frame.bytes);
    // The record is all in scratch_ now: a long one's bytes need no room here.
    if (text.copied) BlockReader::ReleaseRoom();
    record = text.text;
    return true;
  }
  return false;
}

}  // namespace marklode
