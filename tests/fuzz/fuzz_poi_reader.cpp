// Fuzzes the POI-CSV reader and the GPX writer behind it. The input is split at
// NUL bytes into the CSV text and up to four templates (comment, name,
// category, icon); without them the command line's defaults apply. The GPX
// written must be well-formed XML whatever the input, hold one element per
// point counted, and be valid UTF-8. The records, and the fields found while
// reading them, must not depend on the block size the reader is fed in.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "engine/csv_fields.h"
#include "engine/poi_to_gpx.h"
#include "services/messages.h"
#include "services/text_files.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

// The records, each checked to be split while reading as SplitCsvFields
// splits it: the kept fields are the first four of the full split and the
// further ones that are not empty.
std::vector<std::string> Records(marklode::ByteSource& src) {
  marklode::CsvRecordReader reader(src);
  std::vector<std::string> out;
  std::string_view r;
  marklode::CsvRecordFields kept;
  std::vector<std::string_view> all, unquoted;
  while (reader.Next(r, &kept)) {
    marklode::SplitCsvFields(r, all, unquoted);
    out.emplace_back(r);
    const std::size_t head = marklode::CsvRecordFields::kHead;
    std::string rest;
    for (std::size_t i = head; i < all.size(); ++i)
      if (!all[i].empty()) rest.append(", ").append(all[i]);
    if (!reader.whole()) {
      // Fields after the fourth were dropped as they passed: the record holds
      // the first four and the last few, and rest ends with those.
      FUZZ_CHECK(kept.count > all.size() && all.size() > head);
      for (std::size_t i = 0; i < head; ++i)
        FUZZ_CHECK(kept.head[i] == all[i] && kept.unquoted[i] == unquoted[i]);
      FUZZ_CHECK(kept.rest.ends_with(rest));
      continue;
    }
    FUZZ_CHECK(kept.count == all.size());
    for (std::size_t i = 0; i < all.size() && i < head; ++i)
      FUZZ_CHECK(kept.head[i] == all[i] && kept.unquoted[i] == unquoted[i] &&
                 (kept.unquoted[i].data() == nullptr) == (unquoted[i].data() == nullptr));
    FUZZ_CHECK(kept.rest == rest);
  }
  return out;
}

bool ValidUtf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = s[i];
    std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (std::size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += n;
  }
  return true;
}

// Characters XML 1.0 does not allow, even escaped.
bool XmlChars(std::string_view s) {
  for (unsigned char c : s)
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
  return s.find("\xEF\xBF\xBE") == std::string_view::npos &&
         s.find("\xEF\xBF\xBF") == std::string_view::npos;
}

// Well-formedness as far as this writer can get it wrong: tags nest, every "&"
// starts an entity, and no "<" or "&" stands raw in text or attribute values.
bool WellFormed(std::string_view xml) {
  std::vector<std::string_view> open;
  std::size_t i = 0;
  while (i < xml.size()) {
    const char c = xml[i];
    if (c == '&') {
      const std::size_t semi = xml.find(';', i);
      if (semi == std::string_view::npos) return false;
      const std::string_view ent = xml.substr(i + 1, semi - i - 1);
      if (ent != "amp" && ent != "lt" && ent != "gt" && ent != "quot" && ent != "apos" &&
          !(ent.size() > 1 && ent[0] == '#'))
        return false;
      i = semi + 1;
      continue;
    }
    if (c != '<') {
      ++i;
      continue;
    }
    const std::size_t close = xml.find('>', i);
    if (close == std::string_view::npos) return false;
    std::string_view tag = xml.substr(i + 1, close - i - 1);
    i = close + 1;
    if (tag.empty()) return false;
    if (tag[0] == '?') continue;
    // Attribute values may not hold "<" (">" ended the tag early only if the
    // writer left one raw, which the nesting check below then catches).
    if (tag.find('<') != std::string_view::npos) return false;
    bool selfClosing = tag.back() == '/';
    if (tag[0] == '/') {
      const std::string_view name = tag.substr(1);
      if (open.empty() || open.back() != name) return false;
      open.pop_back();
      continue;
    }
    std::size_t quotes = 0;
    for (char t : tag) quotes += t == '"';
    if (quotes % 2) return false;
    if (!selfClosing) open.push_back(tag.substr(0, tag.find_first_of(" \t\r\n")));
  }
  return open.empty();
}

std::size_t CountPoints(std::string_view xml) {
  std::size_t n = 0;
  for (std::string_view start : {"\n  <wpt lat=", "\n  <rtept lat="})
    for (std::size_t p = xml.find(start); p != std::string_view::npos; p = xml.find(start, p + 1))
      ++n;
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string_view> parts = NulSeparated(data, size, 5);
  const std::string_view csv = parts[0];
  marklode::PoiTemplates templates{"<T>", "", "", ""};
  if (parts.size() > 1) {
    templates.comment = parts[1];
    templates.name = parts.size() > 2 ? parts[2] : "";
    templates.category = parts.size() > 3 ? parts[3] : "";
    templates.icon = parts.size() > 4 ? parts[4] : "";
  }

  marklode::RecordingMessageSink messages;
  std::int32_t count = -1;
  const std::string gpx =
      marklode::ConvertPoiTextToGpx(csv, "fuzz.csv", templates, messages, count);
  FUZZ_CHECK(count >= 0 && CountPoints(gpx) == static_cast<std::size_t>(count));
  FUZZ_CHECK(ValidUtf8(gpx));
  FUZZ_CHECK(XmlChars(gpx));
  FUZZ_CHECK(WellFormed(gpx));

  marklode::MemorySource whole(csv);
  ChunkedSource chunked(csv, 1 + size % 13);
  FUZZ_CHECK(Records(whole) == Records(chunked));
  return 0;
}
