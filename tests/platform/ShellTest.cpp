// The shell's calls: "aygshell.dll" by ordinal, full-screen dialogs and the
// Done button, full-screen state, the input panel, "SIPPREF", tap-and-hold,
// the UI font size, small system icons, file-change notices, the wait cursor,
// font families and the system colours the programs use.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "platform/base/Module.h"
#include "platform/base/SysInfo.h"
#include "platform/controls/MenuBar.h"
#include "platform/controls/Shell.h"
#include "platform/controls/StandardControls.h"
#include "platform/files/Files.h"
#include "platform/imaging/Com.h"
#include "platform/ipc/Ipc.h"
#include "platform/windows/Cursor.h"
#include "platform/windows/SystemMetrics.h"
#include "tests/platform/WindowsTestSupport.h"
#include "tests/support/Pump.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDevice.h"

namespace plat {
// For the tests' comparisons.
bool operator==(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}
bool operator==(const POINT& a, const POINT& b) { return a.x == b.x && a.y == b.y; }
}  // namespace plat

namespace {

using namespace plat;

std::vector<NMRGINFO>* g_gestures = nullptr;
std::vector<UINT>* g_received = nullptr;

LRESULT ShellTestProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_NOTIFY && g_gestures) {
    const auto* nm = reinterpret_cast<const NMRGINFO*>(l);
    if (nm->hdr.code == GN_CONTEXTMENU) g_gestures->push_back(*nm);
  }
  if (g_received && m >= 0xC000) g_received->push_back(m);
  return DefWindowProcW(h, m, w, l);
}

class ShellTest : public orvtest::DeviceTest {
 protected:
  void SetUp() override {
    wmtest::EnsureClass(u"ShellTestWindow", &ShellTestProc);
    window_ = CreateWindowExW(0, u"ShellTestWindow", u"shell", WS_POPUP | WS_VISIBLE, 0, 0, ScreenWidth(),
                              ScreenHeight(), nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(window_);
    SetForegroundWindow(window_);
  }
  void TearDown() override {
    SetTapAndHoldTimeForTesting(kTapAndHoldMs);
    g_gestures = nullptr;
    g_received = nullptr;
    if (IsWindow(window_)) DestroyWindow(window_);
    ResetScreenForTesting();
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
  }
  // The stylus goes down at the screen point and the window takes the press
  // from its queue, as it does before it asks for the gesture.
  static void PressStylus(int x, int y) {
    ASSERT_TRUE(InjectStylus(WM_LBUTTONDOWN, x, y));
    MSG m{};
    ASSERT_TRUE(PeekMessageW(&m, nullptr, WM_LBUTTONDOWN, WM_LBUTTONDOWN, PM_REMOVE));
  }
  static void LiftStylus(int x, int y) {
    ASSERT_TRUE(InjectStylus(WM_LBUTTONUP, x, y));
    MSG m{};
    ASSERT_TRUE(PeekMessageW(&m, nullptr, WM_LBUTTONUP, WM_LBUTTONUP, PM_REMOVE));
  }
  HWND window_ = nullptr;
};

TEST_F(ShellTest, OrdinalsOfTheShellLibrary) {
  HMODULE shell = LoadLibraryW(u"aygshell.dll");
  ASSERT_TRUE(shell);
  struct Case {
    std::uintptr_t ordinal;
    FARPROC expected;
  };
  const Case cases[] = {
      {4, reinterpret_cast<FARPROC>(&SHSipInfo)},          {9, reinterpret_cast<FARPROC>(&SHInitExtraControls)},
      {40, reinterpret_cast<FARPROC>(&SHRecognizeGesture)}, {56, reinterpret_cast<FARPROC>(&SHInitDialog)},
      {65, reinterpret_cast<FARPROC>(&SHFullScreen)},      {69, reinterpret_cast<FARPROC>(&SHSipPreference)},
      {88, reinterpret_cast<FARPROC>(&SHSetWindowState)},  {183, reinterpret_cast<FARPROC>(&SHDoneButton)},
      {188, reinterpret_cast<FARPROC>(&SHFindMenuBar)},    {312, reinterpret_cast<FARPROC>(&SHGetUIMetrics)},
  };
  for (const Case& c : cases)
    EXPECT_EQ(GetProcAddress(shell, reinterpret_cast<const char*>(c.ordinal)), c.expected) << c.ordinal;
  EXPECT_EQ(GetProcAddress(shell, reinterpret_cast<const char*>(std::uintptr_t{5})), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
  FreeLibrary(shell);
}

TEST_F(ShellTest, InitDialogPlacesTheDialogAndShowsItsButtons) {
  struct Case {
    int w, h, dpi;
    DWORD flags;
    RECT rect;
    DWORD done;
    bool menuBar;
  };
  const Case cases[] = {
      {240, 320, 96, 13, {0, 0, 240, 294}, SHDB_SHOW, false},  // full screen, Done, panel down
      {480, 640, 192, 13, {0, 0, 480, 588}, SHDB_SHOW, false},
      {480, 640, 192, 132, {0, 0, 480, 588}, SHDB_SHOWCANCEL, false},  // the modeless form
      {640, 480, 192, SHIDIF_FULLSCREENNOMENUBAR | SHIDIF_EMPTYMENU, {0, 0, 640, 480}, SHDB_HIDE, true},
  };
  for (const Case& c : cases) {
    SetScreenForTesting(c.w, c.h, c.dpi);
    HWND dialog = CreateWindowExW(0, u"ShellTestWindow", u"dialog", WS_POPUP | WS_VISIBLE, 10, 10, 50, 50, nullptr,
                                  nullptr, nullptr, nullptr);
    SHINITDLGINFO info{SHIDIM_FLAGS, dialog, c.flags};
    ASSERT_TRUE(SHInitDialog(&info)) << c.flags;
    RECT r{};
    GetWindowRect(dialog, &r);
    EXPECT_EQ(r, c.rect) << c.flags << " at " << c.w << "x" << c.h;
    EXPECT_EQ(SHGetDoneButtonState(dialog), c.done) << c.flags;
    EXPECT_EQ(SHFindMenuBar(dialog) != nullptr, c.menuBar) << c.flags;
    DestroyWindow(dialog);
  }
  SHINITDLGINFO child{SHIDIM_FLAGS, nullptr, 13};
  EXPECT_FALSE(SHInitDialog(&child));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(SHInitDialog(nullptr));
}

TEST_F(ShellTest, DoneButtonAndFullScreenStateFollowTheirCalls) {
  EXPECT_EQ(SHGetDoneButtonState(window_), SHDB_HIDE);
  EXPECT_TRUE(SHDoneButton(window_, SHDB_SHOW));
  EXPECT_EQ(SHGetDoneButtonState(window_), SHDB_SHOW);
  EXPECT_FALSE(SHDoneButton(window_, 7));
  EXPECT_EQ(SHGetDoneButtonState(window_), SHDB_SHOW);
  EXPECT_FALSE(SHDoneButton(nullptr, SHDB_HIDE));

  struct Step {
    DWORD flags;
    BOOL ok;
    DWORD hidden;  // afterwards
  };
  const Step steps[] = {
      {SHFS_HIDETASKBAR | SHFS_HIDESIPBUTTON, TRUE, SHFS_HIDETASKBAR | SHFS_HIDESIPBUTTON},  // 10
      {SHFS_SHOWSIPBUTTON, TRUE, SHFS_HIDETASKBAR},                                           // 4
      {SHFS_SHOWTASKBAR | SHFS_HIDETASKBAR, FALSE, SHFS_HIDETASKBAR},                         // both: refused
      {0x100, FALSE, SHFS_HIDETASKBAR},                                                       // unknown
      {SHFS_HIDESTARTICON, TRUE, SHFS_HIDETASKBAR | SHFS_HIDESTARTICON},
      {SHFS_SHOWTASKBAR | SHFS_SHOWSTARTICON, TRUE, 0},
  };
  for (const Step& s : steps) {
    EXPECT_EQ(SHFullScreen(window_, s.flags), s.ok) << s.flags;
    EXPECT_EQ(SHGetFullScreenState(window_), s.hidden) << s.flags;
  }
  EXPECT_TRUE(SHSetWindowState(window_, SHFS_HIDESIPBUTTON));
  EXPECT_EQ(SHGetFullScreenState(window_), SHFS_HIDESIPBUTTON);
  EXPECT_FALSE(SHFullScreen(ValueToHandle(0x7FFFFFF0), SHFS_HIDETASKBAR));
  EXPECT_TRUE(SHSipPreference(window_, SIP_INPUTDIALOG));
  EXPECT_FALSE(SHSipPreference(window_, static_cast<SIPSTATE>(9)));
}

TEST_F(ShellTest, InputPanelInformationShowsTheScreenAboveTheMenuBar) {
  struct Case {
    int w, h, dpi;
    RECT visible;
  };
  for (const Case& c : {Case{240, 320, 96, {0, 0, 240, 294}}, Case{480, 640, 192, {0, 0, 480, 588}},
                        Case{640, 480, 192, {0, 0, 640, 428}}}) {
    SetScreenForTesting(c.w, c.h, c.dpi);
    SIPINFO si{};
    si.cbSize = sizeof si;
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETSIPINFO, sizeof si, &si, 0));
    EXPECT_EQ(si.fdwFlags & SIPF_ON, 0u);
    EXPECT_EQ(si.rcVisibleDesktop, c.visible) << c.w << "x" << c.h;
    EXPECT_EQ(si.rcSipRect.bottom, c.visible.bottom);
    EXPECT_LT(si.rcSipRect.top, si.rcSipRect.bottom);
    // Asking for the panel changes nothing: there is none.
    si.fdwFlags |= SIPF_ON;
    EXPECT_TRUE(SystemParametersInfoW(SPI_SETSIPINFO, sizeof si, &si, 0));
    SIPINFO again{};
    again.cbSize = sizeof again;
    ASSERT_TRUE(SHSipInfo(SPI_GETSIPINFO, sizeof again, &again, 0));
    EXPECT_EQ(again.fdwFlags & SIPF_ON, 0u);
  }
  SIPINFO bad{};
  bad.cbSize = 12;
  EXPECT_FALSE(SystemParametersInfoW(SPI_GETSIPINFO, sizeof bad, &bad, 0));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(SystemParametersInfoW(SPI_GETSIPINFO, 0, nullptr, 0));
}

TEST_F(ShellTest, SipPrefIsAnInvisibleChildThatDoesNothing) {
  ASSERT_TRUE(SHInitExtraControls());
  ASSERT_TRUE(SHInitExtraControls());  // again: still fine
  HWND sip = CreateWindowExW(0, kSipPrefClassName, u"", WS_CHILD, 0, 0, 0, 0, window_, nullptr, nullptr, nullptr);
  ASSERT_TRUE(sip);
  EXPECT_FALSE(IsWindowVisible(sip));
  EXPECT_EQ(SendMessageW(sip, WM_USER + 1, 1, 2), 0);
  EXPECT_TRUE(DestroyWindow(sip));
}

TEST_F(ShellTest, TapAndHoldNeedsTheStylusHeldStill) {
  SetScreenForTesting(480, 640, 192);
  SetTapAndHoldTimeForTesting(0);
  const int slack = GetSystemMetrics(SM_CXDRAG);
  struct Case {
    const char* what;
    std::vector<std::pair<UINT, POINT>> queued;  // stylus input waiting in the queue
    DWORD answer;
    UINT left;  // the first message left in the queue (0: none)
  };
  const Case cases[] = {
      {"held still", {}, GN_CONTEXTMENU, 0},
      {"trembling within the slack", {{WM_MOUSEMOVE, {100 + slack, 100 - slack}}}, GN_CONTEXTMENU, 0},
      {"let go", {{WM_LBUTTONUP, {100, 100}}}, 0, WM_LBUTTONUP},
      {"dragged", {{WM_MOUSEMOVE, {100, 100 + slack + 1}}}, 0, WM_MOUSEMOVE},
      {"trembled, then let go", {{WM_MOUSEMOVE, {101, 100}}, {WM_LBUTTONUP, {101, 100}}}, 0, WM_LBUTTONUP},
  };
  for (const Case& c : cases) {
    PressStylus(100, 100);
    for (const auto& [msg, at] : c.queued) ASSERT_TRUE(InjectStylus(msg, at.x, at.y));
    SHRGINFO info{sizeof(SHRGINFO), window_, {100, 100}, SHRG_RETURNCMD};
    EXPECT_EQ(SHRecognizeGesture(&info), c.answer) << c.what;
    MSG m{};
    const bool left = PeekMessageW(&m, nullptr, WM_MOUSEFIRST, WM_MOUSELAST, PM_REMOVE);
    EXPECT_EQ(left ? m.message : 0u, c.left) << c.what;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
  }
  // A stylus already lifted (a tap, its release taken) holds nothing: no
  // wait for the hold time, no gesture.
  SetTapAndHoldTimeForTesting(60000);
  PressStylus(100, 100);
  LiftStylus(100, 100);
  SHRGINFO info{sizeof(SHRGINFO), window_, {100, 100}, SHRG_RETURNCMD};
  EXPECT_EQ(SHRecognizeGesture(&info), 0u);
  // A key ends it as well.
  SetTapAndHoldTimeForTesting(0);
  PressStylus(100, 100);
  ASSERT_TRUE(InjectKey(VK_DOWN, true));
  EXPECT_EQ(SHRecognizeGesture(&info), 0u);
  LiftStylus(100, 100);
  info.cbSize = 12;
  EXPECT_EQ(SHRecognizeGesture(&info), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(ShellTest, TapAndHoldWaitsForTheStylusAndTellsTheParent) {
  HWND child = CreateWindowExW(0, u"ShellTestWindow", u"", WS_CHILD | WS_VISIBLE, 20, 30, 200, 200, window_,
                               reinterpret_cast<HMENU>(std::uintptr_t{77}), nullptr, nullptr);
  ASSERT_TRUE(child);
  std::vector<NMRGINFO> gestures;
  g_gestures = &gestures;
  SetTapAndHoldTimeForTesting(0);
  PressStylus(25, 36);
  SHRGINFO info{sizeof(SHRGINFO), child, {5, 6}, SHRG_NOTIFYPARENT};
  EXPECT_EQ(SHRecognizeGesture(&info), 1u);
  ASSERT_EQ(gestures.size(), 1u);
  EXPECT_EQ(gestures[0].hdr.hwndFrom, child);
  EXPECT_EQ(gestures[0].hdr.idFrom, 77u);
  EXPECT_EQ(gestures[0].ptAction, (POINT{25, 36}));

  // While the hold lasts, letting go from elsewhere ends the wait at once.
  SetTapAndHoldTimeForTesting(60000);
  PressStylus(25, 36);
  std::thread user([] { InjectStylus(WM_LBUTTONUP, 25, 36); });
  SHRGINFO held{sizeof(SHRGINFO), child, {5, 6}, SHRG_RETURNCMD};
  EXPECT_EQ(SHRecognizeGesture(&held), 0u);
  user.join();
}

TEST_F(ShellTest, UiFontSizeFollowsTheDeviceSetting) {
  struct Case {
    int dpi;
    DWORD percent;
    DWORD points, pixels;
  };
  const Case cases[] = {{96, 100, 9, 12}, {192, 100, 9, 24}, {96, 150, 14, 18}, {192, 150, 14, 36}, {192, 50, 5, 12}};
  for (const Case& c : cases) {
    SetScreenForTesting(480, 640, c.dpi);
    ASSERT_TRUE(SetUITextSizePercent(c.percent));
    DWORD value = 0, required = 0;
    ASSERT_EQ(SHGetUIMetrics(SHUIM_FONTSIZE_POINT, &value, sizeof value, &required), S_OK);
    EXPECT_EQ(value, c.points) << c.percent;
    ASSERT_EQ(SHGetUIMetrics(SHUIM_FONTSIZE_PIXEL, &value, sizeof value, &required), S_OK);
    EXPECT_EQ(value, c.pixels) << c.percent << " at " << c.dpi;
    ASSERT_EQ(SHGetUIMetrics(SHUIM_FONTSIZE_PERCENTAGE, &value, sizeof value, &required), S_OK);
    EXPECT_EQ(value, c.percent);
  }
  DWORD value = 0, required = 0;
  EXPECT_EQ(SHGetUIMetrics(SHUIM_FONTSIZE_PIXEL, &value, 2, &required), HRESULT_INSUFFICIENT_BUFFER);
  EXPECT_EQ(required, 4u);
  EXPECT_EQ(SHGetUIMetrics(SHUIM_FONTSIZE_PIXEL, nullptr, 0, &required), HRESULT_INSUFFICIENT_BUFFER);
  EXPECT_EQ(SHGetUIMetrics(7, &value, sizeof value, &required), E_INVALIDARG);
  EXPECT_FALSE(SetUITextSizePercent(400));
  EXPECT_EQ(GetUITextSizePercent(), 50u);
}

TEST_F(ShellTest, ChangingTheFontSizeTellsEveryWindow) {
  std::vector<UINT> received;
  g_received = &received;
  const UINT change = RegisterWindowMessageW(SH_UIMETRIC_CHANGE);
  ASSERT_TRUE(SetUITextSizePercent(125));
  EXPECT_TRUE(orvtest::PumpUntil([&] { return std::count(received.begin(), received.end(), change) > 0; }));
}

DWORD_PTR g_madeFrom = 0;
DWORD_PTR FakeImageList(const std::vector<HICON>& icons) {
  g_madeFrom = icons.size();
  return 0x1234;
}

TEST_F(ShellTest, SmallSystemIconsOfFilesAndFolders) {
  ASSERT_TRUE(CreateDirectoryW(u"\\Pictures", nullptr));
  for (const char16_t* name : {u"\\Pictures\\Beach.JPG", u"\\notes.txt"}) {
    HANDLE f = CreateFileW(name, GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    CloseHandle(f);
  }
  struct Case {
    const char16_t* path;
    DWORD attributes;
    UINT extra;
    int icon;
    const char16_t* type;
  };
  const Case cases[] = {
      {u"\\", 0, 0, kIconFolder, u"Folder"},
      {u"\\Pictures", 0, 0, kIconFolder, u"Folder"},
      {u"\\Pictures\\Beach.JPG", 0, 0, kIconImage, u"Picture"},
      {u"\\notes.txt", 0, 0, kIconFile, u"File"},
      {u"\\Nowhere\\Tool.exe", FILE_ATTRIBUTE_NORMAL, SHGFI_USEFILEATTRIBUTES, kIconProgram, u"Application"},
      {u"\\Nowhere\\Box", FILE_ATTRIBUTE_DIRECTORY, SHGFI_USEFILEATTRIBUTES, kIconFolder, u"Folder"},
  };
  for (const Case& c : cases) {
    SHFILEINFO sfi{};
    EXPECT_NE(SHGetFileInfo(c.path, c.attributes, &sfi, sizeof sfi, SHGFI_TYPENAME | c.extra), 0u);
    EXPECT_EQ(std::u16string(sfi.szTypeName), c.type);
    SHGetFileInfo(c.path, c.attributes, &sfi, sizeof sfi, SHGFI_SYSICONINDEX | SHGFI_SMALLICON | c.extra);
    EXPECT_EQ(sfi.iIcon, c.icon) << static_cast<int>(c.path[1]);
  }
  SHFILEINFO sfi{};
  EXPECT_EQ(SHGetFileInfo(u"\\missing.txt", 0, &sfi, sizeof sfi, SHGFI_TYPENAME), 0u);

  // The icon is a copy of the small system icon, at the small-icon size.
  ASSERT_NE(SHGetFileInfo(u"\\Pictures", 0, &sfi, sizeof sfi, SHGFI_ICON | SHGFI_SMALLICON), 0u);
  ASSERT_TRUE(sfi.hIcon);
  EXPECT_EQ(GetIconSize(sfi.hIcon).cx, GetSystemMetrics(SM_CXSMICON));
  EXPECT_NE(sfi.hIcon, SystemSmallIcons()[kIconFolder]);
  DestroyIcon(sfi.hIcon);

  // The system image list comes from the common controls' maker, once.
  SetSystemImageListMaker(&FakeImageList);
  EXPECT_EQ(SHGetFileInfo(u"\\", 0, &sfi, sizeof sfi, SHGFI_SYSICONINDEX | SHGFI_SMALLICON), 0x1234u);
  EXPECT_EQ(g_madeFrom, static_cast<DWORD_PTR>(kIconCount));
  SetSystemImageListMaker(nullptr);
}

struct Notice {
  LONG event;
  std::u16string path, old;
};
std::vector<Notice>* g_notices = nullptr;

LRESULT NoticeProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_FILECHANGEINFO) {
    auto* n = reinterpret_cast<FILECHANGENOTIFY*>(l);
    if (g_notices)
      g_notices->push_back({n->fci.wEventId, reinterpret_cast<const WCHAR*>(n->fci.dwItem1),
                            n->fci.dwItem2 ? reinterpret_cast<const WCHAR*>(n->fci.dwItem2) : u""});
    SHChangeNotifyFree(n);
    return 0;
  }
  return DefWindowProcW(h, m, w, l);
}

TEST_F(ShellTest, FileChangeNoticesForTheWatchedFolder) {
  wmtest::EnsureClass(u"ShellNoticeWindow", &NoticeProc);
  HWND all = CreateWindowExW(0, u"ShellNoticeWindow", u"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  HWND folders = CreateWindowExW(0, u"ShellNoticeWindow", u"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  ASSERT_TRUE(CreateDirectoryW(u"\\Watched", nullptr));
  ASSERT_TRUE(CreateDirectoryW(u"\\Other", nullptr));
  std::vector<Notice> notices;
  g_notices = &notices;
  WCHAR watched[] = u"\\Watched";
  SHCHANGENOTIFYENTRY everything{static_cast<DWORD>(SHCNE_ALLEVENTS), watched, TRUE};
  ASSERT_TRUE(SHChangeNotifyRegister(all, &everything));
  SHCHANGENOTIFYENTRY onlyFolders{0x000207F8, nullptr, TRUE};  // the folder tree's mask, the whole device
  ASSERT_TRUE(SHChangeNotifyRegister(folders, &onlyFolders));

  auto waitFor = [&](std::size_t count) { return orvtest::PumpUntil([&] { return notices.size() >= count; }); };
  ASSERT_TRUE(CreateDirectoryW(u"\\Other\\Elsewhere", nullptr));  // only the whole-device window hears it
  ASSERT_TRUE(waitFor(1));
  ASSERT_TRUE(CreateDirectoryW(u"\\Watched\\Sub", nullptr));  // both windows
  ASSERT_TRUE(waitFor(3));
  HANDLE f = CreateFileW(u"\\Watched\\Sub\\a.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  CloseHandle(f);
  ASSERT_TRUE(waitFor(5));  // created, then written and closed
  ASSERT_TRUE(MoveFileW(u"\\Watched\\Sub\\a.txt", u"\\Watched\\Sub\\b.txt"));
  ASSERT_TRUE(waitFor(6));
  ASSERT_TRUE(DeleteFileW(u"\\Watched\\Sub\\b.txt"));
  ASSERT_TRUE(waitFor(7));

  ASSERT_EQ(notices.size(), 7u);
  const std::vector<std::pair<LONG, std::u16string>> expected = {
      {SHCNE_MKDIR, u"\\Other\\Elsewhere"},       {SHCNE_MKDIR, u"\\Watched\\Sub"},
      {SHCNE_MKDIR, u"\\Watched\\Sub"},           {SHCNE_CREATE, u"\\Watched\\Sub\\a.txt"},
      {SHCNE_UPDATEITEM, u"\\Watched\\Sub\\a.txt"}, {SHCNE_RENAMEITEM, u"\\Watched\\Sub\\b.txt"},
      {SHCNE_DELETE, u"\\Watched\\Sub\\b.txt"},
  };
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(notices[i].event, expected[i].first) << i;
    EXPECT_EQ(notices[i].path, expected[i].second) << i;
  }
  EXPECT_EQ(notices[5].old, u"\\Watched\\Sub\\a.txt");

  WCHAR missing[] = u"\\Missing";
  SHCHANGENOTIFYENTRY bad{static_cast<DWORD>(SHCNE_ALLEVENTS), missing, TRUE};
  EXPECT_FALSE(SHChangeNotifyRegister(all, &bad));
  EXPECT_TRUE(SHChangeNotifyDeregister(all));
  EXPECT_TRUE(SHChangeNotifyDeregister(folders));
  EXPECT_FALSE(SHChangeNotifyDeregister(folders));
  g_notices = nullptr;
  DestroyWindow(all);
  DestroyWindow(folders);
}

std::uint16_t ScreenPixel(int x, int y) {
  DIBSECTION ds{};
  GetObjectW(ScreenBitmap(), sizeof ds, &ds);
  const auto* row = static_cast<const std::uint8_t*>(ds.dsBm.bmBits) + static_cast<std::size_t>(y) * ds.dsBm.bmWidthBytes;
  return reinterpret_cast<const std::uint16_t*>(row)[x];
}

TEST_F(ShellTest, WaitCursorShowsOnTheScreenUntilItsProgramLetsGo) {
  SetScreenForTesting(240, 320, 96);
  HCURSOR wait = LoadCursorW(nullptr, IDC_WAIT);
  ASSERT_TRUE(wait);
  EXPECT_EQ(LoadCursorW(nullptr, IDC_WAIT), wait);
  EXPECT_EQ(LoadCursorW(nullptr, MAKEINTRESOURCEW(32650)), nullptr);
  // A point on the ring: 11 px right of the centre at 96 DPI.
  const int x = 120 + 11, y = 160;
  ASSERT_TRUE(ComposeScreen());
  const std::uint16_t plain = ScreenPixel(x, y);

  HCURSOR before = SetCursor(wait);
  EXPECT_TRUE(WaitCursorShownOnDevice());
  ASSERT_TRUE(ComposeScreen());
  EXPECT_NE(ScreenPixel(x, y), plain);
  EXPECT_EQ(ScreenPixel(120, 160), plain);  // the middle of the ring stays clear
  EXPECT_EQ(SetCursor(before), wait);
  EXPECT_FALSE(WaitCursorShownOnDevice());
  ASSERT_TRUE(ComposeScreen());
  EXPECT_EQ(ScreenPixel(x, y), plain);

  // Another program that ends while it waits takes its wait cursor with it.
  orvtest::ChildProcess child([](orvtest::ChildContext& ctx) {
    SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    ctx.Ready();
    return ctx.WaitFor("end") ? 0 : 1;
  });
  ASSERT_TRUE(child.WaitReady());
  EXPECT_TRUE(WaitCursorShownOnDevice());
  child.Send("end");
  EXPECT_EQ(child.Wait(), 0);
  EXPECT_FALSE(WaitCursorShownOnDevice());
}

int CollectFamily(const LOGFONTW* lf, const TEXTMETRICW* tm, DWORD type, LPARAM l) {
  auto* names = reinterpret_cast<std::vector<std::u16string>*>(l);
  if (type == TRUETYPE_FONTTYPE && tm->tmHeight > 0) names->push_back(lf->lfFaceName);
  return names->size() < 2 ? 1 : 0;
}

TEST_F(ShellTest, FontFamiliesOfTheDevice) {
  HDC dc = GetDC(nullptr);
  std::vector<std::u16string> names;
  EXPECT_EQ(EnumFontFamiliesW(dc, nullptr, &CollectFamily, reinterpret_cast<LPARAM>(&names)), 0);  // stopped at 2
  EXPECT_EQ(names, (std::vector<std::u16string>{u"Courier New", u"Tahoma"}));
  names.clear();
  EXPECT_EQ(EnumFontFamiliesW(dc, u"times new roman", &CollectFamily, reinterpret_cast<LPARAM>(&names)), 1);
  EXPECT_EQ(names, std::vector<std::u16string>{u"Times New Roman"});
  names.clear();
  EXPECT_EQ(EnumFontFamiliesW(dc, u"Wingdings", &CollectFamily, reinterpret_cast<LPARAM>(&names)), 1);
  EXPECT_TRUE(names.empty());
  ReleaseDC(nullptr, dc);
}

TEST_F(ShellTest, SystemColoursTheProgramsUseHaveBrushes) {
  for (int index : {COLOR_MENUTEXT, COLOR_HIGHLIGHT, COLOR_HIGHLIGHTTEXT, COLOR_GRAYTEXT, COLOR_BTNHIGHLIGHT,
                    COLOR_INFOBK, COLOR_STATIC})
    EXPECT_TRUE(GetSysColorBrush(index)) << index;
  EXPECT_NE(GetSysColor(COLOR_INFOBK), GetSysColor(COLOR_INFOTEXT));
}

}  // namespace
