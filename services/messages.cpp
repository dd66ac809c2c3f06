#include "services/messages.h"

#include <cstdio>

#include "services/strings.h"

namespace marklode {

namespace {

// Whether the byte at p starts a control character that must not reach a
// terminal or a box: C0 but CR and LF, DEL, or C1 written in UTF-8. Returns
// its length in bytes, or 0.
inline std::size_t ControlAt(std::string_view s, std::size_t i) {
  const auto c = static_cast<unsigned char>(s[i]);
  if (c < 0x20) return c == '\r' || c == '\n' ? 0 : 1;
  if (c == 0x7F) return 1;
  if (c == 0xC2 && i + 1 < s.size()) {
    const auto d = static_cast<unsigned char>(s[i + 1]);
    if (d >= 0x80 && d <= 0x9F) return 2;
  }
  return 0;
}

}  // namespace

std::string ShowableText(std::string_view text) {
  std::string out;
  std::size_t from = 0;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t n = ControlAt(text, i);
    if (n == 0) {
      ++i;
      continue;
    }
    out.append(text.substr(from, i - from)).push_back('?');
    i += n;
    from = i;
  }
  out.append(text.substr(from));
  return out;
}

int MessageSink::Show(std::string_view text, int style, std::string_view title, Severity severity) {
  if (severity == Severity::Problem) ++problems_;
  if (severity == Severity::Stop) ++stops_;
  // ESC or BEL from a waypoint name could retitle or clear the user's
  // terminal: every box shows control characters as "?".
  const std::string shownText = ShowableText(text);
  const std::string shownTitle = ShowableText(title.empty() ? kAppTitle : title);
  return Present(shownText, style, shownTitle);
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
  sink.Show(FormatMessageText(message, detail), kWarningIcon, title, Severity::Problem);
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

int StderrMessageSink::Present(std::string_view text, int style, std::string_view title) {
  std::string line = OneLineMessage(title, text);
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
  return style == kOkCancelQuestion ? kButtonCancel : kButtonOk;
}

int RecordingMessageSink::Present(std::string_view text, int style, std::string_view title) {
  boxes.push_back({std::string(title), std::string(text), style});
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
