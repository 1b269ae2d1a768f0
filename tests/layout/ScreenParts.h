// The pieces of a layout screen made from text: a "Box" plug-in that fills
// its rectangle and records what the content asks of it, the factory that
// makes it, a layout provider of documents given as text, and helpers that
// write the layout text. Shared by the screen tests and the screen-stack
// test program.
#pragma once

#include <functional>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/BitmapBuffer.h"
#include "core/FrameworkProperties.h"
#include "layout/DataSources.h"
#include "layout/LayoutDocument.h"
#include "layout/LayoutCom.h"
#include "layout/LayoutPlugin.h"
#include "layout/LayoutServices.h"
#include "layout/PluginFactory.h"
#include "layout/VirtualListPlugin.h"
#include "platform/base/Text.h"
#include "platform/gdi/Gdi.h"

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
  plat::HRESULT ReservedB(const plat::POINT* point, std::int32_t flag) override {
    ++activations;
    lastActivateFlag = flag;
    lastActivatePoint = point ? *point : plat::POINT{-1, -1};
    if (onActivate) onActivate();
    return plat::S_OK;
  }
  plat::HRESULT OnTap(const plat::POINT* point) override {
    ++taps;
    lastTapPoint = point ? *point : plat::POINT{-1, -1};
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
  plat::POINT lastFocusPoint{-1, -1}, lastActivatePoint{-1, -1}, lastTapPoint{-1, -1};
  LayoutViewRecord lastView;
  std::vector<std::int32_t> events;
  std::vector<std::int32_t> scrolls;  // the scroll of every paint
  std::int32_t takeEvent = -1000;
  // Run inside the activation (a pop-up menu's own loop, say).
  std::function<void()> onActivate;
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

// A screen's data source that hands its "VirtualList" the list (not counted;
// the list outlives the source).
class ListSource : public CDataSource {
 public:
  explicit ListSource(IVirtualList* list) : list_(list) {}
  plat::HRESULT QueryService(plat::REFIID iid, void** object) override {
    if (!list_ || !SameIid(iid, IID_IVirtualList)) return CDataSource::QueryService(iid, object);
    list_->AddRef();
    *object = list_;
    return plat::S_OK;
  }

 private:
  IVirtualList* list_;
};

}  // namespace layouttest
