// Shared set-up of the screen tests: layouts given as text through a layout
// provider of the test, a "Box" plug-in that fills its rectangle and records
// what the content asks of it, a data source that records and may answer,
// and a dialog manager over a window of the platform.
#pragma once

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
#include "tools/PngFile.h"

namespace layouttest {

// Fills its bound rectangle with the colour "Fill" (a Color value; without
// one it draws nothing); kind from
// the Int "Kind" (2 unless given); refuses the selection when "Refuse" is
// set; grows the layout by "Grow" pixels.
class BoxPlugin : public LayoutPluginBase {
 public:
  plat::HRESULT LoadProperties() override {
    std::int32_t v = 0;
    hasFill = GetItem()->GetInt(u"Fill", &v) == plat::S_OK;
    if (hasFill) fill = static_cast<plat::COLORREF>(v);
    kind = GetItem()->GetInt(u"Kind", &v) == plat::S_OK ? v : 2;
    refuse = GetItem()->GetInt(u"Refuse", &v) == plat::S_OK && v != 0;
    grow = GetItem()->GetInt(u"Grow", &v) == plat::S_OK ? v : 0;
    if (GetItem()->GetInt(u"Masked", &v) == plat::S_OK && v) {
      // An 8-bit mask of the rectangle: its right half only.
      plat::RECT r{};
      GetItemRect(r);
      mask = std::make_shared<CBitmapBuffer>();
      mask->Create(r.right - r.left, r.bottom - r.top, CBitmapBuffer::kGrey8);
      for (int y = 0; y < mask->GetHeight(); ++y) {
        for (int x = 0; x < mask->GetWidth(); ++x) mask->Row(y)[x] = x >= mask->GetWidth() / 2 ? 255 : 0;
      }
    }
    return plat::S_OK;
  }
  plat::HRESULT GetRect(std::int32_t part, std::uint32_t flags, plat::RECT* rect, std::intptr_t* out1,
                        std::intptr_t* out2) override {
    const plat::HRESULT hr = LayoutPluginBase::GetRect(part, flags, rect, out1, out2);
    if (hr == plat::S_OK && out1 && mask) *out1 = reinterpret_cast<std::intptr_t>(mask->GetBitmap());
    return hr;
  }
  plat::HRESULT Paint(const LayoutPaintRecord& record) override {
    ++paints;
    lastFocus = record.focus;
    scrolls.push_back(record.scrollY);
    plat::RECT r{};
    if (GetItemRect(r) != plat::S_OK) return plat::E_FAIL;
    if (!hasFill) return plat::S_OK;
    plat::OffsetRect(&r, record.originX - record.scrollX, record.originY - record.scrollY);
    plat::HBRUSH brush = plat::CreateSolidBrush(fill);
    plat::FillRect(record.dc, &r, brush);
    plat::DeleteObject(brush);
    return plat::S_OK;
  }
  plat::HRESULT GetKind(std::int32_t, std::int32_t* out) override {
    *out = kind;
    return plat::S_OK;
  }
  plat::HRESULT GetContentSize(plat::HDC, plat::SIZE* size) override {
    if (!grow) return plat::S_FALSE;
    *size = plat::SIZE{0, grow};
    return plat::S_OK;
  }
  plat::HRESULT OnFocus(std::int32_t key, const plat::POINT* point, const plat::RECT*) override {
    ++focusOffers;
    lastFocusKey = key;
    lastFocusPoint = point ? *point : plat::POINT{-1, -1};
    return refuse ? plat::S_FALSE : plat::S_OK;
  }
  plat::HRESULT ReservedB(const plat::POINT*, std::int32_t flag) override {
    ++activations;
    lastActivateFlag = flag;
    return plat::S_OK;
  }
  plat::HRESULT OnTap(const plat::POINT*) override {
    ++taps;
    return plat::S_OK;
  }
  plat::HRESULT OnCommand(std::intptr_t a, std::intptr_t) override {
    ++layoutPasses;
    if (a) lastView = *reinterpret_cast<const LayoutViewRecord*>(a);
    return plat::S_OK;
  }
  plat::HRESULT ReservedC(std::int32_t event, std::intptr_t, void*) override {
    events.push_back(event);
    return event == takeEvent ? plat::S_OK : plat::S_FALSE;
  }

  std::shared_ptr<CBitmapBuffer> mask;
  bool hasFill = false;
  plat::COLORREF fill = 0;
  std::int32_t kind = 2;
  bool refuse = false;
  std::int32_t grow = 0;
  int paints = 0, focusOffers = 0, activations = 0, taps = 0, layoutPasses = 0;
  std::int32_t lastFocus = -1, lastFocusKey = -99, lastActivateFlag = -1;
  plat::POINT lastFocusPoint{-1, -1};
  LayoutViewRecord lastView;
  std::vector<std::int32_t> events;
  std::vector<std::int32_t> scrolls;  // the scroll of every paint
  std::int32_t takeEvent = -1000;
};

// Makes "Box" for the class "Box", everything else through the real factory.
class TestFactory : public IPluginFactoryService {
 public:
  ILayoutPlugin* CreatePlugin(const char16_t* className) override {
    if (std::u16string_view(className) == u"Box") {
      auto* box = new BoxPlugin();
      box->AddRef();
      made.push_back(box);
      return box;
    }
    return ::CreatePlugin(className);
  }
  std::vector<BoxPlugin*> made;  // not counted: for looking only
};

// Documents from text, by name.
class TextLayoutProvider : public ILayoutProviderService {
 public:
  CRefPtr<LayoutDocument> GetLayout(const std::u16string& name) override {
    auto it = texts.find(name);
    if (it == texts.end()) ThrowLayout(ORV_E_LAYOUT);
    return ParseLayoutText(it->second);
  }
  std::map<std::u16string, std::u16string> texts;
};

// A document with one layout of that name, unscaled, chosen by default.
inline std::u16string OneLayout(const std::u16string& name, const std::u16string& plugins,
                                const std::u16string& general = u"") {
  return u"<Layouts>" + general + u"<Layout Name=\"" + name + u"\" DontScale=\"1\"><Plugins>" + plugins +
         u"</Plugins></Layout><Rules><Default><UseLayout Name=\"" + name + u"\"/></Default></Rules></Layouts>";
}

// A box plug-in element.
inline std::u16string Box(const std::u16string& name, int x, int y, int w, int h, const std::u16string& extra = u"",
                          const std::u16string& attributes = u"") {
  auto n = [](int v) { return plat::Utf8ToUtf16(std::to_string(v)); };
  return u"<Plugin Name=\"" + name + u"\" Class=\"Box\" BoundRect=\"" + n(x) + u"," + n(y) + u"," + n(w) + u"," +
         n(h) + u"\"" + attributes + u">" + extra + u"</Plugin>";
}

inline std::u16string Fill(plat::COLORREF c) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%x", static_cast<unsigned>(c));
  return u"<Color Name=\"Fill\" Value=\"" + plat::Utf8ToUtf16(buf) + u"\"/>";
}

inline std::u16string IntValue(const std::u16string& name, int v) {
  return u"<Int Name=\"" + name + u"\" Value=\"" + plat::Utf8ToUtf16(std::to_string(v)) + u"\"/>";
}

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
    std::vector<std::uint8_t> rgba(static_cast<std::size_t>(buffer->GetWidth()) * buffer->GetHeight() * 4);
    for (int y = 0; y < buffer->GetHeight(); ++y) {
      for (int x = 0; x < buffer->GetWidth(); ++x) {
        const std::uint16_t p = reinterpret_cast<const std::uint16_t*>(buffer->Row(y))[x];
        std::uint8_t* o = &rgba[(static_cast<std::size_t>(y) * buffer->GetWidth() + x) * 4];
        o[0] = static_cast<std::uint8_t>(((p >> 11) & 31) * 255 / 31);
        o[1] = static_cast<std::uint8_t>(((p >> 5) & 63) * 255 / 63);
        o[2] = static_cast<std::uint8_t>((p & 31) * 255 / 31);
        o[3] = 255;
      }
    }
    std::filesystem::create_directories(ORV_SCREEN_SHOTS);
    EXPECT_TRUE(WritePngRgba(std::string(ORV_SCREEN_SHOTS) + "/" + name + ".png", buffer->GetWidth(),
                             buffer->GetHeight(), rgba.data()));
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
