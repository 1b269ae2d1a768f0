// Reading the values of layout documents and package indexes: numbers as
// "%d" and "%x" read them, points, rectangles (scaled from 96-dpi units when
// the reader scales), fonts and the plug-in elements' own child elements.
#pragma once

#include <cstddef>
#include <cstdint>

#include "layout/ResourceValues.h"

// Numeric keys of the values the layout reader stores.
enum PropertyKey : int {
  kKeyBoundRect = 1,
  kKeyLeftTop = 2,
  kKeyCenter = 3,
  kKeyClass = 4,
  kKeyName = 5,
  kKeySkin = 6,
  kKeyBoldFont = 7,
  kKeyDefaultFont = 8,
  kKeyBoldDefaultFont = 9,
  kKeyNormalDefaultFont = 10,
  kKeyTextColor = 11,
  kKeyId = 12,
  kKeyDialogRect = 13,
  kKeyScrollY = 14,
};

// Reads one decimal number as "%d" does (leading white space, a sign, at
// least one digit; what follows is ignored). False for null or no number.
bool ScanDecimal(const char16_t* text, std::int32_t& value);
// Reads one hexadecimal number as "%x" does (an optional "0x").
bool ScanHex(const char16_t* text, std::int32_t& value);

// Where the last layout element read stands in its text: the reader notes
// every element it reads, so a failure can name the line.
void NoteLayoutElement(const CXmlNode& element);
const char16_t* LastLayoutElementPosition();
void ClearLayoutElementPosition();

class LayoutDocumentReader : public IResourceValueReader {
 public:
  explicit LayoutDocumentReader(bool scale) : scale_(scale) {}

  bool ReadInt(const CXmlNode& element, std::int32_t& value) override;
  bool ReadString(const CXmlNode& element, std::u16string& value) override;
  bool ReadPoint(const CXmlNode& element, CPropertyPair& value) override;
  bool ReadRect(const CXmlNode& element, CPropertyRect& value) override;
  bool ParseRectText(const char16_t* text, CPropertyRect& value) override;
  bool ReadColor(const CXmlNode& element, std::int32_t& value) override;
  bool ReadFont(const CXmlNode& element, plat::HFONT& font) override;
  void OnOtherElement(const char16_t* tag, const CXmlNode& element, CPropertyList& list) override;

  // A font from the element's Face, HeightPxl, Bold and ClearType (and Color
  // when colour is given); weight 0 takes it from Bold. Raises 0x84000001
  // for bad values.
  plat::HFONT ReadLayoutFont(const CXmlNode& element, std::int32_t weight, std::int32_t* colour);

  // Reads a General or Plugin element into the list: the skin, Class,
  // BoundRect, ID and BoldFont attributes, then the child elements.
  void ReadPluginElement(const CXmlNode& element, CPropertyList& list);

  bool Scales() const { return scale_; }

 protected:
  std::int32_t X(std::int32_t v) const;
  std::int32_t Y(std::int32_t v) const;
  CPropertyRect MakeRect(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h) const;

 private:
  bool scale_;
};

// The element a path names below root: tokens split at any of the separator
// characters; ".." goes to the parent, other tokens beginning with "." are
// skipped, any other token is a pattern ("*", "?", "[...]") for the name of
// a child element. A child that does not match moves the walk to the next
// sibling of the same name as the current element, where the token is tried
// again. A path that begins with a separator starts at the document's top.
// Empty when nothing is found, the walk climbs to the top, or path is null.
CXmlNode FindByPath(const CXmlNode& root, const char16_t* path, const char16_t* separators);
