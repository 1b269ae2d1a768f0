#include "core/StringUtils.h"

#include <algorithm>

#include "core/HtmlEntities.h"
#include "platform/base/Format.h"
#include "platform/base/Locale.h"
#include "platform/base/PercentEscape.h"
#include "platform/base/Text.h"

namespace {

constexpr std::u16string_view kUrlEscapeSet = u"%<>:\"/\\|.[]{}`~#&*;'^,?";

bool InSet(char16_t c, const char16_t* set) {
  for (; *set; ++set) {
    if (*set == c) return true;
  }
  return false;
}

// Windows-1252 characters of the bytes 0x80..0x9F; the five undefined bytes
// keep their own code.
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// Appends a character given by a reference: Windows-1252 codes 128..159 as
// their characters, code points above U+FFFF as surrogate pairs, and 0,
// surrogates and values beyond U+10FFFF as U+FFFD.
void AppendCodePoint(std::u16string& out, unsigned long long code) {
  if (code >= 128 && code <= 159) {
    out.push_back(kWindows1252High[code - 128]);
  } else if (code == 0 || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) {
    out.push_back(u'\uFFFD');
  } else if (code > 0xFFFF) {
    code -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
  } else {
    out.push_back(static_cast<char16_t>(code));
  }
}

}  // namespace

std::size_t FindAnyChar(std::u16string_view text, const char16_t* set) {
  if (!set) return kNotFound;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (InSet(text[i], set)) return i;
  }
  return kNotFound;
}

std::size_t FindSubstring(std::u16string_view text, const char16_t* needle) {
  if (!needle || !*needle) return 0;
  return text.find(needle);
}

int HexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  return -1;
}

bool IsHexDigit(char16_t c) { return HexValue(c) >= 0; }

bool IsSpaceChar(char16_t c) {
  plat::WORD type = 0;
  if (!plat::GetStringTypeExW(plat::LOCALE_USER_DEFAULT, plat::CT_CTYPE1, &c, 1, &type)) return false;
  return (type & plat::C1_SPACE) != 0;
}

std::u16string TrimSpace(std::u16string_view text) { return plat::Trim(text, IsSpaceChar); }

bool IsHexDigest(std::u16string_view text) {
  if (text.size() < 32) return false;
  for (char16_t c : text) {
    if (!IsHexDigit(c)) return false;
  }
  return true;
}

unsigned int ParseHex(std::u16string_view text) {
  const std::u16string s(text);
  unsigned int value = 0;
  if (plat::swscanf(s.c_str(), u"%X", &value) != 1) return 0;
  return value;
}

bool ParseInt(std::u16string_view text, int& value) {
  const std::u16string s(text);
  int v = 0;
  if (plat::swscanf(s.c_str(), u"%d", &v) != 1) return false;
  value = v;
  return true;
}

bool ConsumeChar(std::u16string& text, char16_t c) {
  if (text.empty() || text[0] != c) return false;
  text.erase(0, 1);
  return true;
}

bool ConsumeNumber(std::u16string& text, int& value) {
  std::size_t digits = 0;
  while (digits < text.size() && text[digits] >= u'0' && text[digits] <= u'9') ++digits;
  value = 0;
  if (digits == 0) return false;
  const std::u16string number = text.substr(0, digits);
  int v = 0;
  if (plat::swscanf(number.c_str(), u"%d", &v) == 1) value = v;
  text.erase(0, digits);
  return true;
}

plat::POINT PointFromLParam(plat::LPARAM lParam) {
  const auto bits = static_cast<std::uint32_t>(lParam);
  return plat::POINT{static_cast<std::int16_t>(bits & 0xFFFF), static_cast<std::int16_t>(bits >> 16)};
}

std::u16string GetDecimalSeparator() {
  char16_t buf[10] = {};
  if (plat::GetLocaleInfoW(plat::LOCALE_USER_DEFAULT, plat::LOCALE_SDECIMAL, buf, 10) <= 0) return {};
  return std::u16string(buf);
}

std::u16string FormatNumber(double value, int maxDecimals) {
  const std::u16string printed = plat::FormatString(u"%.2lf", value);
  char16_t buf[100] = {};
  std::u16string text;
  if (plat::GetNumberFormatW(plat::LOCALE_USER_DEFAULT, 0, printed.c_str(), nullptr, buf, 100) > 0) {
    text = buf;
  } else {
    return printed;  // not a finite number, or too long to group
  }
  const std::u16string separator = GetDecimalSeparator();
  if (separator.empty()) return text;
  const std::size_t at = text.find(separator);
  if (at == std::u16string::npos) return text;
  if (maxDecimals <= 0) {
    text.resize(at);
    return text;
  }
  const std::size_t decimalsStart = at + separator.size();
  if (text.size() - decimalsStart > static_cast<std::size_t>(maxDecimals)) {
    text.resize(decimalsStart + static_cast<std::size_t>(maxDecimals));
  }
  while (text.size() > decimalsStart && text.back() == u'0') text.pop_back();
  if (text.size() == decimalsStart) text.resize(at);
  return text;
}

std::u16string FormatFileSize(std::int64_t bytes, bool addExactCount) {
  if (bytes < 1024) return FormatNumber(static_cast<double>(bytes), 0) + u" B";
  double value;
  std::u16string unit;
  if (bytes < 1048576) {
    value = static_cast<double>(bytes) / 1024.0;
    unit = u"KB";
  } else {
    value = static_cast<double>(bytes) / 1048576.0;
    unit = u"MB";
  }
  const int decimals = value >= 100 ? 0 : (value >= 10 ? 1 : 2);
  std::u16string text = FormatNumber(value, decimals) + u" " + unit;
  if (addExactCount) text += u" (" + FormatNumber(static_cast<double>(bytes), 0) + u" B)";
  return text;
}

std::u16string FormatWithTexts(std::u16string_view format, std::initializer_list<std::u16string_view> values) {
  std::u16string out;
  auto next = values.begin();
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] == u'%' && i + 1 < format.size()) {
      if (format[i + 1] == u'%') {
        out += u'%';
        ++i;
        continue;
      }
      if (format[i + 1] == u's' && next != values.end()) {
        out += *next++;
        ++i;
        continue;
      }
    }
    out += format[i];
  }
  return out;
}

std::u16string EscapeUrl(std::u16string_view text) {
  return plat::PercentEscape(text, [](char16_t c) { return kUrlEscapeSet.find(c) != std::u16string_view::npos; });
}

std::u16string UnescapeUrl(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'%' && i + 2 < text.size()) {
      // Two characters follow: their leading hex digits give the code.
      const int high = HexValue(text[i + 1]);
      if (high >= 0) {
        const int low = HexValue(text[i + 2]);
        const int code = low >= 0 ? high * 16 + low : high;
        if (code != 0) {
          out.push_back(static_cast<char16_t>(code));
          i += 2;
          continue;
        }
      }
    }
    out.push_back(text[i]);
  }
  return out;
}

std::u16string EscapeChars(std::u16string_view text, const char16_t* set) {
  std::u16string out;
  out.reserve(text.size());
  for (char16_t c : text) {
    if (c == u'\\' || (set && InSet(c, set))) out.push_back(u'\\');
    out.push_back(c);
  }
  return out;
}

std::u16string DecodeHtmlEntities(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size());
  const std::size_t n = text.size();
  std::size_t semicolon = 0;  // next ';' at or after the scan position (n: none)
  bool semicolonKnown = false;
  auto nextSemicolon = [&](std::size_t from) {
    if (!semicolonKnown || (semicolon < from && semicolon != n)) {
      const std::size_t at = text.find(u';', from);
      semicolon = at == std::u16string_view::npos ? n : at;
      semicolonKnown = true;
    }
    return semicolon;
  };

  std::size_t i = 0;
  while (i < n) {
    const char16_t c = text[i];
    if (c != u'&' || i + 1 == n) {
      out.push_back(c);
      ++i;
      continue;
    }
    if (text[i + 1] != u'#' || i + 2 >= n) {
      // Named reference: the name runs to the next ';' or the end.
      const std::size_t end = nextSemicolon(i + 1);
      const std::int32_t code = LookupHtmlEntity(text.substr(i + 1, end - (i + 1)));
      if (code != 0) {
        AppendCodePoint(out, static_cast<unsigned long long>(code));
        i = end < n ? end + 1 : n;
      } else {
        out.push_back(u'&');
        ++i;
      }
      continue;
    }
    // Numeric reference, hexadecimal after "&#x" or "&#X", decimal after "&#".
    // The scan resumes right after the digits (and a ';' that ends them), so a
    // reference without its ';' never swallows the text that follows it; "&#"
    // without digits is copied as written.
    const bool hex = text[i + 2] == u'x' || text[i + 2] == u'X';
    const std::size_t digits = i + (hex ? 3 : 2);
    std::size_t stop = digits;
    while (stop < n && (hex ? IsHexDigit(text[stop]) : (text[stop] >= u'0' && text[stop] <= u'9'))) ++stop;
    if (stop == digits) {
      out.push_back(u'&');
      ++i;
      continue;
    }
    // At most 64 digits are read; a longer number is out of range anyway.
    const std::u16string number(text.substr(digits, std::min<std::size_t>(stop - digits, 64)));
    unsigned long long code = 0;
    if (plat::swscanf(number.c_str(), hex ? u"%llx" : u"%llu", &code) == 1) AppendCodePoint(out, code);
    i = (stop < n && text[stop] == u';') ? stop + 1 : stop;
  }
  for (char16_t& ch : out) {
    if (ch == u'\n' || ch == u'\r') ch = u' ';
  }
  return out;
}

void AppendUrlParameter(std::u16string& url, std::u16string_view parameter) {
  url.push_back(url.find(u'?') == std::u16string::npos ? u'?' : u'&');
  url.append(parameter);
}

std::u16string MapToString(const CStringToStringMap& map) {
  std::u16string out;
  for (const auto& [key, value] : map) {
    out += EscapeChars(key, u":|");
    out.push_back(u':');
    out += EscapeChars(value, u":|");
    out.push_back(u'|');
  }
  return out;
}

std::u16string ListToString(const CStringList& list) {
  std::u16string out;
  for (const auto& item : list) {
    out += EscapeChars(item, u"|");
    out.push_back(u'|');
  }
  return out;
}
