// The Win32 window as built, under Wine on a real X display: caption, icon, the nine controls
// with their classes, captions and pixels at the window's DPI, tab order, the access keys as the
// dialog manager handles them, the resize rule, the results box and the message box.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "console/win32/busy_wait.h"
#include "console/win32/frmCleanup.h"
#include "console/win32/twips.h"
#include "console/win32/wide_text.h"
#include "mailbox/backends.h"
#include "mailbox/remote/waiter.h"

namespace oa::win32 {

using console::ActivityLog;
using console::Control;
using console::ControlKind;
using console::ControlSpec;
using console::Geometry;
using console::Index;
using console::kControlCount;
using console::kControls;
using console::Layout;

namespace {

class Win32WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    log = std::filesystem::temp_directory_path() /
          ("oa-win32-window-" + std::to_string(::GetCurrentProcessId()) + ".log");
    window = std::make_unique<frmCleanup>(ActivityLog(log.string()));
    ASSERT_TRUE(window->Created()) << "no window system (is DISPLAY set?)";
    window->showMessageBox = [this](const std::string& text) { boxes.push_back(text); };
    window->Show(SW_SHOWNORMAL);
    window->DoEvents();
  }
  void TearDown() override {
    window.reset();
    // An unload leaves the program's quit message; the next window of this process starts anew.
    MSG quit;
    while (::PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
    std::error_code ec;
    std::filesystem::remove(log, ec);
  }

  HWND H(Control c) const { return window->Handle(c); }
  PixelRect ClientRectOf(HWND h) const {
    RECT r{};
    ::GetWindowRect(h, &r);
    ::MapWindowPoints(HWND_DESKTOP, window->Handle(), reinterpret_cast<POINT*>(&r), 2);
    return {r.left, r.top, r.right - r.left, r.bottom - r.top};
  }
  // Sets the client area to exactly width x height pixels.
  void ResizeClient(int width, int height) {
    RECT r{0, 0, width, height};
    ::AdjustWindowRectExForDpi(
        &r, static_cast<DWORD>(::GetWindowLongW(window->Handle(), GWL_STYLE)), FALSE,
        static_cast<DWORD>(::GetWindowLongW(window->Handle(), GWL_EXSTYLE)),
        static_cast<UINT>(window->Dpi()));
    ::SetWindowPos(window->Handle(), nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
                   SWP_NOMOVE | SWP_NOZORDER);
    window->DoEvents();
  }
  // What the dialog manager gets for Alt+key, sent to the control with the focus.
  bool AltKey(wchar_t key) {
    MSG msg{::GetFocus(), WM_SYSCHAR, static_cast<WPARAM>(key), 1 << 29, 0, {}};
    return ::IsDialogMessageW(window->Handle(), &msg) != FALSE;
  }

  // Pixels the caption needs in the control's font, with the box of a check box.
  int CaptionWidth(HWND h, const ControlSpec& row) const {
    std::wstring text = Wide(row.caption);
    std::erase(text, L'&');
    HDC dc = ::GetDC(h);
    HGDIOBJ old =
        ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(::SendMessageW(h, WM_GETFONT, 0, 0)));
    SIZE size{};
    ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    ::SelectObject(dc, old);
    ::ReleaseDC(h, dc);
    if (row.kind == ControlKind::CheckBox) {
      size.cx += ::GetSystemMetricsForDpi(SM_CXMENUCHECK, static_cast<UINT>(window->Dpi())) + 4;
    }
    return size.cx;
  }

  std::filesystem::path log;
  std::unique_ptr<frmCleanup> window;
  std::vector<std::string> boxes;
};

TEST_F(Win32WindowTest, CaptionFrameIconAndStartClientSize) {
  EXPECT_EQ(WindowText(window->Handle()), "ondavel Agent  Cleanup");
  const LONG style = ::GetWindowLongW(window->Handle(), GWL_STYLE);
  for (LONG bit : {WS_THICKFRAME, WS_MINIMIZEBOX, WS_MAXIMIZEBOX, WS_CLIPCHILDREN}) {
    EXPECT_TRUE(style & bit) << std::hex << bit;
  }
  RECT client{};
  ::GetClientRect(window->Handle(), &client);
  EXPECT_EQ(client.right, PixelsFromTwips(5685, window->Dpi()));
  EXPECT_EQ(client.bottom, PixelsFromTwips(4380, window->Dpi()));
  EXPECT_NE(::SendMessageW(window->Handle(), WM_GETICON, ICON_BIG, 0), 0);

  // The icon resource: one image, 32 x 32, 8 bits a pixel.
  HRSRC group = ::FindResourceW(nullptr, MAKEINTRESOURCEW(1), RT_GROUP_ICON);
  ASSERT_NE(group, nullptr);
  const auto* dir = static_cast<const BYTE*>(::LockResource(::LoadResource(nullptr, group)));
  ASSERT_NE(dir, nullptr);
  EXPECT_EQ(dir[4] | dir[5] << 8, 1) << "images in the icon";
  EXPECT_EQ(dir[6], 32);
  EXPECT_EQ(dir[7], 32);
  EXPECT_EQ(dir[12] | dir[13] << 8, 8) << "bits a pixel";
  const int imageId = dir[18] | dir[19] << 8;
  HRSRC image = ::FindResourceW(nullptr, MAKEINTRESOURCEW(imageId), RT_ICON);
  ASSERT_NE(image, nullptr);
  const auto* header =
      static_cast<const BITMAPINFOHEADER*>(::LockResource(::LoadResource(nullptr, image)));
  EXPECT_EQ(header->biWidth, 32);
  EXPECT_EQ(header->biBitCount, 8);
}

TEST_F(Win32WindowTest, NineControlsWithClassesCaptionsAndTheGridInPixels) {
  const int dpi = window->Dpi();
  for (const ControlSpec& row : kControls) {
    HWND h = H(row.control);
    ASSERT_NE(h, nullptr) << row.name;
    EXPECT_EQ(::GetParent(h), window->Handle());
    wchar_t cls[32] = {};
    ::GetClassNameW(h, cls, 32);
    const std::wstring expected = row.kind == ControlKind::TextBox ? L"Edit"
                                  : row.kind == ControlKind::Label ? L"Static"
                                                                   : L"Button";
    EXPECT_EQ(_wcsicmp(cls, expected.c_str()), 0) << row.name;
    EXPECT_EQ(window->Text(row.control), row.caption) << row.name;
    EXPECT_TRUE(::IsWindowVisible(h)) << row.name;
    EXPECT_TRUE(::IsWindowEnabled(h)) << row.name;
    Geometry g = row.geometry;
    if (row.control == Control::txtResult) g.Height = 3060;  // the first resize: 4380-1200-120
    EXPECT_EQ(window->TwipGeometry(row.control), g) << row.name;
    EXPECT_EQ(ClientRectOf(h), PixelsFromGeometry(g, dpi)) << row.name;
    EXPECT_NE(::SendMessageW(h, WM_GETFONT, 0, 0), 0) << row.name;
    if (row.kind != ControlKind::TextBox && *row.caption != '\0') {
      EXPECT_LE(CaptionWidth(h, row), PixelsFromGeometry(g, dpi).width) << row.name;
    }
  }
  EXPECT_EQ(window->Value(Control::chkHH), 1);
  const LONG result = ::GetWindowLongW(H(Control::txtResult), GWL_STYLE);
  for (LONG bit : {ES_MULTILINE, ES_READONLY, WS_HSCROLL, WS_VSCROLL}) {
    EXPECT_TRUE(result & bit) << std::hex << bit;
  }
  for (Control c : {Control::cmdOK, Control::cmdCancel}) {
    EXPECT_EQ(::GetWindowLongW(H(c), GWL_STYLE) & BS_TYPEMASK, BS_PUSHBUTTON);
  }
}

TEST_F(Win32WindowTest, FocusStartsOnOkAndTabCyclesTheFocusableControls) {
  EXPECT_EQ(::GetFocus(), H(Control::cmdOK));
  HWND at = H(Control::cmdOK);
  for (Control next : {Control::cmdCancel, Control::chkHH, Control::txtAlias, Control::txtExServer,
                       Control::txtResult, Control::cmdOK}) {
    at = ::GetNextDlgTabItem(window->Handle(), at, FALSE);
    EXPECT_EQ(at, H(next)) << kControls[Index(next)].name;
  }
  // Tab itself, through the dialog manager.
  MSG tab{H(Control::cmdOK), WM_KEYDOWN, VK_TAB, 0, 0, {}};
  ::SetFocus(H(Control::cmdOK));
  EXPECT_TRUE(::IsDialogMessageW(window->Handle(), &tab));
  EXPECT_EQ(::GetFocus(), H(Control::cmdCancel));
}

TEST_F(Win32WindowTest, AccessKeysMoveToTheBoxesToggleTheCheckBoxAndClick) {
  window->SetText(Control::txtExServer, "exch01");
  EXPECT_TRUE(AltKey(L'x'));
  EXPECT_EQ(::GetFocus(), H(Control::txtExServer));
  // Reached by its label's key, the box has its text selected, to be typed over.
  DWORD from = 1, to = 0;
  ::SendMessageW(H(Control::txtExServer), EM_GETSEL, reinterpret_cast<WPARAM>(&from),
                 reinterpret_cast<LPARAM>(&to));
  EXPECT_EQ(from, 0u);
  EXPECT_EQ(to, 6u);
  EXPECT_TRUE(AltKey(L'm'));
  EXPECT_EQ(::GetFocus(), H(Control::txtAlias));
  EXPECT_TRUE(AltKey(L'h'));
  window->DoEvents();
  EXPECT_EQ(::GetFocus(), H(Control::chkHH));
  EXPECT_EQ(window->Value(Control::chkHH), 0);
  EXPECT_TRUE(AltKey(L'o'));
  window->DoEvents();
  EXPECT_EQ(boxes, std::vector<std::string>{"You must supply the mailbox alias or address!"});
  EXPECT_EQ(::GetFocus(), H(Control::txtAlias));
  EXPECT_FALSE(window->Closed());
  EXPECT_TRUE(AltKey(L'c'));
  window->DoEvents();
  EXPECT_TRUE(window->Closed());
  EXPECT_TRUE(window->form().run().bCancel);
  EXPECT_FALSE(::IsWindowVisible(window->Handle()));
}

TEST_F(Win32WindowTest, EnterAndEscapeClickNoButton) {
  ::SetFocus(H(Control::txtExServer));
  for (WPARAM key : {VK_RETURN, VK_ESCAPE}) {
    MSG msg{H(Control::txtExServer), WM_KEYDOWN, key, 0, 0, {}};
    ::IsDialogMessageW(window->Handle(), &msg);
    MSG ch{H(Control::txtExServer), WM_CHAR, key == VK_RETURN ? L'\r' : L'\x1b', 0, 0, {}};
    ::IsDialogMessageW(window->Handle(), &ch);
  }
  window->DoEvents();
  EXPECT_TRUE(boxes.empty());
  EXPECT_FALSE(window->Closed());
  EXPECT_FALSE(window->form().run().bCancel);
}

TEST_F(Win32WindowTest, ResizingAppliesTheRuleInTwipsAndMinimiseRestores) {
  const int dpi = window->Dpi();
  Layout expected{};
  for (std::size_t i = 0; i < kControlCount; ++i) {
    expected[i] = window->TwipGeometry(static_cast<Control>(i));
  }
  const int startWidth = PixelsFromTwips(5685, dpi);
  const int startHeight = PixelsFromTwips(4380, dpi);
  const std::vector<std::pair<int, int>> sizes = {
      {800, 600}, {200, 500}, {startWidth + 1, startHeight}, {640, 80}, {startWidth, startHeight}};
  for (const auto& [w, h] : sizes) {
    ResizeClient(w, h);
    RECT client{};
    ::GetClientRect(window->Handle(), &client);
    ASSERT_EQ(client.right, w);
    ASSERT_EQ(client.bottom, h);
    expected = Form_Resize(TwipsFromPixels(w, dpi, 5685), TwipsFromPixels(h, dpi, 4380), expected);
    for (const ControlSpec& row : kControls) {
      EXPECT_EQ(window->TwipGeometry(row.control), expected[Index(row.control)])
          << row.name << " at " << w << "x" << h;
      EXPECT_EQ(ClientRectOf(H(row.control)), PixelsFromGeometry(expected[Index(row.control)], dpi))
          << row.name << " at " << w << "x" << h;
    }
  }
  EXPECT_EQ(window->TwipGeometry(Control::cmdOK).Left, 4680);

  ResizeClient(800, 600);
  ::ShowWindow(window->Handle(), SW_MINIMIZE);
  window->DoEvents();
  EXPECT_EQ(window->TwipGeometry(Control::txtResult).Height, 3015);
  EXPECT_EQ(window->TwipGeometry(Control::cmdOK).Left, 4680);
  ::ShowWindow(window->Handle(), SW_RESTORE);
  window->DoEvents();
  EXPECT_EQ(window->TwipGeometry(Control::cmdOK).Left, TwipsFromPixels(800, dpi, 5685) - 975);
}

TEST_F(Win32WindowTest, ResultsBoxGetsLinesWithoutMovingTheCaretAndIsLocked) {
  window->form().WriteLog("first line");
  ::SendMessageW(H(Control::txtResult), EM_SETSEL, 2, 5);
  window->form().WriteLog("second line\r\nwith a line of its own");
  window->form().WriteLog("");
  EXPECT_EQ(window->ResultsText(), "first line\r\nsecond line\r\nwith a line of its own\r\n\r\n");
  DWORD from = 0, to = 0;
  ::SendMessageW(H(Control::txtResult), EM_GETSEL, reinterpret_cast<WPARAM>(&from),
                 reinterpret_cast<LPARAM>(&to));
  EXPECT_EQ(from, 2u);
  EXPECT_EQ(to, 5u);
  // Typing does not change it.
  ::SendMessageW(H(Control::txtResult), WM_CHAR, L'z', 0);
  EXPECT_EQ(window->ResultsText().substr(0, 12), "first line\r\n");
  window->form().WriteLog("", true);
  EXPECT_EQ(window->ResultsText(), "");

  window->SetProgress("Count = 12 & more");
  EXPECT_EQ(window->Text(Control::lblProgress), "Count = 12 & more");
}

bool Shown(HWND h) {
  return h != nullptr && ::IsWindowVisible(h);
}

TEST_F(Win32WindowTest, MessageBoxIsApplicationModalCriticalWithItsTitle) {
  window->showMessageBox = nullptr;
  std::atomic<bool> ownerDisabled{false};
  std::atomic<bool> critical{false};  // an icon and one OK button
  std::atomic<bool> answered{false};
  std::thread answer([&] {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
      HWND box = ::FindWindowW(L"#32770", L"ondavelAgent Administrator");
      if (box != nullptr && ::IsWindowVisible(box)) {
        ownerDisabled = !::IsWindowEnabled(window->Handle());
        // The stop icon (the icon control's ID differs between systems) and OK alone.
        HWND icon = ::GetDlgItem(box, 0x14);
        if (icon == nullptr) icon = ::GetDlgItem(box, 0x440);
        critical = icon != nullptr && ::IsWindowVisible(icon) &&
                   ::SendMessageW(icon, STM_GETICON, 0, 0) != 0 &&
                   !Shown(::GetDlgItem(box, IDCANCEL)) && Shown(::GetDlgItem(box, IDOK));
        ::PostMessageW(box, WM_COMMAND, IDOK, 0);
        answered = true;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  window->MsgBox("You must supply the Exchange Server name!");
  answer.join();
  EXPECT_TRUE(answered);
  EXPECT_TRUE(ownerDisabled);
  EXPECT_TRUE(critical);
  EXPECT_TRUE(::IsWindowEnabled(window->Handle()));
}

// During a wait for a busy server the window's messages are dispatched (a click on Cancel, a
// close, painting), and once the run is asked to stop the wait ends at once; the hooks go with
// their pump.
TEST_F(Win32WindowTest, BusyWaitDispatchesTheWindowsMessagesAndEndsOnClose) {
  mailbox::WaitHooks hooks;
  std::optional<BusyWaitPump> pump(std::in_place, *window, hooks);
  // A message the window gets only through the pump: its frame's close, posted from another
  // thread, as the window manager's would arrive.
  std::atomic<bool> posted{false};
  std::thread closer([&] { posted = ::PostMessageW(window->Handle(), WM_CLOSE, 0, 0) != FALSE; });
  closer.join();
  ASSERT_TRUE(posted);
  // Generous: the close is dispatched within the first round of the pump, a stop not taken
  // waits all of it.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(remote::WaitWithEvents(&hooks, std::chrono::seconds(120), {}),
            remote::WaitEnd::Cancelled);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
  EXPECT_TRUE(window->Closed());
  EXPECT_TRUE(window->form().Unloaded());
  EXPECT_FALSE(::IsWindowVisible(window->Handle()));
  // The check a request in flight asks from another thread sees the stop too.
  std::atomic<bool> requestCancelled{false};
  std::thread request([&] { requestCancelled = hooks.RequestCancelled(); });
  request.join();
  EXPECT_TRUE(requestCancelled);

  pump.reset();
  EXPECT_EQ(remote::WaitWithEvents(&hooks, std::chrono::milliseconds(60), {}),
            remote::WaitEnd::Elapsed);
  EXPECT_FALSE(hooks.RequestCancelled());
}

}  // namespace
}  // namespace oa::win32
