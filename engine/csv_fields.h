// POI-CSV records: reading them from a stream, splitting them at commas, and
// cleaning their fields. Double quotes pair from the left: the first and second
// enclose one stretch, the third and fourth the next, and an odd last quote
// protects the rest of the record. Commas inside a stretch do not split, and
// every double quote is removed from the fields used. Characters are never
// changed on the way: the text is tracked, not marked.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/block_reader.h"
#include "engine/run_context.h"
#include "services/text_files.h"

namespace marklode {

// Splits one record at the commas outside double-quoted stretches. The views
// point into record and keep their quotes.
void SplitCsvFields(std::string_view record, std::vector<std::string_view>& fields);
// The same, also giving each field without its quotes where that needs no
// copy: the field itself when it has none, the text between when quotes only
// enclose it, else a view with no data (the caller removes them).
void SplitCsvFields(std::string_view record, std::vector<std::string_view>& fields,
                    std::vector<std::string_view>& unquoted);

// The field with every double quote removed.
std::string CleanCsvField(std::string_view field);
// The same, into out (replacing what it held).
void CleanCsvFieldInto(std::string& out, std::string_view field);

// Text as a GPX file can hold it: UTF-8 (text that is not valid UTF-8 is read
// as Windows-1252) without the characters XML forbids.
std::string ToXmlText(std::string_view text);

// What a first pass over a whole file tells: whether it is UTF-8 (else it is
// Windows-1252) and whether it holds any CR.
struct CsvFileTraits {
  bool utf8 = true;
  bool hasCR = false;
};
CsvFileTraits ScanCsvTraits(ByteSource& src);
// The same for the file at path; a big file is read in two halves at once.
// Empty (reported) when the file cannot be read.
std::optional<CsvFileTraits> ScanCsvFileTraits(const std::string& path, MessageSink& messages);
CsvFileTraits CsvTraitsOf(std::string_view text);

// Yields the records of a POI-CSV stream as UTF-8 text. A record ends at CR,
// CR LF or LF; in a file that holds any CR, an LF inside a quoted stretch
// belongs to the field. A UTF-8 byte-order mark at the start is skipped, a
// Windows-1252 file is converted, and characters XML cannot hold (controls
// other than tab, LF and CR; U+FFFE, U+FFFF) are dropped. A record that is
// exactly the DOS end-of-file character (26) ends the file. Empty records are
// skipped.
class CsvRecordReader : public BlockReader {
 public:
  CsvRecordReader(ByteSource& src, CsvFileTraits traits, ProgressSink* progress = nullptr)
      : BlockReader(src, progress), traits_(traits) {}
  bool Next(std::string_view& record) { return Next(record, nullptr, nullptr); }
  // The same, and the record split as SplitCsvFields splits it, found in the
  // same pass over its bytes.
  bool Next(std::string_view& record, std::vector<std::string_view>* fields,
            std::vector<std::string_view>* unquoted);

 private:
  // Where a field ends and where its quotes are, from the start of the record:
  // offsets, since reading on may move the record in the buffer.
  struct FieldMarks {
    std::size_t end = 0, firstQuote = 0, lastQuote = 0;
    int quotes = 0;
  };

  template <bool Split>
  bool NextRecord(std::string_view& record, std::vector<std::string_view>* fields,
                  std::vector<std::string_view>* unquoted);
  std::string_view Clean(std::string_view raw);

  CsvFileTraits traits_;
  bool first_ = true, done_ = false;
  std::string scratch_;
  std::vector<FieldMarks> marks_;
};

}  // namespace marklode
