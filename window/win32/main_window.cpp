#include "window/win32/main_window.h"

// windows.h first: the others need its types.
#include <commctrl.h>
#include <richedit.h>
#include <shellapi.h>

#include <algorithm>
#include <cmath>
#include <string_view>
#include <vector>

#include "services/os.h"
#include "services/platform.h"
#include "window/form/guide_text.h"
#include "window/form/window_geometry.h"
#include "window/win32/dialog_text.h"

namespace marklode {

namespace {

constexpr wchar_t kWindowClass[] = L"MarklodeMainWindow";
constexpr wchar_t kGuideClass[] = L"MarklodeGuide";

// Controls are numbered from here in the design's order; Convert and Close
// take the numbers the dialog keys send (Enter, Esc).
constexpr int kFirstControlId = 1000;
enum MenuId : int {
  kMenuCreateProfile = 2001,
  kMenuExit,
  kMenuLineBreak,
  kMenuNotes,
  kMenuTerms,
  kMenuAbout,
};

constexpr DWORD kWindowStyle =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_CLIPCHILDREN;

// Posted by every resize that does not come from the program itself, to set
// the rule's size again. A window manager under Wine sizes and maximises the
// window without asking it: the system then keeps the window's own rectangle
// inside the rule (WM_GETMINMAXINFO) while the screen shows the manager's
// size, until the program sets its size again.
constexpr UINT kMsgKeepSize = WM_APP + 1;

constexpr std::array<Ctl, 3> kFields = {Ctl::InputField, Ctl::OutputField, Ctl::ProfileField};

std::size_t IndexOf(Ctl id) {
  for (std::size_t i = 0; i < kControlDesign.size(); ++i)
    if (kControlDesign[i].id == id) return i;
  return kControlDesign.size();
}

int ControlId(std::size_t index) {
  switch (kControlDesign[index].id) {
    case Ctl::Convert:
      return IDOK;
    case Ctl::Close:
      return IDCANCEL;
    default:
      return kFirstControlId + static_cast<int>(index);
  }
}

int FieldIndex(Ctl id) {
  for (std::size_t i = 0; i < kFields.size(); ++i)
    if (kFields[i] == id) return static_cast<int>(i);
  return -1;
}

// The caption as drawn: "&" marks the mnemonic, "&&" is one "&".
std::wstring DrawnCaption(const char* caption) {
  std::wstring text = os::Utf16(caption), out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'&' && i + 1 < text.size()) ++i;
    out.push_back(text[i]);
  }
  return out;
}

// The calls of newer systems, looked up so that the program still starts
// where they are missing.
template <typename Fn>
Fn User32Function(const char* name) {
  HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
  return user32 != nullptr
             ? reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(user32, name)))
             : nullptr;
}

UINT SystemDpi() {
  HDC screen = ::GetDC(nullptr);
  const int dpi = screen != nullptr ? ::GetDeviceCaps(screen, LOGPIXELSY) : 96;
  if (screen != nullptr) ::ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

UINT DpiOf(HWND hwnd) {
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static const auto getDpiForWindow = User32Function<GetDpiForWindowFn>("GetDpiForWindow");
  const UINT dpi = getDpiForWindow != nullptr ? getDpiForWindow(hwnd) : 0;
  return dpi != 0 ? dpi : SystemDpi();
}

// The message font of the desktop at a DPI; the classic GUI font where the
// desktop does not say.
HFONT CreateMessageFont(UINT dpi) {
  using SpiForDpiFn = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);
  static const auto spiForDpi = User32Function<SpiForDpiFn>("SystemParametersInfoForDpi");
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  LOGFONTW font{};
  if (spiForDpi != nullptr &&
      spiForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi) != FALSE) {
    font = metrics.lfMessageFont;
  } else if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0) !=
             FALSE) {
    font = metrics.lfMessageFont;
    font.lfHeight = ::MulDiv(font.lfHeight, static_cast<int>(dpi), static_cast<int>(SystemDpi()));
  } else {
    ::GetObjectW(::GetStockObject(DEFAULT_GUI_FONT), sizeof font, &font);
    font.lfHeight = ::MulDiv(font.lfHeight, static_cast<int>(dpi), static_cast<int>(SystemDpi()));
  }
  HFONT made = ::CreateFontIndirectW(&font);
  return made != nullptr ? made : static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
}

void DeleteFont(HFONT font) {
  if (font != nullptr && font != static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT)))
    ::DeleteObject(font);
}

std::string_view GuideText() {
  HMODULE self = ::GetModuleHandleW(nullptr);
  HRSRC found = ::FindResourceW(self, MAKEINTRESOURCEW(kGuideResource), MAKEINTRESOURCEW(10));
  HGLOBAL loaded = found != nullptr ? ::LoadResource(self, found) : nullptr;
  const void* data = loaded != nullptr ? ::LockResource(loaded) : nullptr;
  if (data == nullptr) return "The user guide is not part of this program file.";
  return std::string_view(static_cast<const char*>(data), ::SizeofResource(self, found));
}

bool RegisterClasses(HINSTANCE instance, WNDPROC windowProc, WNDPROC guideProc) {
  static bool registered = false;
  if (registered) return true;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = windowProc;
  wc.hInstance = instance;
  wc.hIcon = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                             ::GetSystemMetrics(SM_CXICON),
                                             ::GetSystemMetrics(SM_CYICON), LR_DEFAULTCOLOR));
  wc.hIconSm = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                               ::GetSystemMetrics(SM_CXSMICON),
                                               ::GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
  wc.hCursor = ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kWindowClass;
  if (::RegisterClassExW(&wc) == 0) return false;
  wc.lpfnWndProc = guideProc;
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = kGuideClass;
  if (::RegisterClassExW(&wc) == 0) return false;
  registered = true;
  return true;
}

}  // namespace

Win32MainWindow::Win32MainWindow(WindowState& state, FileChooser& chooser)
    : form_(std::make_unique<GetCommandForm>(state, chooser, static_cast<FormView&>(*this))) {}

Win32MainWindow::~Win32MainWindow() {
  // The guide is owned by the window and goes with it.
  if (hwnd_ != nullptr) ::DestroyWindow(hwnd_);
  DeleteFont(font_);
}

bool Win32MainWindow::Create() {
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  if (!RegisterClasses(instance, &WindowProc, &GuideProc)) return false;
  const std::wstring title = os::Utf16(kAppTitle);
  // The handle arrives with the first message; a window refused after that
  // (no display to show it on) leaves none.
  if (::CreateWindowExW(0, kWindowClass, title.c_str(), kWindowStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                        480, 320, nullptr, nullptr, instance, this) == nullptr) {
    hwnd_ = nullptr;
    return false;
  }
  BuildMenus();
  dpi_ = DpiOf(hwnd_);
  ApplyScale(dpi_);
  BuildControls();
  PlaceControls();
  LoadGeometry();
  built_ = true;
  Layout();
  form_->Load();
  optionShown_ = Checked(Ctl::GpxToPoi);
  ::DragAcceptFiles(hwnd_, TRUE);
  return true;
}

void Win32MainWindow::Show() {
  ::ShowWindow(hwnd_, SW_SHOWNORMAL);
  ::UpdateWindow(hwnd_);
  // The window that comes back after a conversion takes the keyboard, so
  // that Esc and the mnemonics work without a click first.
  ::SetForegroundWindow(hwnd_);
  HWND first = ::GetNextDlgTabItem(hwnd_, nullptr, FALSE);
  if (first != nullptr) ::SetFocus(first);
}

bool Win32MainWindow::PreTranslate(MSG& msg) {
  if (guide_ != nullptr && (msg.hwnd == guide_ || ::IsChild(guide_, msg.hwnd)))
    return ::IsDialogMessageW(guide_, &msg) != FALSE;
  if (closed_ || hwnd_ == nullptr) return false;
  if (msg.hwnd != hwnd_ && !::IsChild(hwnd_, msg.hwnd)) return false;
  if (msg.message == WM_SYSCHAR && LabelMnemonic(static_cast<wchar_t>(msg.wParam))) return true;
  return ::IsDialogMessageW(hwnd_, &msg) != FALSE;
}

// Alt and a label's letter puts the keyboard into the field it captions,
// with the field's text selected, as in a dialog. Done here rather than left
// to the dialog keys, which not every system applies to labels.
bool Win32MainWindow::LabelMnemonic(wchar_t key) {
  for (std::size_t i = 0; i + 1 < kControlDesign.size(); ++i) {
    if (kControlDesign[i].kind != CtlKind::Label) continue;
    const std::string_view caption = kControlDesign[i].caption;
    const std::size_t amp = caption.find('&');
    if (amp == std::string_view::npos || amp + 1 >= caption.size()) continue;
    const wchar_t letter = static_cast<wchar_t>(static_cast<unsigned char>(caption[amp + 1]));
    if (::CharLowerW(reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(letter))) !=
        ::CharLowerW(reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(key))))
      continue;
    HWND field = controls_[i + 1];
    if (!::IsWindowEnabled(field)) return false;
    ::SetFocus(field);
    ::SendMessageW(field, EM_SETSEL, 0, -1);
    return true;
  }
  return false;
}

// ---------------------------------------------------------------------------
// Building

void Win32MainWindow::BuildMenus() {
  menuBar_ = ::CreateMenu();
  fileMenu_ = ::CreatePopupMenu();
  ::AppendMenuW(fileMenu_, MF_STRING, kMenuCreateProfile, L"Create &Profile");
  ::AppendMenuW(fileMenu_, MF_STRING, kMenuExit, L"E&xit");
  HMENU options = ::CreatePopupMenu();
  ::AppendMenuW(options, MF_STRING | MF_UNCHECKED, kMenuLineBreak, L"Keep Comment Line Breaks");
  HMENU help = ::CreatePopupMenu();
  ::AppendMenuW(help, MF_STRING, kMenuNotes, L"&Notes...");
  ::AppendMenuW(help, MF_STRING, kMenuTerms, L"&Terms of Use...");
  ::AppendMenuW(help, MF_STRING, kMenuAbout, L"&About...");
  ::AppendMenuW(menuBar_, MF_POPUP, reinterpret_cast<UINT_PTR>(fileMenu_), L"&File");
  ::AppendMenuW(menuBar_, MF_POPUP, reinterpret_cast<UINT_PTR>(options), L"&Options");
  ::AppendMenuW(menuBar_, MF_POPUP, reinterpret_cast<UINT_PTR>(help), L"&Help");
  ::SetMenu(hwnd_, menuBar_);
}

void Win32MainWindow::BuildControls() {
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  for (std::size_t i = 0; i < kControlDesign.size(); ++i) {
    const ControlDesign& d = kControlDesign[i];
    // Each control is a group of its own but for the two direction buttons,
    // so that the arrow keys move between those two only.
    DWORD style = WS_CHILD | WS_VISIBLE | (d.id == Ctl::PoiToGpx ? 0 : WS_GROUP);
    DWORD exStyle = 0;
    const wchar_t* cls = L"BUTTON";
    switch (d.kind) {
      case CtlKind::Radio:
        style |= BS_AUTORADIOBUTTON | WS_TABSTOP;
        break;
      case CtlKind::Label:
        cls = L"STATIC";
        style |= SS_LEFT | SS_CENTERIMAGE;
        break;
      case CtlKind::Field:
        cls = L"EDIT";
        style |= ES_AUTOHSCROLL | WS_TABSTOP;
        exStyle = WS_EX_CLIENTEDGE;
        break;
      case CtlKind::Button:
        style |= (d.id == Ctl::Convert ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON) | WS_TABSTOP;
        break;
      case CtlKind::CheckBox:
        style |= BS_AUTOCHECKBOX | WS_TABSTOP;
        break;
    }
    const std::wstring caption = os::Utf16(d.caption);
    HWND c = ::CreateWindowExW(exStyle, cls, caption.c_str(), style, 0, 0, 0, 0, hwnd_,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(ControlId(i))),
                               instance, nullptr);
    controls_[i] = c;
    ::SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    // A joined selection of many files is far longer than an edit's usual
    // limit; every name must arrive whole.
    if (d.kind == CtlKind::Field) ::SendMessageW(c, EM_SETLIMITTEXT, 0, 0);
    switch (d.id) {
      case Ctl::OutputField:
      case Ctl::BrowseOutput:
      case Ctl::BrowseInput:
      case Ctl::Convert:
      case Ctl::Close:
        ::SetWindowSubclass(c, &ControlProc, ControlId(i), reinterpret_cast<DWORD_PTR>(this));
        break;
      default:
        break;
    }
  }
  ::SendMessageW(Control(Ctl::GpxToPoi), BM_SETCHECK, BST_CHECKED, 0);
  separator_ = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_ETCHEDHORZ, 0, 0, 0,
                                 0, hwnd_, nullptr, instance, nullptr);

  HWND tips = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_,
                                nullptr, instance, nullptr);
  if (tips == nullptr) return;
  ::SendMessageW(tips, TTM_SETMAXTIPWIDTH, 0, Px(5000));
  for (std::size_t i = 0; i < kControlDesign.size(); ++i) {
    if (*kControlDesign[i].tooltip == '\0') continue;
    std::wstring text = os::Utf16(kControlDesign[i].tooltip);
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = hwnd_;
    tool.uId = reinterpret_cast<UINT_PTR>(controls_[i]);
    tool.lpszText = text.data();  // copied by the control
    ::SendMessageW(tips, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  }
}

// The font of the DPI and the scale of the design: twips at the DPI, raised
// until every caption fits its control in that font (a large desktop font
// would otherwise cut captions short).
void Win32MainWindow::ApplyScale(UINT dpi) {
  dpi_ = dpi;
  HFONT old = font_;
  font_ = CreateMessageFont(dpi);
  HDC dc = ::GetDC(hwnd_);
  HGDIOBJ was = ::SelectObject(dc, font_);
  TEXTMETRICW tm{};
  ::GetTextMetricsW(dc, &tm);
  const double unit = dpi / 96.0;  // a logical pixel
  fit_ = 1.0;
  for (const ControlDesign& d : kControlDesign) {
    const std::wstring caption = DrawnCaption(d.caption);
    SIZE text{};
    ::GetTextExtentPoint32W(dc, caption.c_str(), static_cast<int>(caption.size()), &text);
    double width = 0, height = tm.tmHeight;
    switch (d.kind) {
      case CtlKind::Label:
        width = text.cx + 2 * unit;
        break;
      case CtlKind::Radio:
      case CtlKind::CheckBox:
        width = text.cx + 20 * unit;  // the box and the gap after it
        break;
      case CtlKind::Button:
        width = text.cx + 16 * unit;
        height += 6 * unit;
        break;
      case CtlKind::Field:
        height += 6 * unit;
        break;
    }
    fit_ = std::max(fit_, width / (d.width * dpi / 1440.0));
    fit_ = std::max(fit_, height / (d.height * dpi / 1440.0));
  }
  fit_ = std::min(fit_, 2.0);
  ::SelectObject(dc, was);
  ::ReleaseDC(hwnd_, dc);
  for (HWND c : controls_)
    if (c != nullptr) ::SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
  DeleteFont(old);
}

// The designed window around the designed client area, frame and menu bar as
// the system draws them now.
void Win32MainWindow::PlaceControls() {
  RECT outer{}, client{};
  ::GetWindowRect(hwnd_, &outer);
  ::GetClientRect(hwnd_, &client);
  outerWidth_ = Px(kDesignClientWidth) + (outer.right - outer.left) - client.right;
  outerHeight_ = Px(kDesignClientHeight) + (outer.bottom - outer.top) - client.bottom;
}

double Win32MainWindow::Scale() const {
  return dpi_ * fit_ / 96.0;
}

int Win32MainWindow::Px(double twips) const {
  return ScaledPixels(twips, Scale());
}

int Win32MainWindow::ToTwips(int pixels) const {
  return ::MulDiv(pixels, 1440, static_cast<int>(dpi_));
}

// The stored place and width; a place on no monitor (one that is gone) comes
// back centred on the primary one, and a place near a monitor's edge is pulled
// in until the whole window is on it.
void Win32MainWindow::LoadGeometry() {
  RECT placed{};
  ::GetWindowRect(hwnd_, &placed);
  int x = placed.left, y = placed.top, width = outerWidth_;
  auto fromTwips = [this](int twips) { return ::MulDiv(twips, static_cast<int>(dpi_), 1440); };
  const StoredGeometry g = form_->LoadGeometry(ToTwips(::GetSystemMetrics(SM_CXSCREEN)),
                                               ToTwips(::GetSystemMetrics(SM_CYSCREEN)),
                                               ToTwips(outerWidth_), ToTwips(outerHeight_));
  if (g.hasX) x = fromTwips(g.x);
  if (g.hasY) y = fromTwips(g.y);
  if (g.hasWidth) width = std::max(fromTwips(g.width), outerWidth_);
  RECT wanted{x, y, x + width, y + outerHeight_};
  MONITORINFO info{};
  info.cbSize = sizeof info;
  if (::MonitorFromRect(&wanted, MONITOR_DEFAULTTONULL) == nullptr) {
    const POINT origin{0, 0};
    if (::GetMonitorInfoW(::MonitorFromPoint(origin, MONITOR_DEFAULTTOPRIMARY), &info)) {
      const RECT& area = info.rcWork;
      x = area.left + std::max(0, static_cast<int>(area.right - area.left) - width) / 2;
      y = area.top + std::max(0, static_cast<int>(area.bottom - area.top) - outerHeight_) / 2;
    }
  } else if (!::GetMonitorInfoW(::MonitorFromRect(&wanted, MONITOR_DEFAULTTONEAREST), &info)) {
    info.rcWork = RECT{};
  }
  // The whole window on its monitor; the window's rectangle holds its frame.
  const RECT& area = info.rcWork;
  if (area.right > area.left && area.bottom > area.top) {
    const PixelRect placed =
        KeepOnScreen({area.left, area.top, area.right - area.left, area.bottom - area.top},
                     {x, y, width, outerHeight_}, FrameExtents{}, outerWidth_);
    x = placed.left;
    y = placed.top;
    width = placed.width;
  }
  ::SetWindowPos(hwnd_, nullptr, x, y, width, outerHeight_, SWP_NOZORDER | SWP_NOACTIVATE);
}

// Only the width can change; the form lays the client area out for it.
void Win32MainWindow::Layout() {
  if (!built_ || placing_ || ::IsIconic(hwnd_)) return;
  placing_ = true;
  RECT client{};
  ::GetClientRect(hwnd_, &client);
  const ClientLayout layout = LayoutForWidth(client.right, Scale());
  HDWP moves = ::BeginDeferWindowPos(static_cast<int>(controls_.size()) + 1);
  auto place = [&moves](HWND c, const PixelRect& r) {
    if (moves != nullptr)
      moves = ::DeferWindowPos(moves, c, nullptr, r.left, r.top, r.width, r.height,
                               SWP_NOZORDER | SWP_NOACTIVATE);
  };
  for (std::size_t i = 0; i < controls_.size(); ++i) place(controls_[i], layout.controls[i]);
  place(separator_, layout.separator);
  if (moves != nullptr) ::EndDeferWindowPos(moves);
  // What moved or widened is drawn whole at its new place, not only the part
  // that was uncovered.
  for (Ctl c : {Ctl::InputField, Ctl::OutputField, Ctl::ProfileField, Ctl::BrowseOutput,
                Ctl::BrowseProfile, Ctl::BrowseInput})
    ::RedrawWindow(Control(c), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME);
  ::RedrawWindow(separator_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE);
  for (Ctl field : kFields) ::SendMessageW(Control(field), EM_SETSEL, 0, 0);
  for (Ctl field : kFields) CaretToEnd(field);  // a long path shows its end
  placing_ = false;
  if (!::IsZoomed(hwnd_)) {
    RECT outer{};
    ::GetWindowRect(hwnd_, &outer);
    form_->StoreWidth(ToTwips(outer.right - outer.left));
  }
}

bool Win32MainWindow::HoldsSizeRule() const {
  if (outerWidth_ <= 0 || ::IsIconic(hwnd_)) return true;
  RECT outer{};
  ::GetWindowRect(hwnd_, &outer);
  return !::IsZoomed(hwnd_) && outer.bottom - outer.top == outerHeight_ &&
         outer.right - outer.left >= outerWidth_;
}

void Win32MainWindow::PostKeepSize() {
  if (outerWidth_ <= 0 || keepingSize_ || keepSizePosted_) return;
  keepSizePosted_ = true;
  ::PostMessageW(hwnd_, kMsgKeepSize, 0, 0);
}

// A maximised window is restored; then the rule's size is set, the width
// kept where it is wide enough, the top-left corner kept. Set even where the
// window's rectangle holds the rule already: the screen may not.
void Win32MainWindow::KeepSizeRule() {
  if (outerWidth_ <= 0 || ::IsIconic(hwnd_)) return;
  keepingSize_ = true;
  if (::IsZoomed(hwnd_)) ::ShowWindow(hwnd_, SW_RESTORE);
  RECT outer{};
  ::GetWindowRect(hwnd_, &outer);
  const int width = std::max(static_cast<int>(outer.right - outer.left), outerWidth_);
  ::SetWindowPos(hwnd_, nullptr, 0, 0, width, outerHeight_,
                 SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
  keepingSize_ = false;
}

// ---------------------------------------------------------------------------
// Messages

LRESULT CALLBACK Win32MainWindow::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    auto* self =
        static_cast<Win32MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->hwnd_ = hwnd;
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<Win32MainWindow*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self == nullptr) return ::DefWindowProcW(hwnd, msg, wParam, lParam);
  return self->Handle(msg, wParam, lParam);
}

LRESULT Win32MainWindow::Handle(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_COMMAND:
      Command(LOWORD(wParam), HIWORD(wParam));
      return 0;
    case WM_INITMENUPOPUP:
      if (reinterpret_cast<HMENU>(wParam) == fileMenu_ && !closed_) form_->FileMenuOpening();
      return 0;
    case WM_SIZE:
      if (wParam == SIZE_MINIMIZED) return 0;
      if (wParam == SIZE_MAXIMIZED || !HoldsSizeRule()) PostKeepSize();
      Layout();
      return 0;
    case WM_WINDOWPOSCHANGING:
      if ((reinterpret_cast<const WINDOWPOS*>(lParam)->flags & SWP_NOSIZE) == 0) PostKeepSize();
      return ::DefWindowProcW(hwnd_, msg, wParam, lParam);
    case kMsgKeepSize:
      keepSizePosted_ = false;
      KeepSizeRule();
      return 0;
    // The size rule: the designed height, at least the designed width.
    case WM_GETMINMAXINFO:
      if (outerWidth_ > 0) {
        auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
        info->ptMinTrackSize.x = outerWidth_;
        info->ptMinTrackSize.y = outerHeight_;
        info->ptMaxTrackSize.y = outerHeight_;
        info->ptMaxSize.y = outerHeight_;
      }
      return 0;
    case WM_DPICHANGED: {
      // Another monitor: its font and scale, at the place the system offers.
      ApplyScale(HIWORD(wParam));
      const RECT* offered = reinterpret_cast<const RECT*>(lParam);
      placing_ = true;
      ::SetWindowPos(hwnd_, nullptr, offered->left, offered->top, offered->right - offered->left,
                     offered->bottom - offered->top, SWP_NOZORDER | SWP_NOACTIVATE);
      PlaceControls();
      RECT now{};
      ::GetWindowRect(hwnd_, &now);
      ::SetWindowPos(hwnd_, nullptr, 0, 0,
                     std::max(static_cast<int>(now.right - now.left), outerWidth_), outerHeight_,
                     SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
      placing_ = false;
      Layout();
      return 0;
    }
    case WM_ACTIVATE:
      // The control that had the keyboard gets it back when the window does
      // (after a message box, a dialog or another program).
      if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focus = ::GetFocus();
        if (focus != nullptr && ::IsChild(hwnd_, focus)) lastFocus_ = focus;
      } else if (lastFocus_ != nullptr && ::IsWindowEnabled(lastFocus_)) {
        ::SetFocus(lastFocus_);
        return 0;
      }
      break;
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
      if (FieldIndex(CtlOf(reinterpret_cast<HWND>(lParam))) >= 0)
        return FieldColour(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
      break;
    case WM_DROPFILES:
      DropFiles(reinterpret_cast<HDROP>(wParam));
      return 0;
    case DM_GETDEFID:
      return MAKELRESULT(IDOK, DC_HASDEFID);
    case WM_CLOSE:
      Close();  // the frame's close box and Alt+F4: no request, the store keeps the place
      return 0;
    default:
      break;
  }
  return ::DefWindowProcW(hwnd_, msg, wParam, lParam);
}

void Win32MainWindow::Command(int id, int code) {
  if (closed_) return;
  switch (id) {
    case IDOK:  // Convert, also Enter
      if (code == BN_CLICKED && ::IsWindowEnabled(Control(Ctl::Convert))) form_->Convert();
      return;
    case IDCANCEL:  // Close, also Esc
      if (code == BN_CLICKED && ::IsWindowEnabled(Control(Ctl::Close))) form_->Cancel();
      return;
    case kMenuCreateProfile:
      form_->CreateProfile();
      return;
    case kMenuExit:
      form_->Exit();
      return;
    case kMenuLineBreak:
      SetChecked(Ctl::KeepCommentLineBreaks, !Checked(Ctl::KeepCommentLineBreaks));
      form_->LineBreakToggled();
      return;
    case kMenuNotes:
      form_->Notes();
      return;
    case kMenuTerms:
      form_->Terms();
      return;
    case kMenuAbout:
      form_->About();
      return;
    default:
      break;
  }
  const int index = id - kFirstControlId;
  if (index < 0 || index >= static_cast<int>(kControlDesign.size())) return;
  switch (kControlDesign[static_cast<std::size_t>(index)].id) {
    case Ctl::GpxToPoi:
    case Ctl::PoiToGpx:
      // A click on the button already chosen changes nothing.
      if (code == BN_CLICKED && Checked(Ctl::GpxToPoi) != optionShown_) {
        optionShown_ = Checked(Ctl::GpxToPoi);
        form_->DirectionClicked();
      }
      return;
    case Ctl::InputField:
      if (code == EN_CHANGE) form_->InputChanged();
      return;
    case Ctl::UseProfile:
      if (code == BN_CLICKED) form_->UseProfileClicked();
      return;
    case Ctl::BrowseInput:
      if (code == BN_CLICKED) form_->ChooseInput();
      return;
    case Ctl::BrowseOutput:
      if (code == BN_CLICKED) form_->ChooseOutput();
      return;
    case Ctl::BrowseProfile:
      if (code == BN_CLICKED) form_->ChooseProfile();
      return;
    default:
      return;
  }
}

LRESULT CALLBACK Win32MainWindow::ControlProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam,
                                              UINT_PTR id, DWORD_PTR data) {
  auto* self = reinterpret_cast<Win32MainWindow*>(data);
  if (msg == WM_NCDESTROY) {
    ::RemoveWindowSubclass(hwnd, &ControlProc, id);
  } else if (hwnd == self->Control(Ctl::OutputField)) {
    if (msg == WM_KILLFOCUS) {
      // Leaving the field for another control of the window, not for a
      // message box or another program, asks the overwrite question again.
      HWND to = reinterpret_cast<HWND>(wParam);
      if (to != nullptr && !self->closed_ && ::IsChild(self->hwnd_, to))
        self->form_->OutputFocusLost();
    } else if (msg == WM_SETFOCUS) {
      // The whole name is selected, also after the click that brought the
      // focus has placed its caret.
      const LRESULT result = ::DefSubclassProc(hwnd, msg, wParam, lParam);
      ::PostMessageW(hwnd, EM_SETSEL, 0, -1);
      return result;
    }
  } else if (msg == WM_RBUTTONDOWN || msg == WM_MBUTTONDOWN || msg == WM_XBUTTONDOWN) {
    // A press of another mouse button must not leave the button looking
    // pressed: it is released unless the left button is down too.
    if ((::GetKeyState(VK_LBUTTON) & 0x8000) == 0) ::PostMessageW(hwnd, WM_LBUTTONUP, 0, 0);
  }
  return ::DefSubclassProc(hwnd, msg, wParam, lParam);
}

LRESULT Win32MainWindow::FieldColour(HDC dc, HWND field) {
  const int colour = looks_[static_cast<std::size_t>(FieldIndex(CtlOf(field)))] == FieldLook::Window
                         ? COLOR_BTNFACE
                         : COLOR_WINDOW;
  ::SetBkColor(dc, ::GetSysColor(colour));
  ::SetTextColor(dc, ::GetSysColor(::IsWindowEnabled(field) ? COLOR_WINDOWTEXT : COLOR_GRAYTEXT));
  return reinterpret_cast<LRESULT>(::GetSysColorBrush(colour));
}

void Win32MainWindow::DropFiles(HDROP drop) {
  const UINT count = ::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
  std::vector<std::string> files;
  for (UINT i = 0; i < count; ++i) {
    const UINT length = ::DragQueryFileW(drop, i, nullptr, 0);
    std::wstring name(length + 1, L'\0');
    ::DragQueryFileW(drop, i, name.data(), length + 1);
    name.resize(length);
    files.push_back(os::Utf8(name));
  }
  ::DragFinish(drop);
  // In profile mode the input is not for typing, nor for dropping.
  if (closed_ || files.empty() || !::IsWindowEnabled(Control(Ctl::InputField))) return;
  if (!form_->DropFiles(files, true)) ::MessageBeep(MB_ICONWARNING);
}

// ---------------------------------------------------------------------------
// What the form sees of the window

HWND Win32MainWindow::Control(Ctl id) const {
  const std::size_t i = IndexOf(id);
  return i < controls_.size() ? controls_[i] : nullptr;
}

Ctl Win32MainWindow::CtlOf(HWND control) const {
  for (std::size_t i = 0; i < controls_.size(); ++i)
    if (controls_[i] == control) return kControlDesign[i].id;
  return Ctl::CreateProfile;  // none of the client area's
}

std::string Win32MainWindow::Text(Ctl field) const {
  HWND c = Control(field);
  const int length = ::GetWindowTextLengthW(c);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const int got = ::GetWindowTextW(c, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(std::max(got, 0)));
  return os::Utf8(text);
}

void Win32MainWindow::SetText(Ctl field, const std::string& text) {
  ::SetWindowTextW(Control(field), os::Utf16(text).c_str());
}

bool Win32MainWindow::Checked(Ctl control) const {
  if (control == Ctl::KeepCommentLineBreaks)
    return (::GetMenuState(menuBar_, kMenuLineBreak, MF_BYCOMMAND) & MF_CHECKED) != 0;
  HWND c = Control(control);
  return c != nullptr && ::SendMessageW(c, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void Win32MainWindow::SetChecked(Ctl control, bool on) {
  if (control == Ctl::KeepCommentLineBreaks) {
    ::CheckMenuItem(menuBar_, kMenuLineBreak, MF_BYCOMMAND | (on ? MF_CHECKED : MF_UNCHECKED));
    return;
  }
  HWND c = Control(control);
  if (c != nullptr) ::SendMessageW(c, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
  if (control == Ctl::GpxToPoi || control == Ctl::PoiToGpx) optionShown_ = Checked(Ctl::GpxToPoi);
}

bool Win32MainWindow::Enabled(Ctl control) const {
  if (control == Ctl::CreateProfile || control == Ctl::KeepCommentLineBreaks) {
    const UINT item = control == Ctl::CreateProfile ? kMenuCreateProfile : kMenuLineBreak;
    return (::GetMenuState(menuBar_, item, MF_BYCOMMAND) & (MF_GRAYED | MF_DISABLED)) == 0;
  }
  return ::IsWindowEnabled(Control(control)) != FALSE;
}

void Win32MainWindow::SetEnabled(Ctl control, bool on) {
  if (control == Ctl::CreateProfile || control == Ctl::KeepCommentLineBreaks) {
    const UINT item = control == Ctl::CreateProfile ? kMenuCreateProfile : kMenuLineBreak;
    ::EnableMenuItem(menuBar_, item, MF_BYCOMMAND | (on ? MF_ENABLED : MF_GRAYED));
    return;
  }
  HWND c = Control(control);
  // A control losing the keyboard hands it on, or no key would reach the
  // window (not even Esc).
  if (!on && ::GetFocus() == c) {
    HWND next = ::GetNextDlgTabItem(hwnd_, c, FALSE);
    if (next != nullptr && next != c) ::SetFocus(next);
  }
  ::EnableWindow(c, on ? TRUE : FALSE);
}

void Win32MainWindow::SetLook(Ctl field, FieldLook look) {
  const int i = FieldIndex(field);
  if (i < 0) return;
  looks_[static_cast<std::size_t>(i)] = look;
  ::InvalidateRect(Control(field), nullptr, TRUE);
}

void Win32MainWindow::CaretToEnd(Ctl field) {
  HWND c = Control(field);
  const int length = ::GetWindowTextLengthW(c);
  ::SendMessageW(c, EM_SETSEL, static_cast<WPARAM>(length), length);
  ::SendMessageW(c, EM_SCROLLCARET, 0, 0);
}

void Win32MainWindow::Close() {
  if (closed_ || hwnd_ == nullptr) return;
  // The place of a minimised window is where it will come back.
  RECT place{};
  WINDOWPLACEMENT placement{};
  placement.length = sizeof placement;
  if (::IsIconic(hwnd_) && ::GetWindowPlacement(hwnd_, &placement))
    place = placement.rcNormalPosition;
  else
    ::GetWindowRect(hwnd_, &place);
  form_->Unload(ToTwips(place.left), ToTwips(place.top));
  closed_ = true;
  if (guide_ != nullptr) ::DestroyWindow(guide_);
  ::ShowWindow(hwnd_, SW_HIDE);
}

// ---------------------------------------------------------------------------
// The guide

// The guide built into the program, in its Windows edition, set as RTF in a
// RichEdit control (a plain text box where RichEdit cannot be loaded), in a
// window of its own that fits the work area of the main window's monitor.
void Win32MainWindow::ShowGuide() {
  if (guide_ == nullptr) {
    HDC dc = ::GetDC(hwnd_);
    HGDIOBJ was = ::SelectObject(dc, font_);
    TEXTMETRICW tm{};
    ::GetTextMetricsW(dc, &tm);
    ::SelectObject(dc, was);
    ::ReleaseDC(hwnd_, dc);
    // Room for a line of some 70 characters and a good part of a page, but
    // no more than the work area holds.
    int width = tm.tmAveCharWidth * 84, height = tm.tmHeight * 36;
    int x = CW_USEDEFAULT, y = CW_USEDEFAULT;
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (::GetMonitorInfoW(::MonitorFromWindow(hwnd_, MONITOR_DEFAULTTONEAREST), &info)) {
      const RECT& area = info.rcWork;
      const int areaWidth = area.right - area.left, areaHeight = area.bottom - area.top;
      width = std::min(width, areaWidth * 9 / 10);
      height = std::min(height, areaHeight * 9 / 10);
      x = area.left + (areaWidth - width) / 2;
      y = area.top + (areaHeight - height) / 2;
    }
    guide_ = ::CreateWindowExW(0, kGuideClass, L"Marklode User Guide", WS_OVERLAPPEDWINDOW, x, y,
                               width, height, hwnd_, nullptr, ::GetModuleHandleW(nullptr), this);
    if (guide_ == nullptr) return;
    const std::string guide = GuideEdition(GuideText(), GuideSystem::Windows);
    static const bool richEdit = ::LoadLibraryW(L"Msftedit.dll") != nullptr;
    const DWORD style = WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | ES_MULTILINE |
                        ES_READONLY | ES_AUTOVSCROLL;
    HWND text =
        ::CreateWindowExW(WS_EX_CLIENTEDGE, richEdit ? MSFTEDIT_CLASS : L"EDIT", L"", style, 0, 0,
                          0, 0, guide_, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    // The window's font as the text's default: without it RichEdit starts
    // from the bold System font, and the RTF's plain text stays bold.
    if (text != nullptr) ::SendMessageW(text, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    if (text != nullptr && richEdit) {
      const std::string rtf = GuideRtf(guide);  // ASCII: the code page does not matter
      SETTEXTEX set{ST_DEFAULT, CP_ACP};
      ::SendMessageW(text, EM_SETTEXTEX, reinterpret_cast<WPARAM>(&set),
                     reinterpret_cast<LPARAM>(rtf.c_str()));
    } else if (text != nullptr) {
      ::SendMessageW(text, EM_SETLIMITTEXT, 0, 0);
      ::SetWindowTextW(text, WithCrLf(os::Utf16(GuidePlainText(guide))).c_str());
    }
    RECT client{};
    ::GetClientRect(guide_, &client);
    ::MoveWindow(text, 0, 0, client.right, client.bottom, FALSE);
  }
  ::ShowWindow(guide_, SW_SHOWNORMAL);
  ::SetForegroundWindow(guide_);
  HWND text = ::GetWindow(guide_, GW_CHILD);
  ::SetFocus(text);
  ::SendMessageW(text, EM_SETSEL, 0, 0);
}

LRESULT CALLBACK Win32MainWindow::GuideProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE)
    ::SetWindowLongPtrW(
        hwnd, GWLP_USERDATA,
        reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
  auto* self = reinterpret_cast<Win32MainWindow*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  switch (msg) {
    case WM_SIZE:
      ::MoveWindow(::GetWindow(hwnd, GW_CHILD), 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
      return 0;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDCANCEL) ::DestroyWindow(hwnd);  // Esc
      return 0;
    case WM_CTLCOLORSTATIC:  // a read-only text is still a page to read
      ::SetBkColor(reinterpret_cast<HDC>(wParam), ::GetSysColor(COLOR_WINDOW));
      return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_WINDOW));
    case WM_DESTROY:
      if (self != nullptr) self->guide_ = nullptr;
      return 0;
    default:
      return ::DefWindowProcW(hwnd, msg, wParam, lParam);
  }
}

}  // namespace marklode
