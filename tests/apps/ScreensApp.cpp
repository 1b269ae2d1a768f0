// A program with one full-screen window hosting a dialog manager and two
// layout screens made of filled boxes: "first" (red, a white square) and
// "second" (blue, a green panel). Return pushes the second screen with the
// push transition from the right (code 3); escape pops it with the push from
// the left (code 4); escape on the first screen ends the program. Each step
// is logged once the window shows its result:
//
//   ready <w> <h>                  the first screen is painted
//   push|pop <started 0/1>         a key began a step (started: a transition runs)
//   shown <screen> <frames>        the step is done and the window repainted
//   end <code>                     the program ends
//
//   orv-screensapp --log <host file>
#include <cstdio>
#include <string>

#include "layout/DialogManager.h"
#include "layout/ScreenScale.h"
#include "layout/UiKitModule.h"
#include "platform/windows/SystemMetrics.h"
#include "platform/windows/Windows.h"
#include "tests/apps/AppLog.h"
#include "tests/layout/ScreenParts.h"

namespace {

using namespace plat;
using orvapp::Log;
using layouttest::Box;
using layouttest::Fill;
using layouttest::OneLayout;

constexpr COLORREF kRed = 0x0000FF;
constexpr COLORREF kWhite = 0xFFFFFF;
constexpr COLORREF kBlue = 0xFF0000;
constexpr COLORREF kGreen = 0x00FF00;

CDialogManager* g_manager = nullptr;
std::u16string g_screen = u"first";

// The step that ran is done: the window shows the current screen.
void Shown(HWND hwnd) {
  UpdateWindow(hwnd);
  Log("shown %s %u", Utf16ToUtf8(g_screen).c_str(),
      static_cast<unsigned>(g_manager->GetAnimationRunner().GetFrameCount()));
}

// Shows the screen (pushed, or the one below when name is empty) with the
// transition of the code; without a transition the window is repainted at once.
void Step(HWND hwnd, const std::u16string& name, int code) {
  if (!g_manager->CaptureSnapshot()) return;
  const bool moved = name.empty() ? g_manager->Back() : g_manager->ShowLayout(name, kShowPush, nullptr);
  if (!moved) {
    g_manager->EndTransition();
    return;
  }
  g_screen = name.empty() ? u"first" : name;
  const bool started = g_manager->StartTransition(code, nullptr);
  Log("%s %d", name.empty() ? "pop" : "push", started ? 1 : 0);
  if (!started) {
    g_manager->EndTransition();
    Shown(hwnd);
  }
}

LRESULT WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_PAINT:
      g_manager->OnPaint();
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_KEYDOWN:
      // A key while a transition runs waits for the next press.
      if (g_manager->GetTransition()) return 0;
      if (wp == VK_RETURN && g_screen == u"first") Step(hwnd, u"second", 3);
      else if (wp == VK_ESCAPE && g_screen == u"second") Step(hwnd, u"", 4);
      else if (wp == VK_ESCAPE) DestroyWindow(hwnd);
      return 0;
    case WM_TRANSITION_FINISHED:
      g_manager->EndTransition();
      Shown(hwnd);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(hwnd, msg, wp, lp);
  }
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::string(argv[i]) == "--log") orvapp::OpenLog(argv[i + 1]);
    else return 2;
  }
  InitScreenDpi();
  InitUiKit(nullptr);
  const int width = GetSystemMetrics(SM_CXSCREEN);
  const int height = GetSystemMetrics(SM_CYSCREEN);

  CRefPtr<layouttest::TestFactory> factory(new layouttest::TestFactory());
  CRefPtr<layouttest::TextLayoutProvider> provider(new layouttest::TextLayoutProvider());
  provider->texts[u"first"] =
      OneLayout(u"first", Box(u"back", 0, 0, width, height, Fill(kRed)) +
                              Box(u"square", width / 4, height / 4, width / 2, height / 4, Fill(kWhite)));
  provider->texts[u"second"] =
      OneLayout(u"second", Box(u"back", 0, 0, width, height, Fill(kBlue)) +
                               Box(u"panel", width / 4, height / 2, width / 2, height / 4, Fill(kGreen)));
  SetPluginFactory(factory.Get());
  SetLayoutProvider(provider.Get());

  int code = 1;
  {
    CRefPtr<CDialogManager> manager = CDialogManager::Create();
    g_manager = manager.Get();
    WNDCLASSW wc{};
    wc.lpfnWndProc = &WindowProc;
    wc.lpszClassName = u"OrvScreensApp";
    RegisterClassW(&wc);
    HWND hwnd = CreateWindowExW(0, u"OrvScreensApp", u"Screens", WS_POPUP, 0, 0, width, height, nullptr, nullptr,
                                nullptr, nullptr);
    if (hwnd) {
      manager->SetWindow(hwnd);
      manager->SetViewSize(width, height);
      if (manager->ShowLayout(u"first", kShowReplace, nullptr)) {
        ShowWindow(hwnd, SW_SHOW);
        SetFocus(hwnd);
        UpdateWindow(hwnd);
        Log("ready %d %d", width, height);
        MSG m;
        while (GetMessageW(&m, nullptr, 0, 0) > 0) {
          TranslateMessage(&m);
          DispatchMessageW(&m);
        }
        code = static_cast<int>(m.wParam);
      } else {
        DestroyWindow(hwnd);
      }
    }
    manager->EndTransition();
    g_manager = nullptr;
  }
  ResetLayoutProvider();
  ResetPluginFactory();
  Log("end %d", code);
  return code;
}
