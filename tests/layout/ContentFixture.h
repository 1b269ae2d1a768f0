// Shared set-up of the screen tests: layouts given as text through a layout
// provider of the test (tests/layout/ScreenParts.h), a data source that
// records and may answer, and a dialog manager over a window of the platform.
#pragma once

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <set>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/FrameworkProperties.h"
#include "layout/DialogManager.h"
#include "layout/LayoutDocument.h"
#include "layout/PluginFactory.h"
#include "platform/base/Text.h"
#include "tests/layout/LayoutFixture.h"
#include "tests/layout/ScreenParts.h"
#include "tools/PngFile.h"

namespace layouttest {

// Records what the content offers; answers where told to.
class RecordingSource : public CDataSource {
 public:
  plat::HRESULT QueryItemState(const LayoutItemDescription& item, std::int32_t code, std::int32_t* flag) override {
    states.push_back(std::u16string(item.name) + u":" + plat::Utf8ToUtf16(std::to_string(code)));
    auto it = stateAnswers.find(item.name);
    if (it == stateAnswers.end()) return plat::S_FALSE;
    *flag = it->second;
    return plat::S_OK;
  }
  plat::HRESULT MeasureItem(const LayoutItemDescription& item, plat::HDC, plat::SIZE* size) override {
    auto it = measures.find(item.name);
    if (it == measures.end()) return plat::S_FALSE;
    *size = plat::SIZE{0, it->second};
    return plat::S_OK;
  }
  plat::HRESULT ActivateItem(const LayoutItemDescription& item, const plat::POINT*, std::int32_t) override {
    activated.push_back(item.name);
    return takeActivate ? plat::S_OK : plat::S_FALSE;
  }
  plat::HRESULT OnEvent(const LayoutItemDescription& item, std::int32_t event, std::intptr_t parameter,
                        void* record) override {
    events.push_back(event);
    return CDataSource::OnEvent(item, event, parameter, record);
  }
  plat::HRESULT OnBuildPhase(std::int32_t phase, IDialogContent*) override {
    phases.push_back(phase);
    return plat::S_FALSE;
  }
  plat::HRESULT IsPluginShown(const char16_t* name, std::uint8_t* flag) override {
    if (hidden.count(name)) {
      *flag = 0;
      return plat::S_OK;
    }
    return plat::S_FALSE;
  }
  std::int32_t Refresh() override {
    ++refreshes;
    return refreshAnswer;
  }
  plat::HRESULT GetStringValue(const char16_t* name, std::u16string* value) override {
    auto it = strings.find(name);
    if (it == strings.end()) return plat::S_FALSE;
    *value = it->second;
    return plat::S_OK;
  }

  std::vector<std::u16string> states;
  std::map<std::u16string, std::int32_t> stateAnswers;
  std::map<std::u16string, std::int32_t> measures;
  std::vector<std::u16string> activated;
  bool takeActivate = false;
  std::vector<std::int32_t> events;
  std::vector<std::int32_t> phases;
  std::set<std::u16string> hidden;
  int refreshes = 0;
  std::int32_t refreshAnswer = 1;
  std::map<std::u16string, std::u16string> strings;
};

// Animation time that passes at once: every wait times out immediately
// unless the runner is told to stop.
class InstantClock : public IAnimationClock {
 public:
  plat::DWORD Now() override { return now_.load(); }
  plat::DWORD WaitFor(plat::HANDLE event, plat::DWORD ms) override {
    if (plat::WaitForSingleObject(event, 0) == plat::WAIT_OBJECT_0) return plat::WAIT_OBJECT_0;
    now_ += ms;
    return plat::WAIT_TIMEOUT;
  }

 private:
  std::atomic<plat::DWORD> now_{5000};
};

// Each test: the test's factory and provider installed, a manager with a
// view of 480x640 and, where asked, a window of the platform.
class ScreenTest : public LayoutTest {
 protected:
  void SetUp() override {
    LayoutTest::SetUp();
    factory_ = CRefPtr<TestFactory>(new TestFactory());
    provider_ = CRefPtr<TextLayoutProvider>(new TextLayoutProvider());
    SetPluginFactory(factory_.Get());
    SetLayoutProvider(provider_.Get());
    manager_ = CDialogManager::Create();
    manager_->SetViewSize(kWidth, kHeight);
  }
  void TearDown() override {
    current_ = nullptr;
    manager_.Reset();
    if (window_) plat::DestroyWindow(window_);
    LayoutTest::TearDown();
  }

  // A top-level window of the platform whose paints go to the manager.
  plat::HWND MakeWindow() {
    plat::WNDCLASSW wc{};
    if (!plat::GetClassInfoW(nullptr, u"OrvScreenTestView", &wc)) {
      wc.lpfnWndProc = &ScreenTest::WindowProc;
      wc.lpszClassName = u"OrvScreenTestView";
      plat::RegisterClassW(&wc);
    }
    window_ = plat::CreateWindowExW(0, u"OrvScreenTestView", u"view", plat::WS_POPUP | plat::WS_VISIBLE, 0, 0, kWidth,
                                    kHeight, nullptr, nullptr, nullptr, nullptr);
    current_ = manager_.Get();
    manager_->SetWindow(window_);
    return window_;
  }
  static plat::LRESULT WindowProc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wp, plat::LPARAM lp) {
    if (msg == plat::WM_PAINT && current_) {
      ++paintMessages_;
      current_->OnPaint();
      return 0;
    }
    if (msg == plat::WM_ERASEBKGND) return 1;
    if (msg == WM_TRANSITION_FINISHED) {
      ++transitionsFinished_;
      return 0;
    }
    return plat::DefWindowProcW(hwnd, msg, wp, lp);
  }

  void AddLayout(const std::u16string& name, const std::u16string& text) { provider_->texts[name] = text; }

  BoxPlugin* BoxNamed(const std::u16string& name) {
    auto content = manager_->GetContent();
    if (!content) return nullptr;
    for (const auto& item : content->GetItems()) {
      if (item.name == name) return static_cast<BoxPlugin*>(item.plugin.Get());
    }
    return nullptr;
  }

  std::uint16_t Pixel(int x, int y) {
    const auto& buffer = manager_->GetBuffer();
    return reinterpret_cast<const std::uint16_t*>(buffer->Row(y))[x];
  }

  // Writes the back buffer as a PNG under the build folder.
  void Shoot(const std::string& name) {
    const auto& buffer = manager_->GetBuffer();
    ASSERT_TRUE(buffer);
    ShootBitmap(*buffer, name);
  }

  static constexpr int kWidth = 480;
  static constexpr int kHeight = 640;
  CRefPtr<TestFactory> factory_;
  CRefPtr<TextLayoutProvider> provider_;
  CRefPtr<CDialogManager> manager_;
  plat::HWND window_ = nullptr;
  static inline CDialogManager* current_ = nullptr;
  static inline int paintMessages_ = 0;
  static inline int transitionsFinished_ = 0;
};

}  // namespace layouttest
