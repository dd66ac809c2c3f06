// Message boxes, reduced to one interface: the engine reports through a
// MessageSink and never prints or exits. The command line prints each box as one
// line on stderr; the window shows real modal boxes; tests record them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace marklode {

// What a box is. Each edition turns a kind into its toolkit's icon and buttons.
enum class MessageKind {
  Plain,        // no icon, OK
  Error,        // error icon, OK
  Warning,      // warning icon, OK
  Information,  // information icon, OK
  Question,     // question icon, OK and Cancel, Cancel the default
};

// Button codes a box returns.
constexpr int kButtonOk = 1;
constexpr int kButtonCancel = 2;

// How much a message says about the run: it decides the exit status.
enum class Severity {
  Notice,   // results, information, questions
  Problem,  // a file that could not be read or written, a skipped record
  Stop,     // the request ended early
};

inline constexpr std::string_view kAppTitle = "Marklode";

class MessageSink {
 public:
  virtual ~MessageSink() = default;

  // Shows one modal box and returns the button chosen. An empty title means the
  // application's title. Control characters in text and title show as "?".
  int Show(std::string_view text, MessageKind kind, std::string_view title = kAppTitle,
           Severity severity = Severity::Notice);

  // A box whose details (several lines) wait behind a Details button: the
  // result of a run in the window. A sink that has no such button shows the
  // text alone.
  int ShowWithDetails(std::string_view text, std::string_view details, MessageKind kind,
                      std::string_view title = kAppTitle);

  bool ProblemShown() const { return problems_ > 0; }
  bool StopShown() const { return stops_ > 0; }

 protected:
  virtual int Present(std::string_view text, MessageKind kind, std::string_view title) = 0;
  virtual int PresentWithDetails(std::string_view text, std::string_view /*details*/,
                                 MessageKind kind, std::string_view title) {
    return Present(text, kind, title);
  }

 private:
  int problems_ = 0;
  int stops_ = 0;
};

// text with every control character but CR and LF (C0, DEL, C1 in UTF-8, a
// 0x9B byte outside UTF-8) and every bidirectional embedding, override and
// isolate shown as "?", as every box shows it.
std::string ShowableText(std::string_view text);

// The text ShowMessage builds: "&&" in the message filled from the detail, a
// closing period, then two spaces and the rest of the detail in parentheses.
std::string FormatMessageText(std::string_view message, std::string_view detail);

// A file error: warning icon, OK button, the routine's own name as title.
void ShowWarning(MessageSink& sink, std::string_view title, std::string_view message,
                 std::string_view detail);

// Command-line boxes: one line "TITLE: TEXT" on stderr, every line break of
// the text shown as one space. Needs no answer (OK).
class StderrMessageSink : public MessageSink {
 protected:
  int Present(std::string_view text, MessageKind kind, std::string_view title) override;
};

// The one-line form of a box, as StderrMessageSink prints it (without newline).
std::string OneLineMessage(std::string_view title, std::string_view text);

// Keeps every box for tests; answers from a queue (OK when it runs dry).
class RecordingMessageSink : public MessageSink {
 public:
  struct Box {
    std::string title;
    std::string text;
    MessageKind kind;
    std::string details = {};
  };
  std::vector<Box> boxes;
  std::vector<int> answers;

  std::string Joined() const;  // every box as "TITLE: TEXT", one per line

 protected:
  int Present(std::string_view text, MessageKind kind, std::string_view title) override;
  int PresentWithDetails(std::string_view text, std::string_view details, MessageKind kind,
                         std::string_view title) override;
};

}  // namespace marklode
