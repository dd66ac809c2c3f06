// POI-CSV records: reading them from a stream, splitting them at commas, and
// cleaning their fields. Double quotes pair from the left: the first and second
// enclose one stretch, the third and fourth the next, and an odd last quote
// protects the rest of the record. Commas inside a stretch do not split, and
// every double quote is removed from the fields used. Characters are never
// changed on the way: the text is tracked, not marked.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/block_reader.h"
#include "engine/progress.h"
#include "services/text_files.h"

namespace marklode {

// Where one field lies in its record and where its double quotes are: offsets
// from the start of the record.
struct CsvFieldSpan {
  std::size_t begin = 0, end = 0;
  std::size_t firstQuote = 0, lastQuote = 0;
  std::size_t quotes = 0;
};

// The splitting rule, fed the double quotes and commas of one record in
// order. Every splitter of records goes through it, so none can drift.
class CsvSplitter {
 public:
  bool quoted() const { return quoted_; }
  void Quote(std::size_t at) {
    quoted_ = !quoted_;
    if (open_.quotes++ == 0) open_.firstQuote = at;
    open_.lastQuote = at;
  }
  // A comma at at: true when it ends a field (it stands outside the quoted
  // stretches), which field() then gives.
  bool Comma(std::size_t at) {
    if (quoted_) return false;
    Close(at);
    return true;
  }
  // The record ends at at: field() is its last field.
  void End(std::size_t at) { Close(at); }
  const CsvFieldSpan& field() const { return closed_; }
  // Where the field being read began.
  std::size_t open() const { return open_.begin; }
  // The bytes before the field being read moved back by d.
  void MoveBack(std::size_t d) {
    open_.begin -= d;
    open_.firstQuote -= d;
    open_.lastQuote -= d;
  }

 private:
  void Close(std::size_t at) {
    closed_ = open_;
    closed_.end = at;
    open_ = CsvFieldSpan();
    open_.begin = at + 1;
  }
  bool quoted_ = false;
  CsvFieldSpan open_, closed_;
};

// The field f of record without its quotes where that needs no copy: the
// field itself when it has none, the text between when two quotes only
// enclose it; else a view with no data (CleanCsvFieldInto removes them).
std::string_view WithoutQuotes(std::string_view record, const CsvFieldSpan& f);

// Splits one record at the commas outside double-quoted stretches. The views
// point into record and keep their quotes.
void SplitCsvFields(std::string_view record, std::vector<std::string_view>& fields);
// The same, also giving each field as WithoutQuotes gives it.
void SplitCsvFields(std::string_view record, std::vector<std::string_view>& fields,
                    std::vector<std::string_view>& unquoted);

// A record's fields as far as a point uses them: the first four, and the
// further ones that are not empty, joined end to end, each after ", ". What it
// holds grows with those fields only, however many empty ones a record has.
struct CsvRecordFields {
  static constexpr std::size_t kHead = 4;
  std::size_t count = 0;  // fields in the record
  // The first four (as many as there are), quotes kept, and as WithoutQuotes
  // gives them.
  std::array<std::string_view, kHead> head, unquoted;
  std::string rest;  // the further fields not empty once fit for XML, quotes kept

  void clear() {
    count = 0;
    rest.clear();
  }
  // A field ended; record is where its offsets point.
  void Add(const CsvFieldSpan& f, const char* record) {
    if (count < kHead) {
      spans_[count] = f;
    } else if (f.end > f.begin && !OnlyDropped(record + f.begin, record + f.end)) {
      rest.append(", ").append(record + f.begin, f.end - f.begin);
    }
    ++count;
  }
  // Whether [p, e) holds only controls that XML cannot hold, so that it is
  // empty once made fit for XML (most fields stop at their first byte).
  static bool OnlyDropped(const char* p, const char* e) {
    for (; p < e; ++p) {
      const auto c = static_cast<unsigned char>(*p);
      if (c >= 0x20 || c == '\t' || c == '\n' || c == '\r') return false;
    }
    return true;
  }
  // Every field added: the views into record.
  void Finish(std::string_view record);
  // Where the fifth field begins, once the fourth has ended.
  std::size_t headEnd() const { return spans_[kHead - 1].end + 1; }
  // The fields as XML can hold them, made so one by one (utf8: as
  // ToXmlText reads text that is valid UTF-8, else as Windows-1252).
  void MakeXmlSafe(bool utf8);
  // Gives back the room a long record's fields took; the fields are gone.
  void ReleaseRoom();

 private:
  std::array<CsvFieldSpan, kHead> spans_;
  std::array<std::string, kHead> cleanHead_;
  std::string cleanRest_;
};
// Splits one record as SplitCsvFields does, into the kept form.
void SplitCsvFields(std::string_view record, CsvRecordFields& fields);

// The field with every double quote removed.
std::string CleanCsvField(std::string_view field);
// The same, into out (replacing what it held).
void CleanCsvFieldInto(std::string& out, std::string_view field);
// The same, appended to out.
void AppendCsvFieldClean(std::string& out, std::string_view field);

// Text as a GPX file can hold it: UTF-8 (text that is not valid UTF-8 is read
// as Windows-1252) without the characters XML forbids.
std::string ToXmlText(std::string_view text);

// One record of a POI-CSV stream as the framer finds it: its bytes as they lie
// in the stream, without its line end, and what the scan met on the way, so
// that no later stage has to look at its bytes again for that.
struct CsvFrame {
  std::string_view bytes;
  std::size_t line = 0;     // the line it begins on
  std::size_t keptLfs = 0;  // LFs it holds inside quoted stretches
  bool high = false;        // a byte above 0x7F: it may not be UTF-8
  bool plain = true;        // no control but tab, CR and LF, and no 0xEF
  // The scan ran past its end, which was a held LF: what the scan found past
  // it is no part of it.
  bool overran = false;
  // It ended at a CR inside a quoted stretch: what followed the CR, in the
  // field or not, is the next record.
  bool crInQuotes = false;
  bool openQuote = false;  // a quoted stretch was open where it ended
};

// The first stage of reading POI-CSV, the framer: where each record ends. A
// record ends at CR, CR LF or LF. The first line end of the stream decides
// what an LF inside a quoted stretch is: in a stream whose first line ends in
// CR (or CR LF) it belongs to the field, as in comments with kept line
// breaks; otherwise it ends the record like any LF. Until a line end has told,
// an LF in quotes is held: the record ends there (an LF stream) when an LF
// outside quotes comes before any CR, when no CR comes within kLookAhead bytes
// of it, or when its stretch is still open at the end of the input. A UTF-8
// byte-order mark at the start is skipped. A record that is exactly the DOS end-of-file character
// (26) ends the stream. Empty records are given too: they count as lines.
class CsvFramer : public BlockReader {
 public:
  // How far past an LF in a quoted stretch the framer looks for the first line
  // end, when none came before: a stream with no CR within it is an LF stream.
  static constexpr std::size_t kLookAhead = 1 << 20;

  explicit CsvFramer(ByteSource& src, ProgressSink* progress = nullptr)
      : BlockReader(src, progress) {}
  // The next record; its bytes stay until the next call. False at the end of
  // the stream or when the run was cancelled.
  bool Next(CsvFrame& frame);

 protected:
  // Next, with the bytes of interest fed to scan in order as the one pass
  // over them meets them, at offsets from the start of the record:
  //   Scan::kCommas                   whether commas are fed
  //   scan.Begin()                    a record begins
  //   scan.Quote(at)                  a double quote
  //   scan.Comma(at, record)          a comma; record is where offsets point
  //   scan.Full(record, size, high)   the buffer is full with nothing but the
  //                                   first size bytes of the record and no LF
  //                                   held: the bytes the scan took out of
  //                                   them, moving the rest back, or 0 to let
  //                                   the buffer grow. high: a byte above 0x7F
  //                                   came so far.
  // A record whose bytes were taken out of holds no LF in quotes before the
  // first line end: it has no way back to one.
  template <class Scan>
  bool Frame(Scan& scan, CsvFrame& frame);

 private:
  enum class LineEnds { kUnknown, kCR, kLF };

  LineEnds ends_ = LineEnds::kUnknown;
  bool first_ = true, done_ = false;
  std::size_t line_ = 1;  // where the next record begins
};

// Yields the records of a POI-CSV stream as UTF-8 text, in one pass over its
// bytes, in three stages: the framer (CsvFramer) finds where a record ends;
// the record-text stage makes its bytes into text: each record is read as
// UTF-8 when it is valid UTF-8 and as Windows-1252 otherwise, so one stray
// byte garbles no other record, and the characters XML cannot hold (controls
// other than tab, LF and CR; U+FFFE, U+FFFF) are dropped; the splitter cuts
// the text into fields, from the quotes and commas the framer's scan met
// where the text is the bytes scanned. Empty records are skipped.
class CsvRecordReader : public CsvFramer {
 public:
  explicit CsvRecordReader(ByteSource& src, ProgressSink* progress = nullptr)
      : CsvFramer(src, progress) {}
  bool Next(std::string_view& record) { return Next(record, nullptr); }
  // BlockReader's, and the room a long record took to be made fit for XML.
  void ReleaseRoom();
  // The same, and the record split as SplitCsvFields splits it, found in the
  // same pass over its bytes.
  bool Next(std::string_view& record, CsvRecordFields* fields);

  // Whether the last record came whole: a record longer than the buffer
  // drops its further fields as they pass (copied into rest), and then only
  // its first four and its last are left in the record text.
  bool whole() const { return whole_; }
  // The line the last record began on.
  std::size_t line() const { return line_; }

  // The line of a double quote whose stretch ran on over a line break and
  // took in what followed: a field over line breaks that is not quoted whole.
  // Told for each such record; 0 when none.
  std::size_t TakeRunOnLine() { return std::exchange(runOnLine_, 0); }
  // The line of a CR that ended a record inside a quoted stretch when the
  // next record closes that stretch (its quotes are odd): a line break in a
  // field, whose rest became a record of its own. (An odd last quote with
  // whole records after it is a stray quote that protects the rest of its
  // record, as in any other.) Told for each, as the run-on quote is; 0 when none.
  std::size_t TakeCrInQuotesLine() { return std::exchange(crLine_, 0); }

 private:
  template <class Scan>
  bool NextRecord(Scan& scan, std::string_view& record);

  bool whole_ = true;
  std::size_t runOnLine_ = 0, crLine_ = 0, line_ = 0;
  std::size_t crCutLine_ = 0;  // the record before ended at a CR in quotes there
  std::string scratch_;
};

}  // namespace marklode
