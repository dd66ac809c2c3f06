#include "services/messages.h"

#include <cstdio>

#include "services/strings.h"

namespace marklode {

namespace {

// The length of the well-formed UTF-8 sequence at i, or 0.
std::size_t Utf8SequenceAt(std::string_view s, std::size_t i) {
  const auto c = static_cast<unsigned char>(s[i]);
  std::size_t n;
  unsigned char lo = 0x80, hi = 0xBF;  // the bounds of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;  // no surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (s.size() - i < n) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    const auto d = static_cast<unsigned char>(s[i + k]);
    if (d < (k == 1 ? lo : 0x80) || d > (k == 1 ? hi : 0xBF)) return 0;
  }
  return n;
}

// The length of the character at i, and whether it must not reach a terminal
// or a box: C0 but CR and LF, DEL, C1 in UTF-8, a lone 0x9B byte (CSI to a
// terminal that takes 8-bit controls), or a bidirectional embedding, override
// or isolate (U+202A to U+202E, U+2066 to U+2069), which would reorder the
// text the user reads.
inline std::size_t CharAt(std::string_view s, std::size_t i, bool& control) {
  const auto c = static_cast<unsigned char>(s[i]);
  if (c < 0x80) {
    control = (c < 0x20 && c != '\r' && c != '\n') || c == 0x7F;
    return 1;
  }
  const std::size_t n = Utf8SequenceAt(s, i);
  if (n == 0) {  // not UTF-8: a byte of some other encoding
    control = c == 0x9B;
    return 1;
  }
  const auto d = static_cast<unsigned char>(s[i + 1]);
  const auto e = n > 2 ? static_cast<unsigned char>(s[i + 2]) : 0;
  control = (c == 0xC2 && d <= 0x9F) || (c == 0xE2 && d == 0x80 && e >= 0xAA && e <= 0xAE) ||
            (c == 0xE2 && d == 0x81 && e >= 0xA6 && e <= 0xA9);
  return n;
}

}  // namespace

std::string ShowableText(std::string_view text) {
  std::string out;
  std::size_t from = 0;
  for (std::size_t i = 0; i < text.size();) {
    bool control = false;
    const std::size_t n = CharAt(text, i, control);
    if (!control) {
      i += n;
      continue;
    }
    out.append(text.substr(from, i - from)).push_back('?');
    i += n;
    from = i;
  }
  out.append(text.substr(from));
  return out;
}

int MessageSink::Show(std::string_view text, MessageKind kind, std::string_view title,
                      Severity severity) {
  if (severity == Severity::Problem) ++problems_;
  if (severity == Severity::Stop) ++stops_;
  // ESC or BEL from a waypoint name could retitle or clear the user's
  // terminal: every box shows control characters as "?".
  const std::string shownText = ShowableText(text);
  const std::string shownTitle = ShowableText(title.empty() ? kAppTitle : title);
  return Present(shownText, kind, shownTitle);
}

int MessageSink::ShowWithDetails(std::string_view text, std::string_view details, MessageKind kind,
                                 std::string_view title) {
  // Details quote file names as the user gave them: shown as every box shows text.
  return PresentWithDetails(ShowableText(text), ShowableText(details), kind,
                            ShowableText(title.empty() ? kAppTitle : title));
}

std::string FormatMessageText(std::string_view message, std::string_view detail) {
  std::string s(message);
  std::string_view d = detail;
  // Each "&&" in the message takes the next "&&"-separated piece of the detail.
  for (std::size_t at = s.find("&&"); at != std::string::npos; at = s.find("&&", at)) {
    std::size_t cut = d.find("&&");
    std::string_view piece = TrimSpaces(d.substr(0, cut));
    d = cut == std::string_view::npos ? std::string_view() : d.substr(cut + 2);
    s.replace(at, 2, piece);
    at += piece.size();
  }
  s = std::string(TrimSpaces(s));
  if (!s.empty() && s.back() != '.' && s.back() != '?') s += '.';
  if (!d.empty()) {
    s += "  (";
    s += TrimSpaces(ReplaceText(d, "&&", ", "));
    s += ").";
  }
  return s;
}

void ShowWarning(MessageSink& sink, std::string_view title, std::string_view message,
                 std::string_view detail) {
  sink.Show(FormatMessageText(message, detail), MessageKind::Warning, title, Severity::Problem);
}

std::string OneLineMessage(std::string_view title, std::string_view text) {
  std::string line(title);
  line += ": ";
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;  // CR LF is one break
      line += ' ';
    } else {
      line += c;
    }
  }
  return line;
}

int StderrMessageSink::Present(std::string_view text, MessageKind kind, std::string_view title) {
  std::string line = OneLineMessage(title, text);
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
  return kind == MessageKind::Question ? kButtonCancel : kButtonOk;
}

int RecordingMessageSink::PresentWithDetails(std::string_view text, std::string_view details,
                                             MessageKind kind, std::string_view title) {
  const int answer = Present(text, kind, title);
  boxes.back().details = details;
  return answer;
}

int RecordingMessageSink::Present(std::string_view text, MessageKind kind, std::string_view title) {
  boxes.push_back({std::string(title), std::string(text), kind});
  if (answers.empty()) return kButtonOk;
  int a = answers.front();
  answers.erase(answers.begin());
  return a;
}

std::string RecordingMessageSink::Joined() const {
  std::string all;
  for (const Box& b : boxes) all += OneLineMessage(b.title, b.text) + "\n";
  return all;
}

}  // namespace marklode
