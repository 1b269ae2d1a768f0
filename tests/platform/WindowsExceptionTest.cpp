// A window procedure that throws does not end the program: the exception
// stops at the dispatch, and the message gets the unhandled answer.
#include <stdexcept>

#include <gtest/gtest.h>

#include "platform/windows/Windows.h"
#include "tests/support/TempDevice.h"

namespace {

using namespace plat;

int g_calls = 0;

LRESULT ThrowingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_USER + 1) {
    ++g_calls;
    throw std::runtime_error("broken handler");
  }
  if (msg == WM_USER + 2) {
    ++g_calls;
    throw 42;
  }
  if (msg == WM_USER + 3) return 7;
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

TEST(WindowsExceptionTest, ThrowingProcedureIsAnsweredAsUnhandledAndKeepsWorking) {
  orvtest::ScopedTempDevice device;
  WNDCLASSW wc{};
  wc.lpfnWndProc = &ThrowingProc;
  wc.lpszClassName = u"OrvThrowingWindow";
  UnregisterClassW(wc.lpszClassName, nullptr);
  ASSERT_TRUE(RegisterClassW(&wc));
  HWND w = CreateWindowExW(0, wc.lpszClassName, u"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ASSERT_TRUE(w);
  g_calls = 0;
  EXPECT_EQ(SendMessageW(w, WM_USER + 1, 0, 0), DefWindowProcW(w, WM_USER + 1, 0, 0));
  EXPECT_EQ(SendMessageW(w, WM_USER + 2, 0, 0), 0);
  // Posted and dispatched the same way.
  ASSERT_TRUE(PostMessageW(w, WM_USER + 1, 0, 0));
  MSG m{};
  ASSERT_TRUE(PeekMessageW(&m, w, WM_USER + 1, WM_USER + 1, PM_REMOVE));
  EXPECT_EQ(DispatchMessageW(&m), 0);
  EXPECT_EQ(g_calls, 3);
  EXPECT_EQ(SendMessageW(w, WM_USER + 3, 0, 0), 7);
  EXPECT_TRUE(DestroyWindow(w));
}

}  // namespace
