// The plug-in factory: turns the class names of layout entries into plug-in
// objects, and the two text plug-ins "Text" and "SingleLineText".
#pragma once

#include <cstdint>
#include <string>

#include "layout/LayoutPlugin.h"
#include "layout/LayoutServices.h"

// Makes a plug-in for a class name: "Orv.LSP." followed by a built-in class
// (compared exactly) makes that class; "Orv.Data." names and anything else
// give null. A null name raises E_INVALIDARG. One reference for the caller.
ILayoutPlugin* CreatePlugin(const char16_t* className);
// The built-in class of a bare name, or null: the table of classes is fixed.
ILayoutPlugin* CreateLayoutPlugin(const char16_t* name);

class PluginFactoryService : public IPluginFactoryService {
 public:
  ILayoutPlugin* CreatePlugin(const char16_t* className) override { return ::CreatePlugin(className); }
};

// DrawText flags of the two text classes.
constexpr std::uint32_t kSingleLineTextFlags = 0x8804;  // end ellipsis, no prefix, vertically centred
constexpr std::uint32_t kTextFlags = 0x815;             // no prefix, word break, vertically centred, centred

// Shows the screen data source's string of the plug-in's own name.
class TextPlugin : public LayoutPluginBase {
 public:
  explicit TextPlugin(std::uint32_t flags) : flags_(flags) {}

  plat::HRESULT Paint(const LayoutPaintRecord& record) override;
  plat::HRESULT GetContentSize(plat::HDC dc, plat::SIZE* size) override;
  plat::HRESULT DoCommand(std::intptr_t a, std::intptr_t b) override;
  plat::HRESULT LoadProperties() override;
  // Takes the source's string of that name as the text.
  plat::HRESULT FetchText(IPropertySource* source, const std::u16string& name);

  const std::u16string& GetText() const { return text_; }
  void SetText(std::u16string text) { text_ = std::move(text); }
  std::uint32_t GetFlags() const { return flags_; }

 private:
  // Selects the item's font and colour into dc (state saved by the caller).
  void SelectFontAndColour(plat::HDC dc);
  std::u16string text_;
  std::uint32_t flags_;
  std::int32_t extraSize_ = 0;
};
