#include "services/messages.h"

#include <cstdio>

#include "services/strings.h"

namespace marklode {

int MessageSink::Show(std::string_view text, int style, std::string_view title, Severity severity) {
  if (severity == Severity::Problem) ++problems_;
  if (severity == Severity::Stop) ++stops_;
  return Present(text, style, title.empty() ? kAppTitle : title);
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
