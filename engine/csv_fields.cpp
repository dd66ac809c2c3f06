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

void CsvRecordReader::ReleaseRoom() {
  BlockReader::ReleaseRoom();
  if (scratch_.capacity() > kLongRecord) std::string().swap(scratch_);
}

void CsvRecordReader::CheckRunOn(std::string_view raw) {
  // Fields quoted whole ("a", "b" in lines) are comments with kept line
  // breaks; any other field over a line break has a stray quote.
  ForEachField(raw, [&](const CsvFieldSpan& f) {
    if (runOnTold_ || f.quotes == 0) return;
    const std::string_view field = raw.substr(f.begin, f.end - f.begin);
    if (field.find('\n') == std::string_view::npos) return;
    if (f.quotes % 2 == 0 && f.firstQuote == f.begin && f.lastQuote + 1 == f.end) return;
    runOnTold_ = true;
    runOnLine_ =
        line_ + static_cast<std::size_t>(std::count(raw.begin(), raw.begin() + f.firstQuote, '\n'));
  });
}

bool CsvRecordReader::Next(std::string_view& record, CsvRecordFields* fields) {
  return fields ? NextRecord<true>(record, fields) : NextRecord<false>(record, nullptr);
}

template <bool Split>
bool CsvRecordReader::NextRecord(std::string_view& record, CsvRecordFields* fields) {
  constexpr std::size_t kNone = std::string_view::npos;
  if (first_) {  // a UTF-8 byte-order mark is no part of the first record
    first_ = false;
    while (end_ - begin_ < 3 && Fill()) {
    }
    if (end_ - begin_ >= 3 && std::memcmp(buf_.data() + begin_, "\xEF\xBB\xBF", 3) == 0)
      begin_ += 3;
  }
  while (!done_ && !cancelled_) {
    std::size_t pos = begin_;
    CsvSplitter split;
    bool plain = true;        // nothing for XML to refuse: the record is used as it lies
    unsigned high = 0;        // any byte above 0x7F: the record may not be UTF-8
    bool resplit = false;     // the record ends before bytes already split
    bool cut = false;         // fields were dropped from the middle of the record
    bool cutUtf8 = true;      // and they were valid UTF-8
    std::size_t keptLfs = 0;  // LFs that stay in quoted stretches
    // An LF in a quoted stretch while no line end has told what it is: the
    // record ends there unless a CR comes first. From the start of the record.
    std::size_t pendingLf = kNone;
    std::size_t lineEnd = kNone, next = 0;
    if constexpr (Split) fields->clear();
    const auto endAtPendingLf = [&] {
      ends_ = LineEnds::kLF;
      lineEnd = begin_ + pendingLf;
      next = lineEnd + 1;
      keptLfs = 0;
      resplit = true;
    };
    for (;;) {
      if (pos >= end_) {
        const std::size_t off = pos - begin_;
        if (pendingLf != kNone && off - pendingLf > kLookAhead) {
          endAtPendingLf();
          break;
        }
        if constexpr (Split) {
          // A record as long as the buffer: rather than grow it, drop the
          // further fields read so far, which rest holds as far as they
          // count, when that frees at least half of it.
          const std::size_t capacity = buf_.size() - kPadding;
          if (off == capacity && pendingLf == kNone && fields->count > CsvRecordFields::kHead) {
            const std::size_t from = fields->headEnd(), to = split.open();
            if (to - from >= capacity / 2) {
              char* const r = buf_.data() + begin_;
              if (high) cutUtf8 = cutUtf8 && IsValidUtf8({r + from, to - from});
              std::memmove(r + from, r + to, off - to);
              end_ -= to - from;
              pos = end_;
              split.MoveBack(to - from);
              cut = true;
              continue;
            }
          }
        }
        if (!Fill()) break;
        pos = begin_ + off;
        continue;
      }
      // Most bytes end nothing and need nothing: run past them.
      pos = FindRecordStop<Split>(buf_.data() + pos, buf_.data() + end_, high) - buf_.data();
      if (pos >= end_) continue;
      const char c = buf_[pos];
      if (c == '"') {
        split.Quote(pos - begin_);
      } else if (Split && c == ',') {
        if (split.Comma(pos - begin_)) fields->Add(split.field(), buf_.data() + begin_);
      } else if (c == '\r') {
        if (ends_ == LineEnds::kUnknown) {
          if (pendingLf != kNone && pos - begin_ - pendingLf > kLookAhead) {
            endAtPendingLf();  // too far to tell a CR file by
            break;
          }
          ends_ = LineEnds::kCR;
        }
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
        if (split.quoted() && ends_ != LineEnds::kLF && !(cut && ends_ == LineEnds::kUnknown)) {
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
      if (pendingLf != kNone && split.quoted()) {
        endAtPendingLf();
      } else {
        lineEnd = next = end_;
        done_ = true;
      }
    }
    const std::string_view raw(buf_.data() + begin_, lineEnd - begin_);
    begin_ = next;
    if (keptLfs > 0 && !runOnTold_) [[unlikely]]
      CheckRunOn(raw);
    line_ += 1 + keptLfs;
    if (raw == "\x1A") {  // a DOS end-of-file mark ends the file
      done_ = true;
      return false;
    }
    if (raw.empty()) continue;
    const bool utf8 = high == 0 || (cutUtf8 && IsValidUtf8(raw));
    whole_ = !cut;
    if (cut) [[unlikely]] {
      // The fields are what is left of the record: cleaned one by one.
      const std::string* changed = plain && utf8 ? nullptr : XmlSafe(raw, utf8, scratch_);
      record = changed ? std::string_view(*changed) : raw;
      if constexpr (Split) {
        split.End(raw.size());
        fields->Add(split.field(), raw.data());
        fields->Finish(raw);
        if (!(plain && utf8)) fields->MakeXmlSafe(utf8);  // dropped fields count too
      }
      return true;
    }
    if (plain && utf8) {
      record = raw;
      if constexpr (Split) {
        if (resplit) {
          SplitCsvFields(record, *fields);
        } else {
          split.End(raw.size());
          fields->Add(split.field(), raw.data());
          fields->Finish(raw);
        }
      }
      return true;
    }
    const std::string* changed = XmlSafe(raw, utf8, scratch_);
    record = changed ? std::string_view(*changed) : raw;
    if (record.empty()) continue;
    if constexpr (Split) SplitCsvFields(record, *fields);
    // The record is all in scratch_ now: a long one's bytes need no room here.
    if (changed && raw.size() > kLongRecord) BlockReader::ReleaseRoom();
    return true;
  }
  return false;
}

}  // namespace marklode
