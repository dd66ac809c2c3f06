#include "window/form/guide_text.h"

#include <vector>

namespace marklode {

namespace {

std::string_view Tag(GuideSystem system) {
  return system == GuideSystem::Linux ? "linux" : "windows";
}

// The inline markers of one line: the own system's text kept, the other's
// dropped. A marker left open stays as it is.
std::string InlineEdition(std::string_view line, GuideSystem system) {
  std::string out;
  std::size_t i = 0;
  while (i < line.size()) {
    const std::size_t open = line.find("{{", i);
    if (open == std::string_view::npos) break;
    const std::size_t colon = line.find(':', open);
    const std::size_t close = line.find("}}", open);
    if (colon == std::string_view::npos || close == std::string_view::npos || colon > close) {
      out.append(line.substr(i, open + 2 - i));
      i = open + 2;
      continue;
    }
    const std::string_view tag = line.substr(open + 2, colon - open - 2);
    out.append(line.substr(i, open - i));
    if (tag == Tag(system)) out.append(line.substr(colon + 1, close - colon - 1));
    i = close + 2;
  }
  out.append(line.substr(i));
  return out;
}

void AppendRtfCodePoint(std::string& out, char32_t cp) {
  if (cp == '\\' || cp == '{' || cp == '}') {
    out += '\\';
    out += static_cast<char>(cp);
  } else if (cp == '\t') {
    out += "\\tab ";
  } else if (cp >= 0x20 && cp < 0x7f) {
    out += static_cast<char>(cp);
  } else if (cp < 0x20 || cp == 0x7f) {
    // control characters have no place in the guide's lines
  } else {
    // \uN takes a signed 16-bit number; beyond the BMP, a surrogate pair.
    auto unit = [&out](unsigned u) {
      out += "\\u" + std::to_string(static_cast<int>(static_cast<short>(u))) + "?";
    };
    if (cp > 0xffff) {
      const char32_t v = cp - 0x10000;
      unit(0xd800 + (v >> 10));
      unit(0xdc00 + (v & 0x3ff));
    } else {
      unit(cp);
    }
  }
}

// Text of a line with **strong** and `code` as RTF groups.
std::string InlineRtf(std::string_view text) {
  std::string out;
  bool strong = false;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] == '`') {
      const std::size_t end = text.find('`', i + 1);
      if (end != std::string_view::npos) {
        out += "{\\f1 " + RtfEscaped(text.substr(i + 1, end - i - 1)) + "}";
        i = end + 1;
        continue;
      }
    }
    if (text.substr(i, 2) == "**") {
      out += strong ? "}" : "{\\b ";
      strong = !strong;
      i += 2;
      continue;
    }
    const std::size_t next = text.find_first_of("`*", i + 1);
    const std::size_t stop = next == std::string_view::npos ? text.size() : next;
    out += RtfEscaped(text.substr(i, stop - i));
    i = stop;
  }
  if (strong) out += "}";
  return out;
}

std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

}  // namespace

std::string GuideEdition(std::string_view source, GuideSystem system) {
  std::string out;
  out.reserve(source.size());
  enum { Both, Own, Other } block = Both;
  for (std::string_view line : Lines(source)) {
    if (line == "{{linux}}" || line == "{{windows}}") {
      block = line.substr(2, line.size() - 4) == Tag(system) ? Own : Other;
      continue;
    }
    if (line == "{{end}}") {
      block = Both;
      continue;
    }
    if (block == Other) continue;
    out += InlineEdition(line, system);
    out += '\n';
  }
  return out;
}

std::string RtfEscaped(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  std::size_t i = 0;
  while (i < utf8.size()) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    char32_t cp = 0xfffd;
    std::size_t len = 1;
    if (b < 0x80) {
      cp = b;
    } else {
      len = b >= 0xf0 && b < 0xf5 ? 4 : b >= 0xe0 ? 3 : b >= 0xc2 && b < 0xe0 ? 2 : 1;
      if (b >= 0xf5) len = 1;
      if (len > 1 && i + len <= utf8.size()) {
        cp = b & (0x7f >> len);
        for (std::size_t k = 1; k < len; ++k) {
          const auto c = static_cast<unsigned char>(utf8[i + k]);
          if ((c & 0xc0) != 0x80) {
            cp = 0xfffd;
            len = k;
            break;
          }
          cp = (cp << 6) | (c & 0x3f);
        }
      } else {
        len = 1;  // a lead byte cut short, or a byte no sequence starts with
      }
    }
    AppendRtfCodePoint(out, cp);
    i += len;
  }
  return out;
}

std::string GuideRtf(std::string_view markdown) {
  std::string out =
      "{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1\n"
      "{\\fonttbl{\\f0\\fswiss Tahoma;}{\\f1\\fmodern Courier New;}}\n"
      "\\f0\\fs20\n";
  const std::vector<std::string_view> lines = Lines(markdown);
  std::string paragraph;  // the lines of a paragraph, joined by spaces
  auto endParagraph = [&] {
    if (paragraph.empty()) return;
    out += "{\\pard\\sa120 " + InlineRtf(paragraph) + "\\par}\n";
    paragraph.clear();
  };
  for (std::size_t n = 0; n < lines.size(); ++n) {
    const std::string_view line = lines[n];
    // The space after a list or code ends it; the next line's kind decides.
    const std::string_view next = n + 1 < lines.size() ? lines[n + 1] : std::string_view();
    if (line.substr(0, 2) == "# " || line.substr(0, 3) == "## ") {
      endParagraph();
      const bool title = line[1] == ' ';
      // The heading's marks in a group of their own: the paragraph's end
      // stays in the body's font.
      out += std::string(title ? "{\\pard\\sa200{\\b\\fs32 " : "{\\pard\\sb120\\sa120{\\b\\fs26 ") +
             InlineRtf(line.substr(title ? 2 : 3)) + "}\\par}\n";
    } else if (line.substr(0, 2) == "- ") {
      endParagraph();
      const bool last = next.substr(0, 2) != "- ";
      out += std::string("{\\pard\\fi-240\\li480\\tx480\\sa") + (last ? "200" : "60") +
             " \\bullet\\tab " + InlineRtf(line.substr(2)) + "\\par}\n";
    } else if (line.substr(0, 4) == "    ") {
      endParagraph();
      const bool last = next.substr(0, 4) != "    ";
      out += std::string("{\\pard\\li480\\sa") + (last ? "200" : "0") + "\\f1 " +
             RtfEscaped(line.substr(4)) + "\\par}\n";
    } else if (line.empty()) {
      endParagraph();
    } else {
      if (!paragraph.empty()) paragraph += ' ';
      paragraph += line;
    }
  }
  endParagraph();
  out += "}\n";
  return out;
}

}  // namespace marklode
