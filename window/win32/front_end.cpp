#include "window/win32/front_end.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// windows.h first: the others need its types.
#include <commctrl.h>
#include <commdlg.h>
#include <objbase.h>

#include <algorithm>
#include <vector>

#include "services/console.h"
#include "services/os.h"
#include "window/win32/dialog_text.h"
#include "window/win32/main_window.h"

namespace marklode {

namespace {

// Logical pixels at the desktop's DPI.
int Scaled(int pixels) {
  HDC screen = ::GetDC(nullptr);
  const int dpi = screen != nullptr ? ::GetDeviceCaps(screen, LOGPIXELSY) : 96;
  if (screen != nullptr) ::ReleaseDC(nullptr, screen);
  return ::MulDiv(pixels, dpi > 0 ? dpi : 96, 96);
}

// Where a window of this size is centred over `over`, kept inside the work
// area of the monitor under it.
POINT CentredOver(const RECT& over, int width, int height) {
  int x = over.left + (over.right - over.left - width) / 2;
  int y = over.top + (over.bottom - over.top - height) / 2;
  MONITORINFO info{};
  info.cbSize = sizeof info;
  if (::GetMonitorInfoW(::MonitorFromRect(&over, MONITOR_DEFAULTTONEAREST), &info)) {
    const RECT& a = info.rcWork;
    x = std::max(static_cast<int>(a.left), std::min(x, static_cast<int>(a.right) - width));
    y = std::max(static_cast<int>(a.top), std::min(y, static_cast<int>(a.bottom) - height));
  }
  return POINT{x, y};
}

// A window to centre over: shown or hidden, but not minimised.
bool PlaceOf(void* window, RECT& rect) {
  HWND hwnd = static_cast<HWND>(window);
  return hwnd != nullptr && ::IsWindow(hwnd) && !::IsIconic(hwnd) &&
         ::GetWindowRect(hwnd, &rect) != FALSE;
}

// A message box comes up where the system likes; the hook moves it over the
// window once, as it is activated, before it is seen.
thread_local HHOOK boxHook = nullptr;
thread_local RECT boxOver{};

LRESULT CALLBACK CentreBox(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_ACTIVATE && boxHook != nullptr) {
    HWND box = reinterpret_cast<HWND>(wParam);
    wchar_t cls[16] = {};
    ::GetClassNameW(box, cls, 16);
    if (std::wstring_view(cls) == L"#32770") {  // the dialog class of message boxes
      RECT r{};
      ::GetWindowRect(box, &r);
      const POINT p = CentredOver(boxOver, r.right - r.left, r.bottom - r.top);
      ::SetWindowPos(box, nullptr, p.x, p.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
      ::UnhookWindowsHookEx(boxHook);
      boxHook = nullptr;
    }
  }
  return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

class FrontEnd : public Win32FrontEnd {
 public:
  FrontEnd() : host_(chooser_, &progress_) {
    messages_.beforeShow = [this] { progress_.Finish(); };
    messages_.owner = [this] { return host_.lastWindow(); };
    progress_.over = [this] { return host_.lastWindow(); };
  }
  WindowHost& host() override { return host_; }
  MessageSink& messages() override { return messages_; }
  ProgressSink& progress() override { return progress_; }

 private:
  Win32MessageSink messages_;
  Win32FileChooser chooser_;
  Win32ProgressSink progress_;
  Win32WindowHost host_;
};

}  // namespace

std::unique_ptr<Win32FrontEnd> StartWin32FrontEnd() {
  // The themed controls of the manifest's Common Controls 6, and the
  // apartment the shell's dialogs expect.
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES | ICC_PROGRESS_CLASS;
  ::InitCommonControlsEx(&controls);
  ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  return std::make_unique<FrontEnd>();
}

// ---------------------------------------------------------------------------

int Win32MessageSink::Present(std::string_view text, MessageKind kind, std::string_view title) {
  if (beforeShow) beforeShow();
  void* window = owner ? owner() : nullptr;
  // Owned by the window while it is up; over the window just closed when
  // the box reports its request.
  HWND parent = window != nullptr && ::IsWindowVisible(static_cast<HWND>(window))
                    ? static_cast<HWND>(window)
                    : nullptr;
  if (PlaceOf(window, boxOver))
    boxHook = ::SetWindowsHookExW(WH_CBT, &CentreBox, nullptr, ::GetCurrentThreadId());
  const UINT flags = MessageBoxFlags(kind) | MB_SETFOREGROUND;
  const std::wstring wideText = os::Utf16(text);
  const std::wstring wideTitle = os::Utf16(title.empty() ? kAppTitle : title);
  const int answer = ::MessageBoxW(parent, wideText.c_str(), wideTitle.c_str(), flags);
  if (boxHook != nullptr) {
    ::UnhookWindowsHookEx(boxHook);
    boxHook = nullptr;
  }
  return answer == IDCANCEL ? kButtonCancel : kButtonOk;
}

int Win32MessageSink::PresentWithDetails(std::string_view text, std::string_view details,
                                         MessageKind kind, std::string_view title) {
  return Present(ExpandedResultText(text, details), kind, title);
}

// ---------------------------------------------------------------------------

FileDialogResult Win32FileChooser::Choose(const FileDialogRequest& request) {
  FileDialogResult result;
  const std::wstring filter = DialogFilter(request.filter);
  const std::wstring title = os::Utf16(request.title);
  const std::wstring folder = os::Utf16(request.initialFolder);
  const std::wstring preset = os::Utf16(request.presetName);
  const bool multi = !request.save && (request.options & kDlgAllowMultiSelect) != 0;
  // Room for a selection of some thousands of names.
  std::vector<wchar_t> names(multi ? (1u << 20) : 32768u, L'\0');

  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = ::GetActiveWindow();
  ofn.lpstrFilter = filter.empty() ? nullptr : filter.c_str();
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = names.data();
  ofn.nMaxFile = static_cast<DWORD>(names.size());
  ofn.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
  ofn.lpstrTitle = title.empty() ? nullptr : title.c_str();
  // The option bits are the dialog's own.
  ofn.Flags = request.options | OFN_EXPLORER;
  if (!multi) ofn.Flags &= ~static_cast<DWORD>(OFN_ALLOWMULTISELECT);

  for (int attempt = 0; attempt < 2; ++attempt) {
    std::fill(names.begin(), names.end(), L'\0');
    if (attempt == 0 && preset.size() < names.size())
      std::copy(preset.begin(), preset.end(), names.begin());
    const BOOL chosen = request.save ? ::GetSaveFileNameW(&ofn) : ::GetOpenFileNameW(&ofn);
    if (chosen != FALSE) {
      result.files = SelectedFiles(names.data(), names.size());
      result.cancelled = result.files.empty();
      return result;
    }
    // A preset the dialog refuses (characters no name may hold) is dropped
    // rather than keeping the dialog from opening.
    if (::CommDlgExtendedError() != FNERR_INVALIDFILENAME) break;
  }
  return result;
}

// ---------------------------------------------------------------------------

struct Win32ProgressSink::Impl {
  Impl(std::chrono::milliseconds delay, ProgressPolicy::Clock clock)
      : policy(delay, std::move(clock)) {}
  ProgressPolicy policy;
  bool cancelled = false;  // Cancel pressed since the last report
  std::wstring labelShown;
  HWND window = nullptr, label = nullptr, bar = nullptr, button = nullptr;
  HFONT font = nullptr;

  bool Create(void* over);
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
};

bool Win32ProgressSink::Impl::Create(void* over) {
  static const wchar_t kClass[] = L"MarklodeProgress";
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  static bool registered = false;
  if (!registered) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &Proc;
    wc.hInstance = instance;
    wc.hCursor = ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(1));
    wc.lpszClassName = kClass;
    registered = ::RegisterClassExW(&wc) != 0;
    if (!registered) return false;
  }
  constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
  RECT size{0, 0, Scaled(360), Scaled(112)};
  ::AdjustWindowRectEx(&size, kStyle, FALSE, 0);
  const int width = size.right - size.left, height = size.bottom - size.top;
  RECT place{};
  if (!PlaceOf(over, place)) ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &place, 0);
  const POINT p = CentredOver(place, width, height);
  const std::wstring title = os::Utf16(kAppTitle);
  window = ::CreateWindowExW(0, kClass, title.c_str(), kStyle, p.x, p.y, width, height, nullptr,
                             nullptr, instance, this);
  if (window == nullptr) return false;
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  font = ::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)
             ? ::CreateFontIndirectW(&metrics.lfMessageFont)
             : nullptr;
  label = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX,
                            Scaled(12), Scaled(10), Scaled(336), Scaled(36), window, nullptr,
                            instance, nullptr);
  bar = ::CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE, Scaled(12), Scaled(50),
                          Scaled(336), Scaled(16), window, nullptr, instance, nullptr);
  ::SendMessageW(bar, PBM_SETRANGE32, 0, 1000);
  button = ::CreateWindowExW(
      0, L"BUTTON", L"Cancel", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, Scaled(264),
      Scaled(76), Scaled(84), Scaled(26), window,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDCANCEL)), instance, nullptr);
  for (HWND c : {label, button})
    if (font != nullptr) ::SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return true;
}

LRESULT CALLBACK Win32ProgressSink::Impl::Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE)
    ::SetWindowLongPtrW(
        hwnd, GWLP_USERDATA,
        reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
  auto* self = reinterpret_cast<Impl*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  // Cancel, Esc and the close box all stop the run; the next report says so.
  if (self != nullptr && ((msg == WM_COMMAND && LOWORD(wParam) == IDCANCEL) || msg == WM_CLOSE)) {
    self->cancelled = true;
    ::EnableWindow(self->button, FALSE);
    return 0;
  }
  return ::DefWindowProcW(hwnd, msg, wParam, lParam);
}

Win32ProgressSink::Win32ProgressSink(std::chrono::milliseconds delay, ProgressPolicy::Clock clock)
    : impl_(std::make_unique<Impl>(delay, std::move(clock))) {}

Win32ProgressSink::~Win32ProgressSink() {
  if (impl_->window != nullptr) ::DestroyWindow(impl_->window);
  if (impl_->font != nullptr) ::DeleteObject(impl_->font);
}

void Win32ProgressSink::BeginRun() {
  Impl& s = *impl_;
  s.policy.BeginRun();
  s.cancelled = false;
  if (s.button != nullptr) ::EnableWindow(s.button, TRUE);
}

void Win32ProgressSink::Reading(std::string_view input, int item, int items) {
  impl_->policy.Reading(input, item, items);
}

void Win32ProgressSink::Finish() {
  if (impl_->window != nullptr) ::ShowWindow(impl_->window, SW_HIDE);
}

bool Win32ProgressSink::Update(std::uint64_t bytesDone, std::uint64_t bytesTotal) {
  Impl& s = *impl_;
  if (s.policy.cancelled()) return false;
  if (!s.policy.Due()) return true;
  if (s.window == nullptr && !s.Create(over ? over() : nullptr)) return true;

  const std::wstring label = os::Utf16(ProgressText(s.policy.Heading(), bytesDone, bytesTotal));
  if (label != s.labelShown) {
    s.labelShown = label;
    ::SetWindowTextW(s.label, label.c_str());
  }
  ::SendMessageW(s.bar, PBM_SETPOS,
                 static_cast<WPARAM>(ProgressPolicy::Permille(bytesDone, bytesTotal)), 0);
  if (!::IsWindowVisible(s.window)) {
    ::ShowWindow(s.window, SW_SHOWNORMAL);
    ::SetForegroundWindow(s.window);
  }
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {  // kept for the loop that waits for it
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      s.cancelled = true;
      break;
    }
    if (!::IsDialogMessageW(s.window, &msg)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
  }
  if (s.cancelled) {
    s.policy.Cancel();
    ::ShowWindow(s.window, SW_HIDE);
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------

Win32WindowHost::Win32WindowHost(FileChooser& chooser, Win32ProgressSink* progress)
    : chooser_(chooser), progress_(progress) {}

Win32WindowHost::~Win32WindowHost() = default;

void* Win32WindowHost::lastWindow() const {
  return window_ ? window_->hwnd() : nullptr;
}

void Win32WindowHost::ShowMainWindowAndWait(WindowState& state) {
  if (progress_ != nullptr) progress_->Finish();
  window_.reset();  // each showing loads a fresh window
  window_ = std::make_unique<Win32MainWindow>(state, chooser_);
  if (!window_->Create()) {
    window_.reset();
    // Nothing was done: the status says so, as it does on Linux without a
    // display.
    state.messages.Show(
        "The window cannot be shown here; give a file to convert, or use marklode-cli.exe.",
        MessageKind::Error, kAppTitle, Severity::Problem);
    return;
  }
  window_->Show();
  MSG msg;
  // Sleeps between messages: no polling while the window is open.
  while (!window_->closed()) {
    const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) {  // the session ends: as the frame's close box
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      window_->Close();
      break;
    }
    if (got == -1) break;
    if (!window_->PreTranslate(msg)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
  }
  if (progress_ != nullptr) progress_->BeginRun();
}

}  // namespace marklode
