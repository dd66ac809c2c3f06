// The console and signals, as the command line needs them: the interrupt that
// becomes a clean cancel, whether stderr is a terminal, and modal message
// boxes where the system has them.
#pragma once

#include <string>
#include <string_view>

#include "services/exit_status.h"
#include "services/messages.h"

namespace marklode {

// Ctrl-C and the requests to end (POSIX: SIGINT, SIGTERM, SIGHUP; Windows:
// Ctrl-C, Ctrl-Break, closing the console) set a flag that the run polls, so
// the converter removes its unfinished outputs before the program ends. On
// POSIX, SIGPIPE and SIGXFSZ are ignored: the write that meets them fails and
// is reported.
void InstallInterruptHandler();
bool Interrupted();
// Terminated after a request to terminate, else Interrupted.
ExitStatus InterruptedExitStatus();
// The run has cleaned up after an interrupt. Windows ends the process as soon
// as the handler of a console close returns: it waits for this.
void InterruptHandled();

// Whether stderr is a terminal that understands the progress line's escape
// sequences (on Windows: a console, with VT processing turned on here).
bool StderrIsTerminal();

// Makes stdout and stderr write their bytes as given, as on POSIX: a
// redirected stream gets "\n", not "\r\n". Text that may hold more than ASCII
// goes through WriteStderr.
void PrepareStandardStreams();

// Writes UTF-8 text to stderr byte for byte; on a Windows console, which the
// C library would show in the ANSI code page, as the characters it spells.
void WriteStderr(std::string_view text);

// Shows a modal system message box of the kind (answer as MessageSink uses
// it) and returns the button chosen; on systems without one, writes
// "TITLE: TEXT" to stderr and answers OK.
int ShowSystemMessageBox(std::string_view title, std::string_view text, MessageKind kind);

#ifdef _WIN32
// The system's MB_ flags of a kind: buttons, icon and default button.
unsigned MessageBoxFlags(MessageKind kind);
#endif

}  // namespace marklode
