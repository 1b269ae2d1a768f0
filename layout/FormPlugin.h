// The "Form" plug-in: a whole second layout screen inside the rectangle of
// one plug-in. It keeps a screen stack of its own whose top content shares
// the host's plug-in site, and passes painting, layout, focus, keys, taps,
// activation and events on to that content, translating coordinates. Data
// sources reach it through IFormPlugin to put a content or a named layout in.
#pragma once

#include <cstdint>

#include "layout/DialogContent.h"
#include "layout/LayoutPlugin.h"

class FormPlugin : public CLayoutObject<ILayoutPlugin> {
 public:
  FormPlugin();
  FormPlugin(const FormPlugin&) = delete;
  FormPlugin& operator=(const FormPlugin&) = delete;

  // Answers IFormPlugin with its second part besides the plug-in itself.
  plat::HRESULT QueryInterface(plat::REFIID iid, void** object) override;

  // ILayoutPlugin
  plat::HRESULT QueryOwnInterface(plat::REFIID iid, void** object) override;
  plat::HRESULT Init(IPluginSite* site, IDialogContent* content) override;
  plat::HRESULT SetProperties(ILayoutItem* item) override;
  plat::HRESULT Paint(const LayoutPaintRecord& record) override;
  plat::HRESULT GetKind(std::int32_t code, std::int32_t* kind) override;
  plat::HRESULT GetRect(std::int32_t part, std::uint32_t flags, plat::RECT* rect, std::intptr_t* out1,
                        std::intptr_t* out2) override;
  plat::HRESULT GetContentSize(plat::HDC dc, plat::SIZE* size) override;
  plat::HRESULT OnFocus(std::int32_t key, const plat::POINT* point, const plat::RECT* from) override;
  plat::HRESULT OnKey(std::uint32_t key, std::int32_t* handled) override;
  plat::HRESULT ReservedB(const plat::POINT* point, std::int32_t flag) override;
  plat::HRESULT OnTap(const plat::POINT* point) override;
  plat::HRESULT OnCommand(std::intptr_t a, std::intptr_t b) override;
  plat::HRESULT ReservedC(std::int32_t event, std::intptr_t parameter, void* record) override;

  IFormPlugin* GetFormInterface() { return &form_; }
  // The content on top of the nested stack (counted), or empty.
  CRefPtr<XmlLayouts::CDialogContent> GetNested();
  const LayoutViewRecord& GetViewRecord() const { return view_; }
  ContentHolder& GetHolder() { return holder_; }

 private:
  ~FormPlugin() override;

  class FormPart : public IFormPlugin {
   public:
    explicit FormPart(FormPlugin& owner) : owner_(owner) {}
    plat::HRESULT QueryInterface(plat::REFIID iid, void** object) override { return owner_.QueryInterface(iid, object); }
    plat::ULONG AddRef() override { return owner_.AddRef(); }
    plat::ULONG Release() override { return owner_.Release(); }
    plat::HRESULT GetRootContent(IScreenContent** content) override;
    plat::HRESULT ShowContent(IScreenContent* content, plat::IUnknown* owner) override;
    plat::HRESULT ShowLayoutByName(const char16_t* name, plat::IUnknown* owner) override;

   private:
    FormPlugin& owner_;
  };

  // The nested content's fresh screen: no selection, built for the form's
  // view, the site told to redraw.
  plat::HRESULT AfterShow();
  plat::HRESULT BoundRect(plat::RECT& rect);
  // Event 19 on a content: the item whose "Key" holds the character.
  static bool SelectByKey(XmlLayouts::CDialogContent& content, IPluginSite* site, char16_t c);

  FormPart form_;
  IPluginSite* site_ = nullptr;        // counted
  IDialogContent* content_ = nullptr;  // counted
  ILayoutItem* item_ = nullptr;        // counted
  ContentHolder holder_;
  LayoutViewRecord view_;
};

ILayoutPlugin* MakeFormPlugin();
