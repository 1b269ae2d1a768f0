// The typed named values of layouts, skins and package indexes: fonts held in
// shared holders, the parser of resource sections, decoding of packaged
// bitmaps and UTF-8 text, and the theme's base hue.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "core/BitmapBuffer.h"
#include "core/FrameworkProperties.h"
#include "core/PropertyValue.h"
#include "core/XmlDom.h"
#include "platform/gdi/Gdi.h"

// Owns one GDI font; the font is deleted when the last shared reference goes.
class CFontHolder {
 public:
  explicit CFontHolder(plat::HFONT font = nullptr) : font_(font) {}
  ~CFontHolder();
  CFontHolder(const CFontHolder&) = delete;
  CFontHolder& operator=(const CFontHolder&) = delete;
  plat::HFONT Get() const { return font_; }
  // Deletes the old font first unless it is the same one.
  void Assign(plat::HFONT font);

 private:
  plat::HFONT font_;
};
using CFontRef = std::shared_ptr<CFontHolder>;

// A Font value: the holder is shared with every reader of the value.
bool PrependFontProperty(CPropertyList& listHead, const CPropertyName& name, CFontRef font);
// A Font value owning the handle; the handle is deleted when no holder can
// be made (then 0x8007000E is raised).
void PrependFontHandle(CPropertyList& listHead, const CPropertyName& name, plat::HFONT font);
// The holder of a Font value; empty for other kinds.
CFontRef GetFontOf(const CPropertyValue* value);

// The reading side of the resource parser: each Read operation takes the
// value's element and an output and answers whether it produced a value.
class IResourceValueReader {
 public:
  virtual ~IResourceValueReader() = default;
  virtual bool ReadInt(const CXmlNode& element, std::int32_t& value) = 0;
  virtual bool ReadString(const CXmlNode& element, std::u16string& value) = 0;
  virtual bool ReadPoint(const CXmlNode& element, CPropertyPair& value) = 0;
  virtual bool ReadRect(const CXmlNode& element, CPropertyRect& value) = 0;
  virtual bool ParseRectText(const char16_t* text, CPropertyRect& value) = 0;
  virtual bool ReadColor(const CXmlNode& element, std::int32_t& value) = 0;
  // A new font handle in font (the old one there is deleted when it differs).
  virtual bool ReadFont(const CXmlNode& element, plat::HFONT& font) = 0;
  virtual void OnOtherElement(const char16_t* tag, const CXmlNode& element, CPropertyList& list) = 0;
};

// Parses the child elements of one resource section into the list: "Int",
// "String", "Point", "Rect", "Color" and "Font" elements with a "Name"
// become named values; everything else goes to the reader's OnOtherElement.
void LayoutResourceParser(IResourceValueReader& reader, const CXmlNode& element, CPropertyList& list);

// The text of an attribute: the empty text for an attribute without a value,
// null when the element has no attribute of that name.
const char16_t* GetAttributeText(const CXmlNode& element, const char16_t* name);

// Limits of packaged bitmaps: untrusted data.
constexpr int kMaxResourceBitmapSide = 4096;

// Decodes a Windows BMP file (1, 4, 8, 16, 24 or 32 bits, BI_RGB or
// BI_BITFIELDS, bottom-up or top-down) into a new DIB section of its depth.
// Empty for anything damaged or unsupported; pixel data cut short leave the
// missing rows zero.
std::shared_ptr<CBitmapBuffer> DecodeBitmapResource(const std::uint8_t* bytes, std::size_t length);

// UTF-8 bytes (of the given length, a leading byte-order mark skipped) as
// UTF-16 text. Raises 0x84000001 for no bytes and the system error for bytes
// that do not convert.
std::u16string DecodeUtf8Resource(const std::uint8_t* bytes, std::size_t length);

// The theme's base hue from HKLM "Software\Microsoft\Color" "BaseHue": the low
// byte (less 40 from 240 on), or -1 when the key, the value or its bits 8-15
// are missing.
int GetThemeBaseHue();
