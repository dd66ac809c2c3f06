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

constexpr std::size_t kBlock = 1 << 20;
// Files from this size on are checked in two halves at once.
constexpr std::uint64_t kSplitScanAt = 4 << 20;

// Windows-1252 bytes 0x80 to 0x9F; the five it leaves undefined keep their own
// number, as in Latin-1.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

bool ForbiddenControl(unsigned char c) {
  return c < 0x20 && c != '\t' && c != '\n' && c != '\r';
}

// Incremental UTF-8 check: feeds blocks, carrying an unfinished sequence over.
class Utf8Check {
 public:
  void Feed(std::string_view block) {
    if (!ok_) return;
    std::string joined;
    if (!carry_.empty()) {
      joined = carry_ + std::string(block.substr(0, 4));
      std::size_t need = SeqLen(joined);
      if (need == 0) {
        ok_ = false;
        return;
      }
      if (need > joined.size()) {  // still unfinished (block shorter than the rest)
        if (block.size() < 4) {
          carry_ = joined;
          return;
        }
        ok_ = false;
        return;
      }
      if (!IsValidUtf8(std::string_view(joined).substr(0, need))) {
        ok_ = false;
        return;
      }
      block.remove_prefix(need - carry_.size());
      carry_.clear();
    }
    // Validate up to the last sequence that may be cut by the block end.
    std::size_t cut = block.size();
    for (std::size_t back = 1; back <= 3 && back <= block.size(); ++back) {
      unsigned char c = static_cast<unsigned char>(block[block.size() - back]);
      if ((c & 0xC0) == 0xC0) {  // a lead byte: is its sequence complete?
        std::size_t n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
        if (n > back) cut = block.size() - back;
        break;
      }
      if ((c & 0x80) == 0) break;
    }
    if (!IsValidUtf8(block.substr(0, cut))) ok_ = false;
    carry_.assign(block.substr(cut));
  }
  bool Finish() const { return ok_ && carry_.empty(); }
  bool ok() const { return ok_; }
  // The start of a sequence the last block cut short.
  const std::string& carry() const { return carry_; }

 private:
  static std::size_t SeqLen(std::string_view s) {
    unsigned char c = static_cast<unsigned char>(s[0]);
    if (c >= 0xC2 && c <= 0xDF) return 2;
    if (c >= 0xE0 && c <= 0xEF) return 3;
    if (c >= 0xF0 && c <= 0xF4) return 4;
    return 0;
  }
  bool ok_ = true;
  std::string carry_;
};

}  // namespace

namespace {

// A field without its quotes where that needs no copy: the field itself when
// it has none, the text between when two quotes only enclose it; else a view
// with no data (quotes inside: the caller removes them).
std::string_view WithoutQuotes(std::string_view field, int quotes, bool enclosed) {
  if (quotes == 0) return field;
  if (quotes == 2 && enclosed) return field.substr(1, field.size() - 2);
  return {};
}

}  // namespace

void SplitCsvFields(std::string_view record, std::vector<std::string_view>& fields,
                    std::vector<std::string_view>& unquoted) {
  fields.clear();
  unquoted.clear();
  bool quoted = false;
  const char* p = record.data();
  const char* const e = p + record.size();
  const char* start = p;
  const char* firstQuote = nullptr;  // in the field being read
  const char* lastQuote = nullptr;
  int quotes = 0;
  const auto endField = [&](const char* end) {
    fields.emplace_back(start, end - start);
    unquoted.push_back(
        WithoutQuotes(fields.back(), quotes, firstQuote == start && lastQuote == end - 1));
    quotes = 0;
  };
  for (;; ++p) {
    p = FindFirstOf<',', '"'>(p, e);
    if (p == e) break;
    if (*p == '"') {
      quoted = !quoted;
      if (quotes++ == 0) firstQuote = p;
      lastQuote = p;
    } else if (!quoted) {
      endField(p);
      start = p + 1;
    }
  }
  endField(e);
}

void SplitCsvFields(std::string_view record, std::vector<std::string_view>& fields) {
  std::vector<std::string_view> unquoted;
  SplitCsvFields(record, fields, unquoted);
}

void CleanCsvFieldInto(std::string& out, std::string_view field) {
  out.clear();
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

CsvFileTraits CsvTraitsOf(std::string_view text) {
  CsvFileTraits t;
  t.utf8 = IsValidUtf8(text);
  t.hasCR = text.find('\r') != std::string_view::npos;
  return t;
}

namespace {

// Feeds src to check, up to limit bytes; returns whether it held a CR. With
// skipLead, continuation bytes at the start (at most three, the end of a
// sequence begun before) go to lead instead.
bool Scan(ByteSource& src, std::uint64_t limit, Utf8Check& check, std::string* lead = nullptr) {
  bool hasCR = false;
  std::vector<char> buf(kBlock);
  while (limit > 0) {
    const std::size_t n = src.Read(buf.data(), std::min<std::uint64_t>(buf.size(), limit));
    if (n == 0) break;
    limit -= n;
    std::string_view block(buf.data(), n);
    if (lead) {
      while (!block.empty() && lead->size() < 3 && (block[0] & 0xC0) == 0x80) {
        lead->push_back(block[0]);
        block.remove_prefix(1);
      }
      if (!block.empty()) lead = nullptr;
    }
    if (!hasCR && std::memchr(block.data(), '\r', block.size())) hasCR = true;
    check.Feed(block);
  }
  return hasCR;
}

}  // namespace

CsvFileTraits ScanCsvTraits(ByteSource& src) {
  CsvFileTraits t;
  Utf8Check check;
  t.hasCR = Scan(src, UINT64_MAX, check);
  t.utf8 = check.Finish();
  return t;
}

std::optional<CsvFileTraits> ScanCsvFileTraits(const std::string& path, MessageSink& messages) {
  InputFile first(messages);
  if (!first.Open(path)) return std::nullopt;
  const std::uint64_t size = first.Size();
  if (size >= kSplitScanAt) {
    // The second half on a thread of its own; its messages are kept, not shown.
    const std::uint64_t half = size / 2;
    RecordingMessageSink quiet;
    Utf8Check second;
    std::string lead;
    bool secondCR = false, helperFailed = false;
    std::thread helper([&] {
      InputFile in(quiet);
      if (in.Open(path) && in.Seek(half)) {
        secondCR = Scan(in, UINT64_MAX, second, &lead);
      } else {
        helperFailed = true;
      }
    });
    Utf8Check check;
    const bool firstCR = Scan(first, half, check);
    helper.join();
    if (!first.failed() && quiet.boxes.empty() && !helperFailed) {
      // The sequence cut at the middle: the end of the first half's and the
      // start of the second's must make one whole, or both be empty.
      const std::string joint = check.carry() + lead;
      CsvFileTraits t;
      t.hasCR = firstCR || secondCR;
      t.utf8 = check.ok() && second.Finish() && (joint.empty() || IsValidUtf8(joint));
      return t;
    }
    if (first.failed()) return std::nullopt;  // reported
    // The second half failed: read it all again here, where failures are reported.
    InputFile again(messages);
    if (!again.Open(path)) return std::nullopt;
    const CsvFileTraits t = ScanCsvTraits(again);
    if (again.failed()) return std::nullopt;
    return t;
  }
  const CsvFileTraits t = ScanCsvTraits(first);
  if (first.failed()) return std::nullopt;
  return t;
}

namespace {

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

std::string_view CsvRecordReader::Clean(std::string_view raw) {
  const std::string* changed = XmlSafe(raw, traits_.utf8, scratch_);
  return changed ? std::string_view(*changed) : raw;
}

bool CsvRecordReader::Next(std::string_view& record, std::vector<std::string_view>* fields,
                           std::vector<std::string_view>* unquoted) {
  return fields ? NextRecord<true>(record, fields, unquoted)
                : NextRecord<false>(record, nullptr, nullptr);
}

template <bool Split>
bool CsvRecordReader::NextRecord(std::string_view& record, std::vector<std::string_view>* fields,
                                 std::vector<std::string_view>* unquoted) {
  if (first_) {  // a UTF-8 byte-order mark is no part of the first record
    first_ = false;
    while (end_ - begin_ < 3 && Fill()) {
    }
    if (end_ - begin_ >= 3 && std::memcmp(buf_.data() + begin_, "\xEF\xBB\xBF", 3) == 0)
      begin_ += 3;
  }
  while (!done_ && !cancelled_) {
    std::size_t pos = begin_;
    bool quoted = false;
    bool plain = true;  // nothing for XML to refuse: the record is used as it lies
    std::size_t lineEnd = std::string_view::npos, next = 0;
    FieldMarks field;
    std::size_t marked = 0;  // fields ended in marks_ (kept as large as it grew)
    for (;;) {
      if (pos >= end_) {
        std::size_t off = pos - begin_;
        if (!Fill()) break;
        pos = begin_ + off;
        continue;
      }
      // Most bytes end nothing and need nothing: run past them.
      pos =
          FindRecordStop<Split>(buf_.data() + pos, buf_.data() + end_, traits_.utf8) - buf_.data();
      if (pos >= end_) continue;
      char c = buf_[pos];
      if (c == '"') {
        quoted = !quoted;
        if constexpr (Split) {
          if (field.quotes++ == 0) field.firstQuote = pos - begin_;
          field.lastQuote = pos - begin_;
        }
      } else if (Split && c == ',') {
        if (!quoted) {
          field.end = pos - begin_;
          if (marked == marks_.size()) marks_.resize(2 * marked + 8);
          marks_[marked++] = field;
          field = FieldMarks();
        }
      } else if (c == '\r') {
        lineEnd = pos;
        next = pos + 1;
        if (next >= end_) {  // is an LF next, in the following block?
          std::size_t off = pos - begin_;
          Fill();
          pos = begin_ + off;
          lineEnd = pos;
          next = pos + 1;
        }
        if (next < end_ && buf_[next] == '\n') ++next;
        break;
      } else if (c == '\n') {
        if (!(quoted && traits_.hasCR)) {
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
    if (lineEnd == std::string_view::npos) {  // the end of the input
      lineEnd = next = end_;
      done_ = true;
    }
    std::string_view raw(buf_.data() + begin_, lineEnd - begin_);
    begin_ = next;
    if (raw == "\x1A") {  // a DOS end-of-file mark ends the file
      done_ = true;
      return false;
    }
    if (raw.empty()) continue;
    record = plain ? raw : Clean(raw);
    if (record.empty()) continue;
    if constexpr (Split) {
      if (!plain) {  // cleaning moved the bytes: split the clean text
        SplitCsvFields(record, *fields, *unquoted);
        return true;
      }
      field.end = raw.size();
      if (marked == marks_.size()) marks_.resize(2 * marked + 8);
      marks_[marked++] = field;
      fields->clear();
      unquoted->clear();
      std::size_t start = 0;
      for (std::size_t k = 0; k < marked; ++k) {
        const FieldMarks& m = marks_[k];
        const std::string_view f = raw.substr(start, m.end - start);
        fields->push_back(f);
        unquoted->push_back(
            WithoutQuotes(f, m.quotes, m.firstQuote == start && m.lastQuote == m.end - 1));
        start = m.end + 1;
      }
    }
    return true;
  }
  return false;
}

}  // namespace marklode
