#include "engine/gpx_reader.h"

#include <algorithm>
#include <cstring>

#include "engine/byte_scan.h"
#include "services/strings.h"

namespace marklode {
namespace {

// The longest piece of markup told apart by its first bytes: "<gpxx:category>".
constexpr std::size_t kLookahead = 16;

// A gathered text this long is not kept for the next field once used.
constexpr std::size_t kKeepCapacity = 1 << 20;

// The room every field's string keeps at least. Past the library's inline
// buffer, handing a waypoint over swaps pointers instead of copying bytes.
constexpr std::size_t kMinCapacity = 64;

void KeepRoom(std::string& s) {
  if (s.capacity() < kMinCapacity) s.reserve(kMinCapacity);
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// "<name" followed by the end of the input, a blank, a line break, ">" or "/":
// a start tag of exactly that element, compared without regard to case.
bool IsStartTag(std::string_view s, std::string_view open) {
  if (!IStartsWith(s, open)) return false;
  if (s.size() == open.size()) return true;
  char c = s[open.size()];
  return IsSpace(c) || c == '>' || c == '/';
}

}  // namespace

GpxReader::GpxReader(ByteSource& src, bool keepCommentLineBreaks, ProgressSink* progress)
    : BlockReader(src, progress), joiner_(keepCommentLineBreaks ? "\n" : " - ") {
  KeepRoom(raw_);
  KeepRoom(scratch_);
}

GpxReader::GpxReader(ReadBuffer& bytes, std::size_t n, bool keepCommentLineBreaks)
    : BlockReader(bytes, n), joiner_(keepCommentLineBreaks ? "\n" : " - ") {
  KeepRoom(raw_);
  KeepRoom(scratch_);
}

bool GpxReader::EnsureMore(std::size_t k) {
  while (end_ - begin_ < k)
    if (!More()) return false;
  return true;
}

bool GpxReader::More() {
  // The bytes before begin_ go: the open waypoint's line is worked out
  // while its start is still there.
  if (open_) LineOf(cur_);
  CountLines(begin_);
  const bool more = Fill();
  counted_ = begin_;  // the bytes before begin_ are gone
  return more;
}

void GpxReader::CountLines(std::size_t to) {
  const char* const p = buf_.data() + counted_;
  const char* const e = buf_.data() + to;
  lf_ += static_cast<std::int64_t>(CountByte<'\n'>(p, e));
  if (lf_ == 0) cr_ += static_cast<std::int64_t>(CountByte<'\r'>(p, e));
  counted_ = to;
}

std::int64_t GpxReader::LineAt(std::uint64_t at) {
  const std::uint64_t first = consumed_ - end_;  // the input offset of buf_[0]
  if (at > first + counted_ && at <= first + end_) CountLines(static_cast<std::size_t>(at - first));
  return 1 + lineBase_ + lineEnds();
}

void GpxReader::NoteNameless() {
  ++nameless_;
  if (namelessKept_ < namelessLines_.size()) namelessLines_[namelessKept_++] = LineOf(cur_);
}

bool GpxReader::Finish() {
  const bool named = open_ && hasName_;
  if (named) swap(*out_, cur_);  // swapped, not moved: the strings keep their room
  if (open_ && !hasName_) NoteNameless();
  open_ = false;
  return named;
}

// A waypoint's end or the start of the next waypoint, route or track.
bool GpxReader::Boundary(std::size_t avail, bool& wptStart) const {
  const std::string_view s(buf_.data() + begin_, std::min(avail, kLookahead));
  const char letter = s.size() > 1 ? static_cast<char>(s[1] | 0x20) : '\0';
  wptStart = letter == 'w' && IsStartTag(s, "<wpt");
  return wptStart || (letter == '/' && s.starts_with("</wpt>")) ||
         (letter == 'r' && IsStartTag(s, "<rte")) || (letter == 't' && IsStartTag(s, "<trk"));
}

bool GpxReader::EnterSection(std::string_view s, bool inText) {
  if (s.size() < 2 || (s[1] != '!' && s[1] != '?')) return false;  // the usual markup
  std::size_t opener;
  if (s[1] == '?') {
    skip_ = Skip::Pi;
    opener = 2;
  } else if (s.starts_with("<!--")) {
    skip_ = Skip::Comment;
    opener = 4;
  } else if (s.starts_with("<![CDATA[")) {
    if (inText) raw_.append(s.substr(0, 9));
    skip_ = Skip::Cdata;
    opener = 9;
  } else {
    return false;
  }
  run_ = 0;
  begin_ += opener;
  return true;
}

bool GpxReader::Markup() {
  Ensure(kLookahead);
  const std::string_view s(buf_.data() + begin_, std::min(end_ - begin_, kLookahead));
  if (EnterSection(s, false)) return false;
  if (s.size() > 1 && s[1] == '!') {  // <!DOCTYPE ...>, or another declaration
    decl_ = Decl::Outside;
    declQuote_ = '\0';
    begin_ += 2;
    return false;
  }
  bool wptStart = false;
  if (Boundary(s.size(), wptStart)) {
    if (wptStart && consumed_ - (end_ - begin_) == stopAt_) {
      stopped_ = true;
      if (open_) LineOf(cur_);  // before the count runs past its start
      CountLines(begin_);
      return Finish();
    }
    const bool done = Finish();
    if (wptStart) {
      open_ = true;
      hasName_ = false;
      for (std::string* f : {&cur_.lat, &cur_.lon, &cur_.name, &cur_.comment, &cur_.category}) {
        f->clear();
        if (f->capacity() > kKeepCapacity) std::string().swap(*f);
        KeepRoom(*f);
      }
      cur_.hasLat = cur_.hasLon = cur_.nameJoined = false;
      cur_.at = consumed_ - end_ + begin_;
      cur_.line = 0;
      inStartTag_ = true;
      attr_ = Attr::Space;
      lastInTag_ = '\0';
      begin_ += 4;
    } else {
      begin_ += s[1] == '/' ? 6 : 4;
    }
    return done;
  }
  if (open_) {
    const char letter = s.size() > 1 ? static_cast<char>(s[1] | 0x20) : '\0';
    std::size_t tag = 0;
    if (letter == 'n' && !hasName_ && IStartsWith(s, "<name>")) {
      field_ = Field::Name;
      tag = 6;
    } else if (letter == 'c' && IStartsWith(s, "<cmt>")) {
      field_ = Field::Comment;
      tag = 5;
    } else if (letter == 'g' && IStartsWith(s, "<gpxx:category>")) {
      field_ = Field::Category;
      tag = 15;
    }
    if (tag) {
      raw_.clear();
      begin_ += tag;
      return false;
    }
  }
  ++begin_;  // other markup: its text and attributes are skipped as ordinary text
  return false;
}

void GpxReader::SkipTo(char last, int need) {
  const char* base = buf_.data();
  const char* p = base + begin_;
  const char* e = base + end_;
  const char* gt = FindFirstOf<'>'>(p, e);
  if (gt == e) gt = nullptr;
  const char* stop = gt ? gt : e;
  // "-->" or "]]>" may be cut anywhere: count the closing bytes before stop,
  // with those seen at the end of the data before when the run reaches back.
  int run = 0;
  for (const char* q = stop; q > p && q[-1] == last && run < 2; --q) ++run;
  if (run == stop - p) run = std::min(2, run + run_);
  if (skip_ == Skip::Cdata && field_ != Field::None) raw_.append(p, (gt ? gt + 1 : e) - p);
  if (!gt) {
    run_ = run;
    begin_ = end_;
    return;
  }
  begin_ = gt + 1 - base;
  run_ = 0;
  if (run >= need) skip_ = Skip::None;
}

// A declaration holds no waypoint, whatever markup its literals and internal
// subset hold (entity values may be whole elements). In the subset, quoted
// literals, comments and processing instructions are stepped over whole, and
// "]" ends it. Outside the subset a "<" ends the declaration wherever it
// stands, so one never closed cannot run on over the waypoints.
void GpxReader::DeclBytes() {
  while (begin_ < end_) {
    const char* base = buf_.data();
    const char* p = base + begin_;
    const char* e = base + end_;
    const char* f;
    if (decl_ == Decl::Outside) {
      f = declQuote_ == '"'    ? FindFirstOf<'"', '<'>(p, e)
          : declQuote_ == '\'' ? FindFirstOf<'\'', '<'>(p, e)
                               : FindFirstOf<'"', '\'', '[', '>', '<'>(p, e);
    } else {
      f = declQuote_ == '"'    ? FindFirstOf<'"'>(p, e)
          : declQuote_ == '\'' ? FindFirstOf<'\''>(p, e)
                               : FindFirstOf<'"', '\'', '<', ']'>(p, e);
    }
    begin_ = f - base;
    if (f == e) return;
    const char c = *f;
    if (declQuote_ != '\0' && c == declQuote_) {
      declQuote_ = '\0';
      ++begin_;
    } else if (decl_ == Decl::Subset && c == '<') {
      Ensure(4);
      const std::string_view s(buf_.data() + begin_, std::min<std::size_t>(end_ - begin_, 4));
      if (EnterSection(s, false)) return;  // the subset goes on after it
      ++begin_;                         // a declaration inside: its literals are taken as they come
    } else if (c == '<' || c == '>') {  // "<" outside the subset is not consumed
      if (c == '>') ++begin_;
      decl_ = Decl::None;
      declQuote_ = '\0';
      return;
    } else {
      ++begin_;
      if (c == '[') {
        decl_ = Decl::Subset;
      } else if (c == ']') {
        decl_ = Decl::Outside;
      } else {
        declQuote_ = c;
      }
    }
  }
}

void GpxReader::EndStartTag(bool selfClosing) {
  inStartTag_ = false;
  if (value_) {  // a value never closed counts for nothing
    value_->clear();
    value_ = nullptr;
  }
  if (selfClosing) {  // <wpt .../> has no name
    NoteNameless();
    open_ = false;
  }
}

void GpxReader::StartTagBytes() {
  // Attributes by name, in any order, in double or single quotes. A "<" ends
  // the tag wherever it stands, so a tag never closed cannot run on.
  const char* base = buf_.data();
  while (begin_ < end_) {
    if (attr_ == Attr::Value) {
      const char* p = base + begin_;
      const char* e = base + end_;
      const char* f = quote_ == '"' ? FindFirstOf<'"', '<'>(p, e) : FindFirstOf<'\'', '<'>(p, e);
      if (value_) value_->append(p, f - p);
      begin_ = f - base;
      if (f == e) return;
      if (*f == '<') {
        EndStartTag(false);
        return;
      }
      if (value_) (value_ == &cur_.lat ? cur_.hasLat : cur_.hasLon) = true;
      value_ = nullptr;
      lastInTag_ = quote_;
      attr_ = Attr::Space;
      ++begin_;
      continue;
    }
    const char c = base[begin_];
    if (c == '<') {
      EndStartTag(false);
      return;
    }
    ++begin_;
    if (c == '>') {
      EndStartTag(lastInTag_ == '/');
      return;
    }
    if (IsSpace(c)) {
      if (attr_ == Attr::Name) attr_ = Attr::AfterName;
      continue;
    }
    lastInTag_ = c;
    switch (attr_) {
      case Attr::Name:
        if (c == '=') {
          attr_ = Attr::BeforeValue;
        } else if (attrName_.size() < 4) {
          attrName_ += c;
        }
        break;
      case Attr::AfterName:
        if (c == '=') {
          attr_ = Attr::BeforeValue;
          break;
        }
        [[fallthrough]];
      case Attr::Space:
        attrName_.assign(1, c);
        attr_ = Attr::Name;
        break;
      case Attr::BeforeValue:
        if (c == '"' || c == '\'') {
          quote_ = c;
          attr_ = Attr::Value;
          value_ = attrName_ == "lat" && !cur_.hasLat   ? &cur_.lat
                   : attrName_ == "lon" && !cur_.hasLon ? &cur_.lon
                                                        : nullptr;
          if (value_) value_->clear();
        } else {
          attrName_.assign(1, c);
          attr_ = Attr::Name;
        }
        break;
      case Attr::Value:
        break;
    }
  }
}

void GpxReader::EndField() {
  if (field_ == Field::None) return;
  if (FindFirstOf<'&', '<'>(raw_.data(), raw_.data() + raw_.size()) != raw_.data() + raw_.size()) {
    DecodeXmlText(raw_, scratch_);
    raw_.swap(scratch_);
  }
  switch (field_) {
    case Field::Name:
      cur_.nameJoined = JoinNameLines(raw_);
      if (!raw_.empty()) {  // white space alone is no name
        cur_.name.swap(raw_);
        hasName_ = true;
      }
      break;
    case Field::Comment:
      if (FindFirstOf<'\r', '\n'>(raw_.data(), raw_.data() + raw_.size()) ==
          raw_.data() + raw_.size()) {
        cur_.comment.swap(raw_);
      } else {
        JoinCommentLines(raw_, joiner_, scratch_);
        cur_.comment.swap(scratch_);
      }
      break;
    case Field::Category:
      JoinNameLines(raw_);
      cur_.category.swap(raw_);
      break;
    case Field::None:
      break;
  }
  field_ = Field::None;
  raw_.clear();
  if (raw_.capacity() > kKeepCapacity) std::string().swap(raw_);
  if (scratch_.capacity() > kKeepCapacity) std::string().swap(scratch_);
  KeepRoom(raw_);
}

bool GpxReader::FieldText() {
  {
    const char* base = buf_.data();
    const char* p = base + begin_;
    const char* lt = FindFirstOf<'<'>(p, base + end_);
    if (lt == base + end_) {
      raw_.append(p, end_ - begin_);
      begin_ = end_;
      return false;
    }
    raw_.append(p, lt - p);
    begin_ = lt - base;
  }
  // XML comments inside the text leave nothing behind; CDATA sections stay
  // whole, for the decoding to take verbatim.
  Ensure(kLookahead);
  const std::string_view s(buf_.data() + begin_, std::min(end_ - begin_, kLookahead));
  if (EnterSection(s, true)) return false;
  if (field_ == Field::Comment) {
    // A comment runs to its end tag, other markup included, but never past
    // the waypoint: one never closed keeps the comment read before.
    if (s.starts_with("</cmt>")) {
      begin_ += 6;
      EndField();
      return false;
    }
    bool wptStart = false;
    if (!Boundary(s.size(), wptStart)) {
      raw_ += '<';
      ++begin_;
      return false;
    }
    field_ = Field::None;
    raw_.clear();
    return Markup();
  }
  EndField();  // names and categories end at the next tag
  return Markup();
}

bool GpxReader::Step() {
  while (begin_ < end_ && !stopped_) {
    if (skip_ != Skip::None) {
      if (skip_ == Skip::Pi) {
        SkipTo('?', 1);
      } else {
        SkipTo(skip_ == Skip::Comment ? '-' : ']', 2);
      }
    } else if (decl_ != Decl::None) {
      DeclBytes();
    } else if (inStartTag_) {
      StartTagBytes();
    } else if (field_ != Field::None) {
      if (FieldText()) return true;
    } else {
      const char* base = buf_.data();
      const char* lt = FindFirstOf<'<'>(base + begin_, base + end_);
      if (lt == base + end_) {
        begin_ = end_;
        break;
      }
      begin_ = lt - base;
      if (Markup()) return true;
    }
  }
  return false;
}

bool GpxReader::Next(GpxWaypoint& wpt) {
  out_ = &wpt;
  for (;;) {
    if (cancelled_ || stopped_) return false;
    if (begin_ == end_ && !More()) break;
    if (cancelled_) return false;
    if (Step()) return true;
  }
  if (cancelled_) return false;
  // The end of the input ends whatever was open: a start tag takes the values
  // it had, a name or category the text read, a comment never closed nothing.
  skip_ = Skip::None;
  decl_ = Decl::None;
  declQuote_ = '\0';
  if (inStartTag_) EndStartTag(false);
  if (field_ == Field::Comment) {
    field_ = Field::None;
    raw_.clear();
  }
  EndField();
  return Finish();
}

std::string DecodeXmlText(std::string_view raw) {
  std::string out;
  DecodeXmlText(raw, out);
  return out;
}

void DecodeXmlText(std::string_view raw, std::string& out) {
  out.clear();
  if (FindFirstOf<'&', '<'>(raw.data(), raw.data() + raw.size()) == raw.data() + raw.size()) {
    out.assign(raw);
    return;
  }
  out.reserve(raw.size());
  std::size_t i = 0;
  while (i < raw.size()) {
    char c = raw[i];
    if (c == '<' && raw.substr(i, 9) == "<![CDATA[") {
      std::size_t close = raw.find("]]>", i + 9);
      std::size_t stop = close == std::string_view::npos ? raw.size() : close;
      out.append(raw.substr(i + 9, stop - i - 9));
      i = close == std::string_view::npos ? raw.size() : close + 3;
      continue;
    }
    if (c == '&') {
      // An entity is a few bytes long: looking further for its ";" would
      // make a long run of "&" quadratic.
      const std::size_t semi = raw.substr(i + 1, 12).find(';');
      if (semi != std::string_view::npos) {
        std::string_view ent = raw.substr(i + 1, semi);
        static const std::pair<std::string_view, char> kNamed[] = {
            {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
        bool done = false;
        for (auto& [name, ch] : kNamed)
          if (ent == name) {
            out += ch;
            done = true;
          }
        if (!done && ent.size() >= 2 && ent[0] == '#') {
          bool hex = ent[1] == 'x' || ent[1] == 'X';
          std::string_view digits = ent.substr(hex ? 2 : 1);
          char32_t cp = 0;
          bool ok = !digits.empty();
          for (char d : digits) {
            int v = (d >= '0' && d <= '9')          ? d - '0'
                    : hex && (d >= 'a' && d <= 'f') ? d - 'a' + 10
                    : hex && (d >= 'A' && d <= 'F') ? d - 'A' + 10
                                                    : -1;
            if (v < 0 || cp > 0x10FFFF) {
              ok = false;
              break;
            }
            cp = cp * (hex ? 16 : 10) + v;
          }
          if (ok && cp > 0 && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF)) {
            AppendUtf8(out, cp);
            done = true;
          }
        }
        if (done) {
          i += semi + 2;
          continue;
        }
      }
    }
    // This byte, and the plain text up to the next markup or entity at once.
    const char* const from = raw.data() + i;
    const char* const to = FindFirstOf<'&', '<'>(from + 1, raw.data() + raw.size());
    out.append(from, to);
    i = static_cast<std::size_t>(to - raw.data());
  }
}

namespace {

// The string library's find_first_of and its kin call memchr once per byte of
// the text, which is slow where memchr is; these loops compare directly.
std::string_view TrimStart(std::string_view s) {
  const char* const e = s.data() + s.size();
  return std::string_view(FindFirstNotOf<' ', '\t'>(s.data(), e), e);
}

std::string_view TrimEnd(std::string_view s) {
  std::size_t n = s.size();
  while (n > 0 && (s[n - 1] == ' ' || s[n - 1] == '\t')) --n;
  return s.substr(0, n);
}

// The first CR or LF at or after i, or npos.
std::size_t FindLineBreak(std::string_view s, std::size_t i) {
  const char* const e = s.data() + s.size();
  const char* const p = FindFirstOf<'\r', '\n'>(s.data() + i, e);
  return p == e ? std::string_view::npos : static_cast<std::size_t>(p - s.data());
}

}  // namespace

bool JoinNameLines(std::string& text) {
  const char* const e = text.data() + text.size();
  if (!text.empty() && FindFirstOf<'\r', '\n'>(text.data(), e) == e && !IsSpace(text.front()) &&
      !IsSpace(text.back()))
    return false;  // one line, nothing to trim: the usual case
  bool joined = false;
  // The joined text is never longer, so it is written over the text itself.
  std::size_t out = 0, i = 0;
  for (;;) {
    std::size_t j = FindLineBreak(text, i);
    if (j == std::string::npos) j = text.size();
    const std::string_view line = TrimBlanks(std::string_view(text).substr(i, j - i));
    if (!line.empty()) {
      if (out > 0) {
        text[out++] = ' ';
        joined = true;
      }
      std::memmove(text.data() + out, line.data(), line.size());
      out += line.size();
    }
    if (j >= text.size()) break;
    i = j + 1;  // the LF of a CR LF gives an empty line, which is dropped
  }
  text.resize(out);
  return joined;
}

std::string JoinCommentLines(std::string_view text, std::string_view joiner) {
  std::string out;
  JoinCommentLines(text, joiner, out);
  return out;
}

void JoinCommentLines(std::string_view text, std::string_view joiner, std::string& out) {
  std::size_t breaks = 0;
  for (const char *p = text.data(), *e = p + text.size(); (p = FindFirstOf<'\r', '\n'>(p, e)) != e;
       ++p)
    ++breaks;
  out.clear();
  out.reserve(text.size() + breaks * joiner.size());
  std::size_t i = 0, emptyLines = 0;
  bool first = true, started = false;
  for (;;) {
    const std::size_t j = FindLineBreak(text, i);
    const bool last = j == std::string_view::npos;
    std::string_view line = text.substr(i, last ? std::string_view::npos : j - i);
    if (!first) line = TrimStart(line);
    if (!last) line = TrimEnd(line);
    first = false;
    if (line.empty()) {
      if (started) ++emptyLines;  // kept only when a line follows
    } else {
      if (started)
        for (std::size_t k = 0; k <= emptyLines; ++k) out.append(joiner);
      out.append(line);
      started = true;
      emptyLines = 0;
    }
    if (last) return;
    i = j + (text[j] == '\r' && j + 1 < text.size() && text[j + 1] == '\n' ? 2 : 1);
  }
}

}  // namespace marklode
