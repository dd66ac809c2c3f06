#include "engine/gpx_reader.h"

#include <array>
#include <cstring>

#include "engine/byte_scan.h"
#include "services/strings.h"

namespace marklode {
namespace {

// The fuzz build reads in tiny blocks, so that small inputs reach the refill
// and growth paths.

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// Bytes that may end a stretch of ordinary text.
constexpr std::array<bool, 256> kSpecial = [] {
  std::array<bool, 256> t{};
  t['\r'] = t['\n'] = t['<'] = t[']'] = true;
  return t;
}();

bool Matches(const std::vector<char>& buf, std::size_t pos, std::string_view what) {
  return std::memcmp(buf.data() + pos, what.data(), what.size()) == 0;
}

// "<name" followed by the end of the line, a blank, ">" or "/": a start tag of
// exactly that element, compared without regard to case.
bool IsStartTag(std::string_view line, std::string_view open) {
  if (!IStartsWith(line, open)) return false;
  if (line.size() == open.size()) return true;
  char c = line[open.size()];
  return c == ' ' || c == '\t' || c == '>' || c == '/' || c == '\r' || c == '\n';
}

}  // namespace

bool GpxLineScanner::Ensure(std::size_t& pos, std::size_t k) {
  while (pos + k > end_) {
    const std::size_t off = pos - begin_;
    const bool more = Fill();
    pos = begin_ + off;  // Fill moves the data to the front even when nothing more comes
    if (!more) return false;
  }
  return true;
}

std::string_view GpxLineScanner::Take(std::size_t lineEnd, std::size_t next) {
  std::string_view line(buf_.data() + begin_, lineEnd - begin_);
  begin_ = next;
  return TrimBlanks(line);
}

bool GpxLineScanner::Next(std::string_view& line) {
  for (;;) {
    if (cancelled_) return false;
    // Blanks and empty lines between lines are never part of one: skip them at
    // once, unless the caller wants empty lines (inside a multi-line comment).
    for (;;) {
      const char* base = buf_.data();
      begin_ =
          (keepEmptyLines ? FindFirstNotOf<' ', '\t'>(base + begin_, base + end_)
                          : FindFirstNotOf<' ', '\t', '\r', '\n'>(base + begin_, base + end_)) -
          base;
      if (begin_ < end_ || !Fill()) break;
    }
    std::size_t pos = begin_;
    bool content = false;
    for (;;) {
      if (pos >= end_) {
        if (!Ensure(pos, 1)) {
          if (cancelled_) return false;
          if (mode_ == Mode::Comment) begin_ = end_;
          line = Take(end_, end_);
          if (!line.empty()) return true;
          if (begin_ >= end_) return false;
          break;
        }
      }
      if (mode_ == Mode::Comment) {
        // Skip everything up to "-->", dropping what was read so far.
        const char* p = buf_.data() + pos;
        const char* found = static_cast<const char*>(std::memchr(p, '>', end_ - pos));
        if (!found) {
          begin_ = pos = end_ >= 2 ? std::max(begin_, end_ - 2) : begin_;
          if (!Ensure(pos, 3)) {
            begin_ = end_;
            return false;
          }
          continue;
        }
        std::size_t gt = found - buf_.data();
        if (gt >= begin_ + 2 && buf_[gt - 1] == '-' && buf_[gt - 2] == '-') {
          mode_ = Mode::Text;
          begin_ = pos = gt + 1;
        } else {
          pos = gt + 1;
        }
        continue;
      }
      char c = buf_[pos];
      if (!kSpecial[static_cast<unsigned char>(c)]) {
        ++pos;
        if (IsBlank(c)) continue;
        // Ordinary text: run to the next byte that may end it.
        content = true;
        const char* base = buf_.data();
        pos = FindFirstOf<'<', '\r', '\n', ']'>(base + pos, base + end_) - base;
        continue;
      }
      if (c == '\r' || c == '\n') {
        // CR LF ends one line, as a lone CR or LF does.
        // (Ensure may move the data: pos follows it, so take next afterwards.)
        const bool crlf = c == '\r' && Ensure(pos, 2) && buf_[pos + 1] == '\n';
        const std::size_t next = pos + (crlf ? 2 : 1);
        line = Take(pos, next);
        if (!line.empty() || keepEmptyLines) return true;
        break;  // an empty line: look again
      }
      if (c == ']') {
        if (mode_ == Mode::Cdata && Ensure(pos, 3) && Matches(buf_, pos, "]]>")) {
          mode_ = Mode::Text;
          pos += 3;
        } else {
          ++pos;
        }
        content = true;
        continue;
      }
      // c == '<'
      if (mode_ == Mode::Cdata) {
        content = true;
        ++pos;
        continue;
      }
      Ensure(pos, 9);
      std::size_t avail = end_ - pos;
      char n = avail > 1 ? buf_[pos + 1] : '\0';
      if (n == '/') {
        if (avail >= 6 && Matches(buf_, pos, "</wpt>")) {
          if (content) {
            line = Take(pos, pos);
          } else {
            line = Take(pos + 6, pos + 6);
          }
          return true;
        }
        content = true;
        ++pos;
      } else if (n == '!') {
        if (avail >= 4 && Matches(buf_, pos, "<!--")) {
          if (content) {
            line = Take(pos, pos);
            return true;
          }
          mode_ = Mode::Comment;
          begin_ = pos = pos + 4;
          continue;
        }
        if (avail >= 9 && Matches(buf_, pos, "<![CDATA[")) {
          mode_ = Mode::Cdata;
          pos += 9;
        } else {
          ++pos;
        }
        content = true;
      } else if (n == '?') {
        content = true;
        ++pos;
      } else {
        // A start tag begins a line of its own.
        if (content) {
          line = Take(pos, pos);
          if (!line.empty()) return true;
        }
        content = true;
        ++pos;
      }
    }
  }
}

std::string_view ElementText(std::string_view rest) {
  std::size_t i = 0;
  while (i < rest.size()) {
    if (rest[i] != '<') {
      ++i;
      continue;
    }
    if (rest.substr(i, 9) != "<![CDATA[") break;
    std::size_t close = rest.find("]]>", i + 9);
    if (close == std::string_view::npos) return rest;
    i = close + 3;
  }
  return rest.substr(0, i);
}

std::string DecodeXmlText(std::string_view raw) {
  if (raw.find('&') == std::string_view::npos && raw.find('<') == std::string_view::npos)
    return std::string(raw);
  std::string out;
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
      std::size_t semi = raw.find(';', i + 1);
      if (semi != std::string_view::npos && semi - i <= 12) {
        std::string_view ent = raw.substr(i + 1, semi - i - 1);
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
          i = semi + 1;
          continue;
        }
      }
    }
    out += c;
    ++i;
  }
  return out;
}

GpxReader::GpxReader(ByteSource& src, bool keepCommentLineBreaks, ProgressSink* progress)
    : scanner_(src, progress), joiner_(keepCommentLineBreaks ? "\n" : " - ") {}

void GpxReader::ParseStartTag(std::string_view tag) {
  // Attributes by name, in any order, in double or single quotes.
  std::size_t i = 4;  // after "<wpt"
  while (i < tag.size()) {
    while (i < tag.size() && (IsBlank(tag[i]) || tag[i] == '\r' || tag[i] == '\n')) ++i;
    if (i >= tag.size() || tag[i] == '>' || tag[i] == '/') break;
    std::size_t nameStart = i;
    while (i < tag.size() && tag[i] != '=' && !IsBlank(tag[i]) && tag[i] != '>') ++i;
    std::string_view name = tag.substr(nameStart, i - nameStart);
    while (i < tag.size() && IsBlank(tag[i])) ++i;
    if (i >= tag.size() || tag[i] != '=') {
      if (i < tag.size() && tag[i] != '>') ++i;
      continue;
    }
    ++i;
    while (i < tag.size() && IsBlank(tag[i])) ++i;
    if (i >= tag.size() || (tag[i] != '"' && tag[i] != '\'')) continue;
    char q = tag[i++];
    std::size_t close = tag.find(q, i);
    if (close == std::string_view::npos) break;
    std::string_view value = tag.substr(i, close - i);
    i = close + 1;
    if (name == "lat" && !cur_.hasLat) {
      cur_.lat.assign(value);
      cur_.hasLat = true;
    } else if (name == "lon" && !cur_.hasLon) {
      cur_.lon.assign(value);
      cur_.hasLon = true;
    }
  }
  std::string_view t = TrimBlanks(tag);
  if (t.size() >= 2 && t.substr(t.size() - 2) == "/>") open_ = false;  // self-closing: no name
}

void GpxReader::StartWaypoint(std::string_view line) {
  open_ = true;
  hasName_ = false;
  cur_ = GpxWaypoint();
  if (line.find('>') == std::string_view::npos) {
    awaitingTagEnd_ = true;  // the start tag goes on over the next lines
    tagText_.assign(line);
    return;
  }
  ParseStartTag(line);
}

bool GpxReader::Finish() {
  bool named = open_ && hasName_;
  if (named) ready_ = std::move(cur_);
  open_ = false;
  awaitingTagEnd_ = false;
  commentPending_ = false;
  return named;
}

bool GpxReader::ProcessLine(std::string_view line) {
  if (awaitingTagEnd_) {
    if (line.empty() || line[0] != '<') {
      tagText_ += ' ';
      tagText_.append(line);
      if (line.find('>') == std::string_view::npos) return false;
      awaitingTagEnd_ = false;
      ParseStartTag(tagText_);
      return false;
    }
    awaitingTagEnd_ = false;  // a start tag never closed: take what it had
    ParseStartTag(tagText_);
  }

  // Every line of interest starts with "<": sort by the letter after it.
  if ((line.empty() || line[0] != '<') && !commentPending_) return false;
  const char tagLetter = line.size() > 1 ? static_cast<char>(line[1] | 0x20) : '\0';
  const bool wptStart = tagLetter == 'w' && IsStartTag(line, "<wpt");
  const bool boundary = wptStart || (tagLetter == '/' && line == "</wpt>") ||
                        (tagLetter == 'r' && IsStartTag(line, "<rte")) ||
                        (tagLetter == 't' && IsStartTag(line, "<trk"));

  if (commentPending_) {
    if (!boundary) {
      commentBuf_ += joiner_;
      commentBuf_.append(line);
      std::size_t p = commentBuf_.find("</cmt>", 1);
      if (p != std::string::npos) {
        cur_.comment = DecodeXmlText(std::string_view(commentBuf_).substr(5, p - 5));
        commentPending_ = false;
      }
      return false;
    }
    commentPending_ = false;  // an unclosed comment keeps its earlier value
  }

  if (boundary) {
    bool done = open_ && Finish();
    if (wptStart) StartWaypoint(line);
    return done;
  }
  if (!open_) return false;

  if (tagLetter == 'n' && IStartsWith(line, "<name>")) {
    if (!hasName_) {
      cur_.name = DecodeXmlText(ElementText(line.substr(6)));
      hasName_ = true;
    }
  } else if (tagLetter == 'c' && IStartsWith(line, "<cmt>")) {
    std::size_t p = line.find("</cmt>", 1);
    if (p != std::string_view::npos) {
      cur_.comment = DecodeXmlText(line.substr(5, p - 5));
    } else {
      commentPending_ = true;
      commentBuf_.assign(line);
    }
  } else if (tagLetter == 'g' && IStartsWith(line, "<gpxx:category>")) {
    cur_.category = DecodeXmlText(ElementText(line.substr(15)));
  }
  return false;
}

bool GpxReader::Next(GpxWaypoint& wpt) {
  std::string_view line;
  for (;;) {
    // An empty line counts only inside a comment that goes on over lines.
    scanner_.keepEmptyLines = commentPending_;
    if (!scanner_.Next(line)) break;
    if (line.empty() && !commentPending_) continue;
    if (ProcessLine(line)) {
      wpt = std::move(ready_);
      return true;
    }
  }
  if (scanner_.cancelled()) return false;
  if (awaitingTagEnd_) {
    awaitingTagEnd_ = false;
    ParseStartTag(tagText_);
  }
  if (open_ && Finish()) {
    wpt = std::move(ready_);
    return true;
  }
  return false;
}

}  // namespace marklode
