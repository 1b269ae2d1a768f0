#include "layout/LayoutDocumentReader.h"

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "core/FrameworkServices.h"
#include "core/OrvException.h"
#include "layout/ScreenScale.h"
#include "platform/base/Text.h"

namespace {

thread_local const char16_t* g_lastElement = nullptr;


// Digits of base 10 or 16 with "%d"/"%x" rules; values beyond 32 bits keep
// their low bits as the C library's scanners do in practice.
bool Scan(const char16_t* text, std::int32_t& value, int base) {
  if (!text) return false;
  const char16_t* p = text;
  while (plat::IsAsciiSpace(*p)) ++p;
  bool negative = false;
  if (*p == u'+' || *p == u'-') {
    negative = *p == u'-';
    ++p;
  }
  if (base == 16 && p[0] == u'0' && (p[1] == u'x' || p[1] == u'X')) {
    const char16_t c = p[2];
    if ((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F')) p += 2;
  }
  std::uint32_t result = 0;
  bool any = false;
  for (;; ++p) {
    int digit;
    if (*p >= u'0' && *p <= u'9') {
      digit = *p - u'0';
    } else if (base == 16 && *p >= u'a' && *p <= u'f') {
      digit = *p - u'a' + 10;
    } else if (base == 16 && *p >= u'A' && *p <= u'F') {
      digit = *p - u'A' + 10;
    } else {
      break;
    }
    result = result * static_cast<std::uint32_t>(base) + static_cast<std::uint32_t>(digit);
    any = true;
  }
  if (!any) return false;
  value = static_cast<std::int32_t>(negative ? 0u - result : result);
  return true;
}

const char16_t* Attr(const CXmlNode& element, const char16_t* name) { return GetAttributeText(element, name); }

std::int32_t RequiredNumber(const CXmlNode& element, const char16_t* name) {
  std::int32_t value = 0;
  if (!ScanDecimal(Attr(element, name), value)) throw COrvException(ORV_E_LAYOUT);
  return value;
}

}  // namespace

bool ScanDecimal(const char16_t* text, std::int32_t& value) { return Scan(text, value, 10); }
bool ScanHex(const char16_t* text, std::int32_t& value) { return Scan(text, value, 16); }

void NoteLayoutElement(const CXmlNode& element) {
  if (element.GetName()) g_lastElement = element.GetName();
}
const char16_t* LastLayoutElementPosition() { return g_lastElement; }
void ClearLayoutElementPosition() { g_lastElement = nullptr; }

std::int32_t LayoutDocumentReader::X(std::int32_t v) const { return scale_ ? MulDivRound(v, GetScreenDpiX(), 96) : v; }
std::int32_t LayoutDocumentReader::Y(std::int32_t v) const { return scale_ ? MulDivRound(v, GetScreenDpiY(), 96) : v; }

CPropertyRect LayoutDocumentReader::MakeRect(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h) const {
  const std::int64_t right = static_cast<std::int64_t>(x) + w;
  const std::int64_t bottom = static_cast<std::int64_t>(y) + h;
  if (right > INT32_MAX || right < INT32_MIN || bottom > INT32_MAX || bottom < INT32_MIN)
    throw COrvException(ORV_E_LAYOUT);
  return CPropertyRect{X(x), Y(y), X(static_cast<std::int32_t>(right)), Y(static_cast<std::int32_t>(bottom))};
}

bool LayoutDocumentReader::ReadInt(const CXmlNode& element, std::int32_t& value) {
  NoteLayoutElement(element);
  const char16_t* text = Attr(element, u"Value");
  return ScanDecimal(text ? text : u"", value);
}

bool LayoutDocumentReader::ReadColor(const CXmlNode& element, std::int32_t& value) {
  NoteLayoutElement(element);
  const char16_t* text = Attr(element, u"Value");
  return ScanHex(text ? text : u"", value);
}

bool LayoutDocumentReader::ReadString(const CXmlNode& element, std::u16string& value) {
  NoteLayoutElement(element);
  const char16_t* text = Attr(element, u"Value");
  if (!text) return false;
  value = text;
  return true;
}

bool LayoutDocumentReader::ReadPoint(const CXmlNode& element, CPropertyPair& value) {
  NoteLayoutElement(element);
  value.first = X(RequiredNumber(element, u"X"));
  value.second = Y(RequiredNumber(element, u"Y"));
  return true;
}

bool LayoutDocumentReader::ReadRect(const CXmlNode& element, CPropertyRect& value) {
  NoteLayoutElement(element);
  value = MakeRect(RequiredNumber(element, u"X"), RequiredNumber(element, u"Y"), RequiredNumber(element, u"Width"),
                   RequiredNumber(element, u"Height"));
  return true;
}

bool LayoutDocumentReader::ParseRectText(const char16_t* text, CPropertyRect& value) {
  std::int32_t n[4];
  const char16_t* p = text;
  for (int i = 0; i < 4; ++i) {
    if (!p || !ScanDecimal(p, n[i])) throw COrvException(ORV_E_LAYOUT);
    if (i == 3) break;
    // Past the number just read, then a comma.
    while (plat::IsAsciiSpace(*p)) ++p;
    if (*p == u'+' || *p == u'-') ++p;
    while (*p >= u'0' && *p <= u'9') ++p;
    if (*p != u',') throw COrvException(ORV_E_LAYOUT);
    ++p;
  }
  value = MakeRect(n[0], n[1], n[2], n[3]);
  return true;
}

plat::HFONT LayoutDocumentReader::ReadLayoutFont(const CXmlNode& element, std::int32_t weight, std::int32_t* colour) {
  NoteLayoutElement(element);
  const char16_t* face = Attr(element, u"Face");
  const std::size_t faceLength = plat::StrLen(face);
  if (faceLength < 1 || faceLength > 31) throw COrvException(ORV_E_LAYOUT);
  std::int32_t height = 0;
  if (!ScanDecimal(Attr(element, u"HeightPxl"), height) || height < 1) throw COrvException(ORV_E_LAYOUT);
  if (colour && !ScanHex(Attr(element, u"Color"), *colour)) throw COrvException(ORV_E_LAYOUT);
  const char16_t* bold = Attr(element, u"Bold");
  const char16_t* clearType = Attr(element, u"ClearType");
  plat::LOGFONTW font;
  std::memset(&font, 0, sizeof font);
  font.lfHeight = -Y(height);
  font.lfWeight = weight != 0 ? weight : (bold && plat::EqualsNoCase(bold, u"y") ? 700 : 400);
  font.lfQuality = clearType && plat::EqualsNoCase(clearType, u"y") ? 5 : 0;
  font.lfCharSet = 1;
  std::memcpy(font.lfFaceName, face, faceLength * sizeof(char16_t));
  plat::HFONT handle = plat::CreateFontIndirectW(&font);
  if (!handle) {
    const plat::DWORD error = plat::GetLastError();
    throw COrvException(error ? static_cast<plat::HRESULT>((error & 0xFFFFu) | 0x80070000u) : plat::E_FAIL);
  }
  return handle;
}

bool LayoutDocumentReader::ReadFont(const CXmlNode& element, plat::HFONT& font) {
  plat::HFONT made = ReadLayoutFont(element, 0, nullptr);
  if (font && font != made) plat::DeleteObject(font);
  font = made;
  return true;
}

void LayoutDocumentReader::OnOtherElement(const char16_t* tag, const CXmlNode& element, CPropertyList& list) {
  NoteLayoutElement(element);
  const std::u16string_view t(tag ? tag : u"");
  if (t == u"BoundRect" || t == u"DialogRect") {
    CPropertyRect r;
    if (ReadRect(element, r))
      PrependRectProperty(list, t == u"BoundRect" ? kKeyBoundRect : kKeyDialogRect, r.left, r.top, r.right, r.bottom);
  } else if (t == u"Center" || t == u"LeftTop") {
    CPropertyPair p;
    if (ReadPoint(element, p)) PrependPairProperty(list, t == u"Center" ? kKeyCenter : kKeyLeftTop, p.first, p.second);
  } else if (t == u"DefaultFont") {
    std::int32_t colour = 0;
    plat::HFONT declared = ReadLayoutFont(element, 0, &colour);
    PrependFontHandle(list, kKeyDefaultFont, declared);
    PrependIntProperty(list, kKeyTextColor, colour);
    PrependFontHandle(list, kKeyBoldDefaultFont, ReadLayoutFont(element, 700, nullptr));
    PrependFontHandle(list, kKeyNormalDefaultFont, ReadLayoutFont(element, 400, nullptr));
  } else if (t == u"ScrollY") {
    std::u16string text;
    std::int32_t mode = 0;
    if (ReadString(element, text)) {
      std::int32_t number = 0;
      if (plat::EqualsNoCase(text, u"Auto")) {
        mode = 2;
      } else if (plat::EqualsNoCase(text, u"On") || (ScanDecimal(text.c_str(), number) && number != 0)) {
        mode = 1;
      }
    }
    PrependIntProperty(list, kKeyScrollY, mode);
  }
}

void LayoutDocumentReader::ReadPluginElement(const CXmlNode& element, CPropertyList& list) {
  NoteLayoutElement(element);
  const char16_t* skin = nullptr;
  if (scale_ && IsMiddleResolutionScreen()) {
    skin = Attr(element, u"MiddleSkin");
  } else if (scale_ && IsDoubleResolutionScreen()) {
    skin = Attr(element, u"DoubleSkin");
  }
  if (!skin) skin = Attr(element, u"Skin");
  if (skin) PrependStringProperty(list, kKeySkin, skin);
  if (const char16_t* cls = Attr(element, u"Class")) PrependStringProperty(list, kKeyClass, cls);
  if (const char16_t* rect = Attr(element, u"BoundRect")) {
    CPropertyRect r;
    ParseRectText(rect, r);
    PrependRectProperty(list, kKeyBoundRect, r.left, r.top, r.right, r.bottom);
  }
  std::int32_t id = 0;
  if (ScanDecimal(Attr(element, u"ID"), id)) PrependIntProperty(list, kKeyId, id);
  if (const char16_t* bold = Attr(element, u"BoldFont"))
    PrependIntProperty(list, kKeyBoldFont, plat::EqualsNoCase(bold, u"n") ? 0 : 1);
  LayoutResourceParser(*this, element, list);
}

namespace {

bool IsTop(const CXmlNode& node) {
  const XmlNodeRecord* record = node.GetRecord();
  return !record || record->parent == record || !record->parent;
}

// The next sibling element bearing the node's name, or an empty handle.
CXmlNode NextSameNamedSibling(const CXmlNode& node) {
  if (IsTop(node) || !node.GetName()) return {};
  const CXmlNode parent = node.GetParent();
  const std::u16string_view name(node.GetName());
  bool passed = false;
  for (std::uint32_t i = 0; i < parent.GetChildCount(); ++i) {
    const CXmlNode child = parent.GetChild(i);
    if (passed && child.GetType() == XML_NODE_ELEMENT && child.GetName() && name == child.GetName()) return child;
    if (child.GetRecord() == node.GetRecord()) passed = true;
  }
  return {};
}

CXmlNode MatchingChild(const CXmlNode& node, const std::u16string& pattern) {
  for (std::uint32_t i = 0; i < node.GetChildCount(); ++i) {
    const CXmlNode child = node.GetChild(i);
    if (child.GetType() == XML_NODE_ELEMENT && child.GetName() && MatchWildcard(pattern.c_str(), child.GetName()))
      return child;
  }
  return {};
}

}  // namespace

CXmlNode FindByPath(const CXmlNode& root, const char16_t* path, const char16_t* separators) {
  if (!path || root.IsEmpty()) return {};
  const std::u16string_view seps(separators ? separators : u"");
  std::vector<std::u16string> tokens;
  std::u16string token;
  for (const char16_t* p = path; *p; ++p) {
    if (seps.find(*p) != std::u16string_view::npos) {
      if (!token.empty()) tokens.push_back(std::move(token));
      token.clear();
    } else {
      token += *p;
    }
  }
  if (!token.empty()) tokens.push_back(std::move(token));
  CXmlNode current = root;
  if (seps.find(path[0]) != std::u16string_view::npos && path[0]) {
    while (!IsTop(current)) current = current.GetParent();
  }
  for (const std::u16string& t : tokens) {
    if (t == u"..") {
      if (IsTop(current)) return {};
      current = current.GetParent();
      if (IsTop(current)) return {};
      continue;
    }
    if (t[0] == u'.') continue;
    for (;;) {
      const CXmlNode child = MatchingChild(current, t);
      if (!child.IsEmpty()) {
        current = child;
        break;
      }
      current = NextSameNamedSibling(current);
      if (current.IsEmpty()) return {};
    }
  }
  return current;
}
