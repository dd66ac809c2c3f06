#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h, which it needs.
#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "services/console.h"

namespace marklode {
namespace {

std::atomic<int> gInterrupted{0};  // the first event that asked to stop, as a signal number
HANDLE gCleanedUp = nullptr;       // set once the run has removed its unfinished outputs

BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT: {
      int none = 0;
      gInterrupted.compare_exchange_strong(none, SIGINT);
      return TRUE;
    }
    case CTRL_CLOSE_EVENT:  // as a hang-up on POSIX
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT: {
      int none = 0;
      gInterrupted.compare_exchange_strong(none, event == CTRL_CLOSE_EVENT ? SIGINT : SIGTERM);
      // The process ends when this returns; the system allows about five
      // seconds, and the run checks the flag far more often than that.
      if (gCleanedUp) WaitForSingleObject(gCleanedUp, 4500);
      return TRUE;
    }
    default:
      return FALSE;
  }
}

// Text as UTF-8 when it is that, else in the system's code page (a waypoint
// name from an 8-bit file).
std::wstring Wide(std::string_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  UINT page = CP_UTF8;
  int n = MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (n == 0) {
    page = CP_ACP;
    n = MultiByteToWideChar(page, 0, text.data(), size, nullptr, 0);
  }
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(page, 0, text.data(), size, out.data(), n);
  return out;
}

}  // namespace

void InstallInterruptHandler() {
  if (!gCleanedUp) gCleanedUp = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

bool Interrupted() {
  return gInterrupted.load() != 0;
}

// The shells' rule: 128 and the number of the signal.
static_assert(static_cast<int>(ExitStatus::Interrupted) == 128 + SIGINT &&
              static_cast<int>(ExitStatus::Terminated) == 128 + SIGTERM);

ExitStatus InterruptedExitStatus() {
  return gInterrupted.load() == SIGTERM ? ExitStatus::Terminated : ExitStatus::Interrupted;
}

void InterruptHandled() {
  if (gCleanedUp) SetEvent(gCleanedUp);
}

namespace {

// The console mode this program changed in the console it shares with the
// shell that started it, put back when it ends.
DWORD gSavedErrorMode = 0;
bool gErrorModeChanged = false;

void RestoreConsole() {
  if (gErrorModeChanged) SetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), gSavedErrorMode);
}

void RestoreConsoleAtExit() {
  static const bool registered = std::atexit(RestoreConsole) == 0;
  (void)registered;
}

}  // namespace

bool StderrIsTerminal() {
  HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (err == nullptr || err == INVALID_HANDLE_VALUE || !GetConsoleMode(err, &mode)) return false;
  if (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) return true;
  // Without VT processing the escape sequences would show as text.
  if (!SetConsoleMode(err, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING)) return false;
  if (!gErrorModeChanged) {
    gSavedErrorMode = mode;
    gErrorModeChanged = true;
    RestoreConsoleAtExit();
  }
  return true;
}

void PrepareStandardStreams() {
  // A program without a console has no descriptors behind these streams.
  for (FILE* stream : {stdout, stderr})
    if (_fileno(stream) >= 0) _setmode(_fileno(stream), _O_BINARY);
}

void WriteStderr(std::string_view text) {
  std::fflush(stderr);
  HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (err != nullptr && err != INVALID_HANDLE_VALUE && GetConsoleMode(err, &mode)) {
    const std::wstring wide = Wide(text);
    DWORD written = 0;
    WriteConsoleW(err, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    return;
  }
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

unsigned MessageBoxFlags(MessageKind kind) {
  switch (kind) {
    case MessageKind::Plain:
      return MB_OK;
    case MessageKind::Error:
      return MB_OK | MB_ICONERROR;
    case MessageKind::Warning:
      return MB_OK | MB_ICONWARNING;
    case MessageKind::Information:
      return MB_OK | MB_ICONINFORMATION;
    case MessageKind::Question:
      return MB_OKCANCEL | MB_ICONQUESTION | MB_DEFBUTTON2;
  }
  return MB_OK;
}

int ShowSystemMessageBox(std::string_view title, std::string_view text, MessageKind kind) {
  const std::wstring t = Wide(title), s = Wide(text);
  // The window library is loaded only when a box is shown: loading it costs a
  // console run more than many conversions take.
  using MessageBoxFn = int(WINAPI*)(HWND, LPCWSTR, LPCWSTR, UINT);
  static const auto messageBox = [] {
    const HMODULE user32 = LoadLibraryW(L"user32.dll");
    const FARPROC proc = user32 != nullptr ? GetProcAddress(user32, "MessageBoxW") : nullptr;
    return reinterpret_cast<MessageBoxFn>(reinterpret_cast<void (*)()>(proc));
  }();
  if (messageBox == nullptr) {
    WriteStderr(std::string(title).append(": ").append(text).append("\n"));
    return IDOK;
  }
  const int answer = messageBox(nullptr, s.c_str(), t.c_str(), MessageBoxFlags(kind));
  return answer == IDCANCEL ? IDCANCEL : IDOK;
}

}  // namespace marklode
