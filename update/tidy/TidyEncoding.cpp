#include "update/tidy/TidyEncoding.h"

#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "platform/base/CodePage.h"
#include "platform/base/Text.h"
#include "platform/base/Utf8.h"

namespace Tidy {

namespace {

struct NamedCodePage {
  const char* name;
  plat::UINT codePage;
};

// Encoding names as documents and servers write them, with the names HTML
// Tidy itself knows, lower case.
const NamedCodePage kCodePageNames[] = {
    {"utf-8", 65001}, {"utf8", 65001}, {"unicode-1-1-utf-8", 65001}, {"x-unicode20utf8", 65001},
    {"utf-16", 1200}, {"utf-16le", 1200}, {"utf16", 1200}, {"utf16le", 1200}, {"unicode", 1200},
    {"ucs-2", 1200}, {"iso-10646-ucs-2", 1200}, {"csunicode", 1200},
    {"utf-16be", 1201}, {"utf16be", 1201}, {"unicodefffe", 1201},
    {"utf-7", 65000}, {"unicode-1-1-utf-7", 65000},
    {"us-ascii", 20127}, {"ascii", 20127}, {"ansi_x3.4-1968", 20127}, {"iso646-us", 20127},
    {"us", 20127}, {"csascii", 20127}, {"iso-ir-6", 20127},
    {"iso-8859-1", 28591}, {"latin1", 28591}, {"l1", 28591}, {"cp819", 28591}, {"ibm819", 28591},
    {"iso-ir-100", 28591}, {"csisolatin1", 28591}, {"raw", 28591},
    {"latin2", 28592}, {"l2", 28592}, {"csisolatin2", 28592},
    {"latin3", 28593}, {"latin4", 28594}, {"cyrillic", 28595}, {"arabic", 28596}, {"greek", 28597},
    {"hebrew", 28598}, {"latin5", 28599}, {"latin0", 28605}, {"latin9", 28605}, {"latin-9", 28605},
    {"win1252", 1252}, {"ms-ansi", 1252},
    {"tis-620", 874}, {"dos-874", 874},
    {"koi8-r", 20866}, {"koi8r", 20866}, {"koi", 20866}, {"koi8", 20866}, {"cskoi8r", 20866},
    {"koi8-u", 21866}, {"koi8-ru", 21866},
    {"shift_jis", 932}, {"shift-jis", 932}, {"shiftjis", 932}, {"sjis", 932}, {"x-sjis", 932},
    {"ms_kanji", 932}, {"csshiftjis", 932}, {"windows-31j", 932},
    {"euc-jp", 51932}, {"x-euc-jp", 51932}, {"cseucpkdfmtjapanese", 51932},
    {"iso-2022-jp", 50220}, {"iso2022", 50220}, {"csiso2022jp", 50220},
    {"gb2312", 936}, {"gbk", 936}, {"x-gbk", 936}, {"gb_2312-80", 936}, {"csgb2312", 936},
    {"chinese", 936}, {"euc-cn", 936}, {"x-euc-cn", 936},
    {"gb18030", 54936}, {"hz-gb-2312", 52936},
    {"big5", 950}, {"big5-hkscs", 950}, {"x-x-big5", 950}, {"csbig5", 950}, {"cn-big5", 950},
    {"euc-kr", 51949}, {"ks_c_5601-1987", 949}, {"ks_c_5601-1989", 949}, {"ksc_5601", 949},
    {"korean", 949}, {"csksc56011987", 949}, {"iso-ir-149", 949}, {"uhc", 949},
    {"macintosh", 10000}, {"mac", 10000}, {"x-mac-roman", 10000}, {"csmacintosh", 10000},
};

std::string Normalise(std::u16string_view name) {
  std::size_t begin = 0, end = name.size();
  auto trimmed = [](char16_t c) { return c == u' ' || c == u'\t' || c == u'"' || c == u'\'' || c == u'\r' || c == u'\n'; };
  while (begin < end && trimmed(name[begin])) ++begin;
  while (end > begin && trimmed(name[end - 1])) --end;
  std::string result;
  for (std::size_t i = begin; i < end; ++i) {
    char16_t c = name[i];
    if (c >= 0x80) return std::string();  // encoding names are ASCII
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    result += static_cast<char>(c);
  }
  return result;
}

// The number after prefix when the rest of the name is all digits, else 0.
plat::UINT NumberAfter(const std::string& name, const char* prefix) {
  std::size_t n = std::strlen(prefix);
  if (name.size() <= n || name.compare(0, n, prefix) != 0 || name.size() - n > 5) return 0;
  plat::UINT value = 0;
  for (std::size_t i = n; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return 0;
    value = value * 10 + static_cast<plat::UINT>(name[i] - '0');
  }
  return value;
}

plat::UINT NamedCodePageOf(const std::string& name) {
  for (const NamedCodePage& entry : kCodePageNames) {
    if (name == entry.name) return entry.codePage;
  }
  // Families written with their number.
  for (const char* prefix : {"iso-8859-", "iso8859-", "iso_8859-", "iso8859_", "iso-8859_"}) {
    plat::UINT part = NumberAfter(name, prefix);
    if (part >= 1 && part <= 9) return 28590 + part;
    if (part == 13) return 28603;
    if (part == 15) return 28605;
  }
  for (const char* prefix : {"windows-", "x-cp", "cp", "win", "ms"}) {
    plat::UINT number = NumberAfter(name, prefix);
    if ((number >= 1250 && number <= 1258) || number == 874 || number == 932 || number == 936 ||
        number == 949 || number == 950)
      return number;
    if (prefix[0] == 'c' && (number == 437 || (number >= 850 && number <= 869))) return number;
  }
  for (const char* prefix : {"ibm", "ibm-", "dos-"}) {
    plat::UINT number = NumberAfter(name, prefix);
    if (number == 437 || (number >= 850 && number <= 869)) return number;
  }
  return 0;
}

// The code page the bytes are actually decoded with.
plat::UINT DecodingCodePage(plat::UINT codePage) {
  switch (codePage) {
    case 28591: return 1252;
    case 20127: return 1252;
    case 51949: return 949;
    default: return codePage;
  }
}

bool PlatformConverts(plat::UINT codePage) {
  if (IsUtf16CodePage(codePage)) return true;  // decoded here
  if (!plat::IsValidCodePage(codePage)) return false;
  char16_t probe[16];
  return plat::MultiByteToWideChar(codePage, 0, "test", 4, probe, 16) > 0;
}

void DecodeUtf16(const unsigned char* p, std::size_t length, bool bigEndian, std::string& out) {
  out.reserve(length + length / 2);
  std::size_t units = length / 2;
  auto unit = [&](std::size_t i) -> char16_t {
    return bigEndian ? static_cast<char16_t>(p[2 * i] << 8 | p[2 * i + 1])
                     : static_cast<char16_t>(p[2 * i + 1] << 8 | p[2 * i]);
  };
  for (std::size_t i = 0; i < units; ++i) {
    char16_t c = unit(i);
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units) {
      char16_t d = unit(i + 1);
      if (d >= 0xDC00 && d <= 0xDFFF) {
        plat::AppendUtf8(out, 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (d - 0xDC00));
        ++i;
        continue;
      }
    }
    if (c >= 0xD800 && c <= 0xDFFF) c = 0xFFFD;
    plat::AppendUtf8(out, c);
  }
  if (length % 2) plat::AppendUtf8(out, 0xFFFD);  // a last odd byte
}

}  // namespace

plat::UINT LookupCodePage(std::u16string_view name) {
  std::string normal = Normalise(name);
  if (normal.empty()) return 0;
  plat::UINT codePage = NamedCodePageOf(normal);
  if (codePage == 0) return 0;
  return PlatformConverts(DecodingCodePage(codePage)) ? codePage : 0;
}

plat::UINT DetectByteOrderMark(const char* bytes, std::size_t length, std::size_t* markLength) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes);
  *markLength = 0;
  if (length >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) {
    *markLength = 3;
    return kCodePageUtf8;
  }
  if (length >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
    *markLength = 2;
    return kCodePageUtf16Le;
  }
  if (length >= 2 && p[0] == 0xFE && p[1] == 0xFF) {
    *markLength = 2;
    return kCodePageUtf16Be;
  }
  // "<?" in UTF-16 without a mark.
  if (length >= 4 && p[0] == '<' && p[1] == 0 && p[2] == '?' && p[3] == 0) return kCodePageUtf16Le;
  if (length >= 4 && p[0] == 0 && p[1] == '<' && p[2] == 0 && p[3] == '?') return kCodePageUtf16Be;
  return 0;
}

bool DecodeToUtf8(const char* bytes, std::size_t length, plat::UINT codePage, std::string& out) {
  out.clear();
  try {
    if (length == 0) return true;
    if (IsUtf16CodePage(codePage)) {
      DecodeUtf16(reinterpret_cast<const unsigned char*>(bytes), length, codePage == kCodePageUtf16Be, out);
      return true;
    }
    if (codePage == kCodePageUtf8) {
      out.assign(bytes, length);
      return true;
    }
    plat::UINT decoding = DecodingCodePage(codePage);
    if (const char16_t* upper = plat::SingleByteUpperHalf(decoding)) {
      // Straight to UTF-8, without the UTF-16 in between.
      // ASCII is copied a run at a time.
      out.reserve(length + length / 8);
      std::size_t i = 0;
      while (i < length) {
        std::size_t end = i;
        while (end < length && static_cast<unsigned char>(bytes[end]) < 0x80) ++end;
        out.append(bytes + i, end - i);
        if (end == length) break;
        plat::AppendUtf8(out, upper[static_cast<unsigned char>(bytes[end]) - 0x80]);
        i = end + 1;
      }
      return true;
    }
    if (length > 0x7FFFFFFF) return false;
    int count = plat::MultiByteToWideChar(decoding, 0, bytes, static_cast<int>(length), nullptr, 0);
    if (count <= 0) return false;
    std::u16string wide(static_cast<std::size_t>(count), u'\0');
    if (plat::MultiByteToWideChar(decoding, 0, bytes, static_cast<int>(length), wide.data(), count) != count)
      return false;
    out = plat::Utf16ToUtf8(wide);
    return true;
  } catch (const std::bad_alloc&) {
    out.clear();
    return false;
  }
}

bool LooksLikeXml(const char* bytes, std::size_t length) {
  if (!bytes || length < 6) return false;
  std::string_view text(bytes, length);
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  if (text.size() < 6) return false;
  auto skipSpace = [&text] {
    while (!text.empty() && plat::IsXmlSpace(text[0])) {
      text.remove_prefix(1);
    }
  };
  // What may stand before the root element: comments, processing
  // instructions and a document type (with its internal subset).
  for (;;) {
    skipSpace();
    if (text.size() < 2 || text[0] != '<') return false;
    if (text.substr(0, 5) == "<?xml") return true;
    std::size_t end = std::string_view::npos;
    if (text.substr(0, 4) == "<!--") {
      end = text.find("-->", 4);
      if (end != std::string_view::npos) end += 3;
    } else if (text[1] == '?') {
      end = text.find("?>", 2);
      if (end != std::string_view::npos) end += 2;
    } else if (text.substr(0, 9) == "<!DOCTYPE") {
      const std::size_t subset = text.find_first_of("[>", 9);
      if (subset != std::string_view::npos && text[subset] == '[') {
        const std::size_t close = text.find(']', subset);
        end = close == std::string_view::npos ? close : text.find('>', close);
      } else {
        end = subset;
      }
      if (end != std::string_view::npos) ++end;
    } else {
      break;
    }
    if (end == std::string_view::npos) return false;
    text.remove_prefix(end);
  }
  // The root element's name.
  text.remove_prefix(1);
  std::size_t nameEnd = 0;
  while (nameEnd < text.size() && text[nameEnd] != ' ' && text[nameEnd] != '>' && text[nameEnd] != '/' &&
         text[nameEnd] != '\t' && text[nameEnd] != '\r' && text[nameEnd] != '\n') {
    ++nameEnd;
  }
  // The roots of feeds, exact case as XML has it (names that merely begin
  // so, such as "rdf:RDF", count too).
  const std::string_view name = text.substr(0, nameEnd);
  return name == "feed" || name.substr(0, 3) == "rss" || name.substr(0, 3) == "rdf" || name.substr(0, 4) == "opml";
}

std::u16string GetXmlDeclarationEncoding(const char* bytes, std::size_t length) {
  if (!bytes || length <= 3) return std::u16string();
  std::string_view text(bytes + 2, length - 2);
  std::size_t end = text.find("?>");
  if (end == std::string_view::npos) return std::u16string();
  std::string_view declaration = text.substr(0, end);
  for (const char* key : {"encoding=\"", "encoding='"}) {
    std::size_t at = declaration.find(key);
    if (at == std::string_view::npos) continue;
    char quote = key[std::strlen(key) - 1];
    std::size_t start = at + std::strlen(key);
    std::size_t close = declaration.find(quote, start);
    if (close == std::string_view::npos) return std::u16string();
    return plat::Utf8ToUtf16(declaration.substr(start, close - start));
  }
  return std::u16string();
}

namespace {

// True when nothing in the first bytes looks like UTF-16 (no zero byte).
bool LooksEightBit(const char* bytes, std::size_t length) {
  std::size_t n = length < 256 ? length : 256;
  return std::memchr(bytes, 0, n) == nullptr;
}

}  // namespace

InputEncoding SniffInputEncoding(const char* bytes, std::size_t length, const std::u16string& documentEncoding,
                                 const std::u16string& transportEncoding, const std::u16string& forcedEncoding) {
  InputEncoding input;
  std::size_t markLength = 0;
  plat::UINT codePage = DetectByteOrderMark(bytes, length, &markLength);
  std::u16string encodingName;
  if (codePage != 0) {
    encodingName = codePage == kCodePageUtf8 ? u"utf-8" : codePage == kCodePageUtf16Be ? u"utf-16be" : u"utf-16le";
  } else {
    // Each rule's name replaces the one before only when it names an
    // encoding this platform decodes: an unknown name ("none", a misspelt
    // charset, a code page the platform lacks) leaves the earlier choice.
    encodingName = u"utf-8";
    codePage = kCodePageUtf8;
    auto apply = [&](const std::u16string& name) {
      if (name.empty()) return;
      const plat::UINT known = LookupCodePage(name);
      if (known == 0) return;
      encodingName = name;
      codePage = known;
    };
    apply(documentEncoding);
    apply(transportEncoding);
    if (LooksLikeXml(bytes, length)) {
      std::u16string declared = GetXmlDeclarationEncoding(bytes, length);
      // A declaration read as 8-bit text cannot truly be UTF-16.
      if (!IsUtf16CodePage(LookupCodePage(declared))) apply(declared);
    }
    apply(forcedEncoding);
    if (IsUtf16CodePage(codePage) && LooksEightBit(bytes, length)) codePage = kCodePageUtf8;
  }
  input.name = std::move(encodingName);
  input.codePage = codePage;
  input.markLength = markLength;
  return input;
}

}  // namespace Tidy
