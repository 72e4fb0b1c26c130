#include <windows.h>

#include "console/win32/frmCleanup.h"
// After windows.h, which they need.
#include <commctrl.h>

#include <array>
#include <cstdint>

#include "console/win32/twips.h"
#include "console/win32/wide_text.h"

namespace oa::win32 {

using console::ActivityLog;
using console::Control;
using console::ControlSpec;
using console::Form;
using console::Geometry;
using console::Index;
using console::kCaption;
using console::kControlCount;
using console::kControls;
using console::kMsgBoxTitle;
using console::kStartClientHeight;
using console::kStartClientWidth;
using console::Layout;
using console::StartLayout;

namespace {

constexpr wchar_t kClassName[] = L"oaCleanupWindow";
constexpr DWORD kStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
constexpr DWORD kExStyle = WS_EX_CONTROLPARENT;
// Control IDs start above IDOK and IDCANCEL, which the dialog manager sends for Enter and
// Escape: neither button answers those keys.
constexpr int kFirstId = 100;
constexpr int kIconId = 1;

struct WindowDeleter {
  void operator()(HWND h) const { ::DestroyWindow(h); }
};
struct FontDeleter {
  void operator()(HFONT f) const { ::DeleteObject(f); }
};
struct IconDeleter {
  void operator()(HICON i) const { ::DestroyIcon(i); }
};
using WindowHandle = std::unique_ptr<HWND__, WindowDeleter>;
using FontHandle = std::unique_ptr<HFONT__, FontDeleter>;
using IconHandle = std::unique_ptr<HICON__, IconDeleter>;

// The classic dialog face: the grid was drawn for an 8-point dialog font.
FontHandle DialogFont(int dpi) {
  LOGFONTW lf{};
  lf.lfHeight = -::MulDiv(8, dpi, 72);
  lf.lfWeight = FW_NORMAL;
  lf.lfCharSet = DEFAULT_CHARSET;
  lf.lfQuality = CLEARTYPE_QUALITY;
  ::lstrcpynW(lf.lfFaceName, L"MS Shell Dlg 2", LF_FACESIZE);
  return FontHandle(::CreateFontIndirectW(&lf));
}

IconHandle LoadIconAt(int size) {
  return IconHandle(
      static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kIconId),
                                      IMAGE_ICON, size, size, LR_DEFAULTCOLOR)));
}

struct ControlClass {
  const wchar_t* className;
  DWORD style;
  DWORD exStyle;
};

ControlClass ClassOf(const ControlSpec& row) {
  constexpr DWORD child = WS_CHILD | WS_VISIBLE;
  switch (row.control) {
    case Control::txtResult:
      // Locked: read, select and copy, but no typing.
      return {L"EDIT",
              child | WS_TABSTOP | WS_HSCROLL | WS_VSCROLL | ES_MULTILINE | ES_READONLY |
                  ES_AUTOHSCROLL | ES_AUTOVSCROLL,
              WS_EX_CLIENTEDGE};
    case Control::txtExServer:
    case Control::txtAlias:
      return {L"EDIT", child | WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE};
    case Control::chkHH:
      return {L"BUTTON", child | WS_TABSTOP | BS_AUTOCHECKBOX, 0};
    case Control::cmdCancel:
    case Control::cmdOK:
      return {L"BUTTON", child | WS_TABSTOP | BS_PUSHBUTTON, 0};
    case Control::lblProgress:
      // Counts and names, never access keys.
      return {L"STATIC", child | SS_LEFT | SS_NOPREFIX, 0};
    case Control::Label2:
    case Control::Label1:
      return {L"STATIC", child | SS_LEFT, 0};
  }
  return {L"STATIC", child, 0};
}

}  // namespace

struct frmCleanup::Impl {
  explicit Impl(frmCleanup& owner) : owner(owner) {}

  frmCleanup& owner;
  Layout twips = StartLayout();
  int dpi = USER_DEFAULT_SCREEN_DPI;
  std::array<HWND, kControlCount> controls{};
  HWND lastFocus = nullptr;
  bool closed = false;
  FontHandle font;
  IconHandle bigIcon;
  IconHandle smallIcon;
  WindowHandle window;  // last: destroyed before the font and icons it uses

  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT msg, WPARAM wParam, LPARAM lParam);

  bool Create();
  void CreateControls();
  void ApplyDpi(int newDpi);
  void SizeForStart();
  void Form_Resize(int clientWidth, int clientHeight, bool minimised);
  void PlaceControls();
  void MoveFocus(HWND target);
  HWND At(Control c) const { return controls[Index(c)]; }
};

LRESULT CALLBACK frmCleanup::Impl::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<Impl*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (msg == WM_NCDESTROY) ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
  if (self == nullptr || self->window.get() != hwnd) {
    return ::DefWindowProcW(hwnd, msg, wParam, lParam);
  }
  return self->Handle(msg, wParam, lParam);
}

LRESULT frmCleanup::Impl::Handle(UINT msg, WPARAM wParam, LPARAM lParam) {
  HWND hwnd = window.get();
  switch (msg) {
    case WM_COMMAND: {
      // Only the buttons' own clicks: Enter and Escape arrive as IDOK and IDCANCEL.
      if (HIWORD(wParam) != BN_CLICKED || lParam == 0) return 0;
      const HWND from = reinterpret_cast<HWND>(lParam);
      if (from == At(Control::cmdOK)) owner.form().cmdOK_Click();
      if (from == At(Control::cmdCancel)) owner.form().cmdCancel_Click();
      return 0;
    }
    case WM_NEXTDLGCTL: {
      // Sent by IsDialogMessage for Tab and for a label's access key; a dialog's own procedure
      // would do this.
      HWND target = nullptr;
      if (LOWORD(lParam) != 0) {
        target = reinterpret_cast<HWND>(wParam);
      } else {
        target = ::GetNextDlgTabItem(hwnd, ::GetFocus(), wParam != 0);
      }
      MoveFocus(target);
      return 0;
    }
    case WM_ACTIVATE:
      if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focus = ::GetFocus();
        if (focus != nullptr && ::IsChild(hwnd, focus)) lastFocus = focus;
      }
      return ::DefWindowProcW(hwnd, msg, wParam, lParam);
    case WM_SETFOCUS:
      // The window itself takes no keys: the focus goes back to the control that had it.
      if (lastFocus != nullptr) ::SetFocus(lastFocus);
      return 0;
    case WM_SIZE:
      Form_Resize(LOWORD(lParam), HIWORD(lParam), wParam == SIZE_MINIMIZED);
      return 0;
    case WM_DPICHANGED: {
      ApplyDpi(HIWORD(wParam));
      const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
      ::SetWindowPos(hwnd, nullptr, suggested->left, suggested->top,
                     suggested->right - suggested->left, suggested->bottom - suggested->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
      PlaceControls();
      return 0;
    }
    case WM_CTLCOLORSTATIC:
      // The locked results box keeps the face of a box one reads, not of a disabled one.
      if (reinterpret_cast<HWND>(lParam) == At(Control::txtResult)) {
        HDC dc = reinterpret_cast<HDC>(wParam);
        ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
        ::SetBkColor(dc, ::GetSysColor(COLOR_WINDOW));
        return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_WINDOW));
      }
      return ::DefWindowProcW(hwnd, msg, wParam, lParam);
    case WM_CLOSE:
      // The frame's close unloads as Cancel does, without the cancel flag; it never refuses.
      owner.form().Form_Unload();
      return 0;
    default:
      return ::DefWindowProcW(hwnd, msg, wParam, lParam);
  }
}

bool frmCleanup::Impl::Create() {
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  bigIcon = LoadIconAt(::GetSystemMetrics(SM_CXICON));
  smallIcon = LoadIconAt(::GetSystemMetrics(SM_CXSMICON));
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = &Impl::WindowProc;
  wc.hInstance = instance;
  wc.hIcon = bigIcon.get();
  wc.hIconSm = smallIcon.get();
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kClassName;
  // A second window of the program finds the class registered already.
  if (::RegisterClassExW(&wc) == 0 && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    return false;
  }
  const std::wstring caption = Wide(kCaption);
  HWND hwnd =
      ::CreateWindowExW(kExStyle, kClassName, caption.c_str(), kStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, this);
  if (hwnd == nullptr) return false;
  window.reset(hwnd);
  ::SendMessageW(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon.get()));
  ::SendMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon.get()));
  CreateControls();
  ApplyDpi(static_cast<int>(::GetDpiForWindow(hwnd)));
  SizeForStart();
  return true;
}

void frmCleanup::Impl::CreateControls() {
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  for (const ControlSpec& row : kControls) {
    const ControlClass cls = ClassOf(row);
    const std::wstring caption = Wide(row.caption);
    controls[Index(row.control)] = ::CreateWindowExW(
        cls.exStyle, cls.className, caption.c_str(), cls.style, 0, 0, 0, 0, window.get(),
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstId + Index(row.control))), instance,
        nullptr);
  }
  ::SendMessageW(At(Control::chkHH), BM_SETCHECK, BST_CHECKED, 0);
  // No limit on the results box beyond the control's own.
  ::SendMessageW(At(Control::txtResult), EM_SETLIMITTEXT, 0, 0);
  // Tab and the labels' access keys follow the window order: put it in tab index order.
  std::array<HWND, kControlCount> byTab{};
  for (const ControlSpec& row : kControls) byTab[row.tabIndex] = At(row.control);
  HWND after = HWND_TOP;
  for (HWND h : byTab) {
    ::SetWindowPos(h, after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    after = h;
  }
  lastFocus = At(Control::cmdOK);
}

void frmCleanup::Impl::ApplyDpi(int newDpi) {
  dpi = newDpi > 0 ? newDpi : USER_DEFAULT_SCREEN_DPI;
  FontHandle newFont = DialogFont(dpi);
  for (HWND h : controls) {
    ::SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(newFont.get()), FALSE);
  }
  font = std::move(newFont);
}

void frmCleanup::Impl::SizeForStart() {
  RECT r{0, 0, PixelsFromTwips(kStartClientWidth, dpi), PixelsFromTwips(kStartClientHeight, dpi)};
  ::AdjustWindowRectExForDpi(&r, kStyle, FALSE, kExStyle, static_cast<UINT>(dpi));
  ::SetWindowPos(window.get(), nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  RECT client{};
  ::GetClientRect(window.get(), &client);
  // The size may have been right already, in which case no WM_SIZE came.
  Form_Resize(client.right, client.bottom, ::IsIconic(window.get()) != FALSE);
}

void frmCleanup::Impl::Form_Resize(int clientWidth, int clientHeight, bool minimised) {
  if (!window) return;
  // A minimised window has no client area.
  const float width = minimised ? 0 : TwipsFromPixels(clientWidth, dpi, kStartClientWidth);
  const float height = minimised ? 0 : TwipsFromPixels(clientHeight, dpi, kStartClientHeight);
  twips = oa::console::Form_Resize(width, height, twips);
  PlaceControls();
}

void frmCleanup::Impl::PlaceControls() {
  for (std::size_t i = 0; i < kControlCount; ++i) {
    const PixelRect p = PixelsFromGeometry(twips[i], dpi);
    RECT now{};
    ::GetWindowRect(controls[i], &now);
    ::MapWindowPoints(HWND_DESKTOP, window.get(), reinterpret_cast<POINT*>(&now), 2);
    if (now.left == p.x && now.top == p.y && now.right - now.left == p.width &&
        now.bottom - now.top == p.height) {
      continue;
    }
    ::MoveWindow(controls[i], p.x, p.y, p.width, p.height, TRUE);
  }
}

void frmCleanup::Impl::MoveFocus(HWND target) {
  if (target == nullptr) return;
  ::SetFocus(target);
  // As in a dialog: a box reached by the keyboard has its text selected, ready to be typed over.
  if (::SendMessageW(target, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL) {
    ::SendMessageW(target, EM_SETSEL, 0, -1);
  }
}

frmCleanup::frmCleanup(ActivityLog log)
    : form_(std::make_unique<Form>(*this, std::move(log))), impl_(std::make_unique<Impl>(*this)) {
  INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&icc);
  if (!impl_->Create()) impl_->window.reset();
}

frmCleanup::~frmCleanup() = default;

bool frmCleanup::Created() const {
  return impl_->window != nullptr;
}

Form& frmCleanup::form() {
  return *form_;
}

void frmCleanup::Load() {
  // Windows has its registry: there are no export files to name.
  form_->Form_Load(settings::RegistryFiles{});
}

void frmCleanup::Show(int showCommand) {
  ::ShowWindow(impl_->window.get(), showCommand);
  ::UpdateWindow(impl_->window.get());
  ::SetFocus(impl_->At(Control::cmdOK));
}

bool frmCleanup::Closed() const {
  return impl_->closed;
}

HWND frmCleanup::Handle() const {
  return impl_->window.get();
}

HWND frmCleanup::Handle(Control c) const {
  return impl_->At(c);
}

int frmCleanup::Dpi() const {
  return impl_->dpi;
}

const Geometry& frmCleanup::TwipGeometry(Control c) const {
  return impl_->twips[Index(c)];
}

std::string frmCleanup::ResultsText() const {
  return WindowText(impl_->At(Control::txtResult));
}

std::string frmCleanup::Text(Control control) {
  return WindowText(impl_->At(control));
}

void frmCleanup::SetText(Control control, const std::string& text) {
  const std::wstring wide = control == Control::txtResult ? Wide(WithCrLf(text)) : Wide(text);
  ::SetWindowTextW(impl_->At(control), wide.c_str());
}

int frmCleanup::Value(Control control) {
  if (control != Control::chkHH) return 0;
  return ::SendMessageW(impl_->At(control), BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
}

void frmCleanup::SetFocus(Control control) {
  ::SetFocus(impl_->At(control));
}

void frmCleanup::ClearResults() {
  ::SetWindowTextW(impl_->At(Control::txtResult), L"");
}

void frmCleanup::AppendResult(const std::string& line) {
  HWND box = impl_->At(Control::txtResult);
  // Added at the end through a selection of its own, then the user's selection and scroll
  // position are put back: the caret does not move and the box does not jump to its end.
  DWORD selStart = 0;
  DWORD selEnd = 0;
  ::SendMessageW(box, EM_GETSEL, reinterpret_cast<WPARAM>(&selStart),
                 reinterpret_cast<LPARAM>(&selEnd));
  const LRESULT firstLine = ::SendMessageW(box, EM_GETFIRSTVISIBLELINE, 0, 0);
  const int firstColumn = ::GetScrollPos(box, SB_HORZ);
  ::SendMessageW(box, WM_SETREDRAW, FALSE, 0);
  const int end = ::GetWindowTextLengthW(box);
  ::SendMessageW(box, EM_SETSEL, end, end);
  const std::wstring text = Wide(WithCrLf(line) + "\r\n");
  ::SendMessageW(box, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
  ::SendMessageW(box, EM_SETSEL, selStart, selEnd);
  const LRESULT nowFirst = ::SendMessageW(box, EM_GETFIRSTVISIBLELINE, 0, 0);
  if (nowFirst != firstLine) ::SendMessageW(box, EM_LINESCROLL, 0, firstLine - nowFirst);
  if (::GetScrollPos(box, SB_HORZ) != firstColumn) {
    ::SendMessageW(box, WM_HSCROLL, MAKEWPARAM(SB_THUMBPOSITION, firstColumn), 0);
  }
  ::SendMessageW(box, WM_SETREDRAW, TRUE, 0);
  ::InvalidateRect(box, nullptr, TRUE);
}

void frmCleanup::RepaintResults() {
  ::RedrawWindow(impl_->At(Control::txtResult), nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_UPDATENOW);
}

void frmCleanup::SetProgress(const std::string& caption) {
  HWND label = impl_->At(Control::lblProgress);
  ::SetWindowTextW(label, Wide(caption).c_str());
  ::RedrawWindow(label, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

void frmCleanup::DoEvents() {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // Left for the message loop, which ends once the run has unwound.
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    if (impl_->window == nullptr || !::IsDialogMessageW(impl_->window.get(), &msg)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
  }
}

void frmCleanup::MsgBox(const std::string& text) {
  // Once the window has been unloaded a run that is still unwinding shows nothing more.
  if (impl_->closed || form_->Unloaded()) return;
  if (showMessageBox) {
    showMessageBox(text);
    return;
  }
  ::MessageBoxW(impl_->window.get(), Wide(text).c_str(), Wide(kMsgBoxTitle).c_str(),
                MB_OK | MB_ICONSTOP | MB_APPLMODAL);
}

void frmCleanup::CloseWindow() {
  if (impl_->closed) return;
  impl_->closed = true;
  // Hidden, not destroyed: a run may still be on the stack and write to the controls.
  ::ShowWindow(impl_->window.get(), SW_HIDE);
  ::PostQuitMessage(0);
}

int MessageLoop(frmCleanup& window) {
  MSG msg{};
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (!::IsDialogMessageW(window.Handle(), &msg)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
  }
  return 0;
}

}  // namespace oa::win32
