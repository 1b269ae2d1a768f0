// Locale information, number/date/time formatting and character classes.
#include "platform/base/Locale.h"

#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/base/Text.h"

namespace plat {

namespace {

constexpr DWORD ERROR_INVALID_FLAGS = 1004;

// The posed locale. Never destroyed: code that runs at process exit may still
// format numbers and dates.
struct LocaleState {
  std::mutex mutex;
  std::shared_ptr<const LocaleSettings> settings = std::make_shared<const LocaleSettings>();
};

LocaleState& State() {
  static LocaleState* state = new LocaleState;
  return *state;
}

std::shared_ptr<const LocaleSettings> Current() {
  std::lock_guard<std::mutex> lock(State().mutex);
  return State().settings;
}

bool KnownLocale(LCID locale, const LocaleSettings& s) {
  return locale == LOCALE_USER_DEFAULT || locale == LOCALE_SYSTEM_DEFAULT || locale == LOCALE_NEUTRAL ||
         LANGIDFROMLCID(locale) == LANGIDFROMLCID(s.lcid);
}

// Copies text with its null as the platform's Get*W functions do.
int CopyOut(std::u16string_view text, char16_t* out, int cch) {
  int needed = static_cast<int>(text.size()) + 1;
  if (cch == 0) return needed;
  if (cch < 0 || !out) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (cch < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(out, text.data(), text.size() * sizeof(char16_t));
  out[text.size()] = 0;
  return needed;
}

std::u16string Hex4(DWORD v) {
  static const char16_t kHex[] = u"0123456789abcdef";
  std::u16string s(4, u'0');
  for (int i = 3; i >= 0; --i) {
    s[static_cast<std::size_t>(i)] = kHex[v & 0xF];
    v >>= 4;
  }
  return s;
}

const std::u16string* LocaleField(const LocaleSettings& s, LCTYPE type, std::u16string& scratch) {
  if (type >= LOCALE_SDAYNAME1 && type <= LOCALE_SDAYNAME7) return &s.dayNames[type - LOCALE_SDAYNAME1];
  if (type >= LOCALE_SABBREVDAYNAME1 && type <= LOCALE_SABBREVDAYNAME7)
    return &s.abbrevDayNames[type - LOCALE_SABBREVDAYNAME1];
  if (type >= LOCALE_SMONTHNAME1 && type <= LOCALE_SMONTHNAME12) return &s.monthNames[type - LOCALE_SMONTHNAME1];
  if (type >= LOCALE_SABBREVMONTHNAME1 && type <= LOCALE_SABBREVMONTHNAME12)
    return &s.abbrevMonthNames[type - LOCALE_SABBREVMONTHNAME1];
  switch (type) {
    case LOCALE_ILANGUAGE:
    case LOCALE_IDEFAULTLANGUAGE:
      scratch = Hex4(LANGIDFROMLCID(s.lcid));
      return &scratch;
    case LOCALE_SLANGUAGE: return &s.languageName;
    case LOCALE_SENGLANGUAGE: return &s.englishLanguage;
    case LOCALE_SNATIVELANGNAME: return &s.nativeLanguage;
    case LOCALE_SABBREVLANGNAME: return &s.abbrevLanguage;
    case LOCALE_SISO639LANGNAME: return &s.iso639;
    case LOCALE_SISO3166CTRYNAME: return &s.iso3166;
    case LOCALE_ICOUNTRY: return &s.countryCode;
    case LOCALE_SCOUNTRY:
    case LOCALE_SENGCOUNTRY: return &s.country;
    case LOCALE_SABBREVCTRYNAME: return &s.abbrevCountry;
    case LOCALE_SLIST: return &s.list;
    case LOCALE_IMEASURE: return &s.measure;
    case LOCALE_SDECIMAL: return &s.decimal;
    case LOCALE_STHOUSAND: return &s.thousand;
    case LOCALE_SGROUPING: return &s.grouping;
    case LOCALE_IDIGITS: return &s.digits;
    case LOCALE_ILZERO: return &s.leadingZero;
    case LOCALE_INEGNUMBER: return &s.negativeNumber;
    case LOCALE_SNATIVEDIGITS:
      scratch = u"0123456789";
      return &scratch;
    case LOCALE_SCURRENCY: return &s.currency;
    case LOCALE_SPOSITIVESIGN: return &s.positiveSign;
    case LOCALE_SNEGATIVESIGN: return &s.negativeSign;
    case LOCALE_SDATE: return &s.dateSeparator;
    case LOCALE_STIME: return &s.timeSeparator;
    case LOCALE_SSHORTDATE: return &s.shortDate;
    case LOCALE_SLONGDATE: return &s.longDate;
    case LOCALE_STIMEFORMAT: return &s.timeFormat;
    case LOCALE_IDATE: return &s.dateOrder;
    case LOCALE_ITIME: return &s.timeMode;
    case LOCALE_S1159: return &s.am;
    case LOCALE_S2359: return &s.pm;
    case LOCALE_IFIRSTDAYOFWEEK: return &s.firstDayOfWeek;
    case LOCALE_IDEFAULTCODEPAGE: return &s.oemCodePage;
    case LOCALE_IDEFAULTANSICODEPAGE: return &s.ansiCodePage;
    default: return nullptr;
  }
}

UINT ParseUInt(const std::u16string& s) {
  UINT v = 0;
  for (char16_t c : s) {
    if (c < u'0' || c > u'9') break;
    v = v * 10 + static_cast<UINT>(c - u'0');
  }
  return v;
}

// "3;0" (threes repeating) -> 3, "3;2;0" -> 32, "3" (one group) -> 30.
UINT GroupingFromText(const std::u16string& text) {
  std::vector<UINT> parts;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t semi = text.find(u';', start);
    std::u16string part = text.substr(start, semi == std::u16string::npos ? std::u16string::npos : semi - start);
    parts.push_back(ParseUInt(part));
    if (semi == std::u16string::npos) break;
    start = semi + 1;
  }
  if (!parts.empty() && parts.back() == 0) parts.pop_back();
  else parts.push_back(0);
  UINT v = 0;
  for (UINT p : parts) v = v * 10 + p;
  return v;
}

// Group sizes from the NUMBERFMTW value: digits most significant first name
// the groups from the decimal separator leftwards; a last digit other than 0
// repeats, a final 0 ends grouping.
std::u16string Group(const std::u16string& digits, UINT grouping, std::u16string_view sep) {
  std::vector<UINT> sizes;
  for (UINT g = grouping; g > 0; g /= 10) sizes.insert(sizes.begin(), g % 10);
  bool repeat = true;
  if (!sizes.empty() && sizes.back() == 0) {
    repeat = false;
    sizes.pop_back();
  }
  if (sizes.empty() || digits.size() <= sizes[0]) return digits;
  std::vector<std::u16string> groups;
  std::size_t end = digits.size();
  std::size_t i = 0;
  while (end > 0) {
    UINT size;
    if (i < sizes.size()) size = sizes[i];
    else if (repeat) size = sizes.back();
    else size = 0;
    if (size == 0 || size >= end) {
      groups.push_back(digits.substr(0, end));
      break;
    }
    groups.push_back(digits.substr(end - size, size));
    end -= size;
    ++i;
  }
  std::u16string out;
  for (std::size_t k = groups.size(); k-- > 0;) {
    out += groups[k];
    if (k > 0) out += sep;
  }
  return out;
}

// ---------------------------------------------------------- date and time

struct Token {
  bool field;
  char16_t letter;  // fields: the picture letter and how often it repeats
  int run;
  std::u16string text;  // literal text, quotes resolved
};

bool IsDateLetter(char16_t c) { return c == u'd' || c == u'M' || c == u'y' || c == u'g'; }
bool IsTimeLetter(char16_t c) { return c == u'h' || c == u'H' || c == u'm' || c == u's' || c == u't'; }

std::u16string Number(unsigned v, int minDigits) {
  std::u16string s;
  do {
    s.insert(s.begin(), static_cast<char16_t>(u'0' + v % 10));
    v /= 10;
  } while (v > 0);
  while (static_cast<int>(s.size()) < minDigits) s.insert(s.begin(), u'0');
  return s;
}

// Splits a picture into fields (runs of one picture letter) and literal text.
// Text in single quotes is literal; two quotes stand for one.
std::vector<Token> Tokenize(std::u16string_view pic, bool (*isLetter)(char16_t)) {
  std::vector<Token> tokens;
  auto literal = [&](std::u16string_view t) {
    if (!tokens.empty() && !tokens.back().field) tokens.back().text += t;
    else tokens.push_back(Token{false, 0, 0, std::u16string(t)});
  };
  std::size_t i = 0;
  while (i < pic.size()) {
    char16_t c = pic[i];
    if (c == u'\'') {
      if (i + 1 < pic.size() && pic[i + 1] == u'\'') {
        literal(u"'");
        i += 2;
        continue;
      }
      ++i;
      std::u16string text;
      while (i < pic.size()) {
        if (pic[i] == u'\'') {
          if (i + 1 < pic.size() && pic[i + 1] == u'\'') {
            text += u'\'';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        text += pic[i++];
      }
      literal(text);
      continue;
    }
    if (isLetter(c)) {
      std::size_t j = i;
      while (j < pic.size() && pic[j] == c) ++j;
      tokens.push_back(Token{true, c, static_cast<int>(j - i), std::u16string()});
      i = j;
      continue;
    }
    literal(std::u16string_view(&pic[i], 1));
    ++i;
  }
  return tokens;
}

// Removes the field at index k with the literal text that joins it to the
// field before it (or, for a leading field, to the field after it).
void DropField(std::vector<Token>& tokens, std::size_t k) {
  std::size_t from = k, to = k + 1;
  bool fieldBefore = false;
  for (std::size_t j = 0; j < k; ++j) fieldBefore |= tokens[j].field;
  if (fieldBefore && !tokens[k - 1].field) from = k - 1;
  else if (!fieldBefore && to < tokens.size() && !tokens[to].field) ++to;
  tokens.erase(tokens.begin() + static_cast<long>(from), tokens.begin() + static_cast<long>(to));
}

bool ValidDate(const SYSTEMTIME& st) {
  SYSTEMTIME d = st;
  d.wHour = d.wMinute = d.wSecond = d.wMilliseconds = 0;
  FILETIME ft;
  return SystemTimeToFileTime(&d, &ft) != FALSE;
}

WORD DayOfWeek(const SYSTEMTIME& st) {
  SYSTEMTIME d = st;
  d.wHour = d.wMinute = d.wSecond = d.wMilliseconds = 0;
  FILETIME ft;
  SYSTEMTIME out{};
  if (SystemTimeToFileTime(&d, &ft) && FileTimeToSystemTime(&ft, &out)) return out.wDayOfWeek;
  return 0;
}

// ---------------------------------------------------------- character classes

bool IsUnicodeSpace(char16_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

bool IsBlank(char16_t c) {
  return c == 0x09 || c == 0x20 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x202F ||
         c == 0x205F || c == 0x3000;
}

bool IsLetterOutsideCase(char16_t c) {
  return c == 0xAA || c == 0xBA || c == 0xDF || (c >= 0x0100 && c <= 0x024F) || (c >= 0x0250 && c <= 0x02AF) ||
         (c >= 0x0386 && c <= 0x03FF && c != 0x0387) || (c >= 0x0400 && c <= 0x0481) || (c >= 0x048A && c <= 0x052F) ||
         (c >= 0x0531 && c <= 0x0587) || (c >= 0x05D0 && c <= 0x05EA) || (c >= 0x0620 && c <= 0x064A) ||
         (c >= 0x0E01 && c <= 0x0E30) || (c >= 0x1E00 && c <= 0x1FFF) || (c >= 0x3041 && c <= 0x3096) ||
         (c >= 0x30A1 && c <= 0x30FA) || (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF) ||
         (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFF21 && c <= 0xFF3A) ||
         (c >= 0xFF41 && c <= 0xFF5A);
}

bool IsPunct(char16_t c) {
  if (c < 0x80) return (c >= 0x21 && c <= 0x2F) || (c >= 0x3A && c <= 0x40) || (c >= 0x5B && c <= 0x60) ||
                       (c >= 0x7B && c <= 0x7E);
  if (c >= 0xA1 && c <= 0xBF) return c != 0xAA && c != 0xBA && c != 0xB5;
  return c == 0xD7 || c == 0xF7 || (c >= 0x2010 && c <= 0x2027) || (c >= 0x2030 && c <= 0x205E) ||
         (c >= 0x20A0 && c <= 0x20CF) || (c >= 0x2100 && c <= 0x27FF) || (c >= 0x3001 && c <= 0x3003) ||
         (c >= 0x3008 && c <= 0x301F) || (c >= 0xFF01 && c <= 0xFF0F) || (c >= 0xFF1A && c <= 0xFF20);
}

WORD CType1(char16_t c) {
  WORD t = C1_DEFINED;
  bool upper = ToLower(c) != c;
  bool lower = ToUpper(c) != c;
  if (upper) t |= C1_UPPER | C1_ALPHA;
  if (lower) t |= C1_LOWER | C1_ALPHA;
  if (c == 0xDF || c == 0xFF || c == 0xB5) t |= C1_LOWER | C1_ALPHA;
  if (IsLetterOutsideCase(c)) t |= C1_ALPHA;
  if (c >= u'0' && c <= u'9') t |= C1_DIGIT | C1_XDIGIT;
  if ((c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F')) t |= C1_XDIGIT;
  if ((c >= 0xFF10 && c <= 0xFF19) || (c >= 0x0660 && c <= 0x0669)) t |= C1_DIGIT;
  if (IsUnicodeSpace(c)) t |= C1_SPACE;
  if (IsBlank(c)) t |= C1_BLANK;
  if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) t |= C1_CNTRL;
  if (IsPunct(c) && !(t & C1_ALPHA)) t |= C1_PUNCT;
  return t;
}

}  // namespace

void SetLocaleForTesting(const LocaleSettings& settings) {
  auto posed = std::make_shared<const LocaleSettings>(settings);
  std::lock_guard<std::mutex> lock(State().mutex);
  State().settings = std::move(posed);
}

void ResetLocaleForTesting() {
  auto fresh = std::make_shared<const LocaleSettings>();
  std::lock_guard<std::mutex> lock(State().mutex);
  State().settings = std::move(fresh);
}

LocaleSettings CurrentLocaleSettings() { return *Current(); }

LANGID GetUserDefaultLangID() { return LANGIDFROMLCID(Current()->lcid); }
LANGID GetSystemDefaultLangID() { return LANGIDFROMLCID(Current()->lcid); }
LCID GetUserDefaultLCID() { return Current()->lcid; }
LCID GetSystemDefaultLCID() { return Current()->lcid; }

int GetLocaleInfoW(LCID locale, LCTYPE type, char16_t* buf, int cch) {
  auto s = Current();
  if (!KnownLocale(locale, *s)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  bool asNumber = (type & LOCALE_RETURN_NUMBER) != 0;
  LCTYPE base = type & ~(LOCALE_NOUSEROVERRIDE | LOCALE_RETURN_NUMBER | 0x40000000u /* use ANSI code page */);
  std::u16string scratch;
  const std::u16string* value = LocaleField(*s, base, scratch);
  if (!value) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (asNumber) {
    // The value as a DWORD in the buffer: two characters' room.
    constexpr int kUnits = sizeof(DWORD) / sizeof(char16_t);
    if (cch == 0) return kUnits;
    if (!buf || cch < kUnits) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return 0;
    }
    DWORD v = (base == LOCALE_ILANGUAGE || base == LOCALE_IDEFAULTLANGUAGE) ? LANGIDFROMLCID(s->lcid)
                                                                            : ParseUInt(*value);
    std::memcpy(buf, &v, sizeof v);
    return kUnits;
  }
  return CopyOut(*value, buf, cch);
}

int GetNumberFormatW(LCID locale, DWORD flags, const char16_t* value, const NUMBERFMTW* fmt, char16_t* out,
                     int cch) {
  auto s = Current();
  if (!KnownLocale(locale, *s) || !value || cch < 0 || (cch > 0 && !out)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (fmt && (flags & LOCALE_NOUSEROVERRIDE)) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  NUMBERFMTW f{};
  if (fmt) {
    f = *fmt;
    if (!f.lpDecimalSep || !f.lpThousandSep || f.NegativeOrder > 4 || (f.Grouping > 9 && f.Grouping != 32 &&
        f.Grouping % 10 != 0)) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
  } else {
    f.NumDigits = ParseUInt(s->digits);
    f.LeadingZero = ParseUInt(s->leadingZero);
    f.Grouping = GroupingFromText(s->grouping);
    f.lpDecimalSep = s->decimal.c_str();
    f.lpThousandSep = s->thousand.c_str();
    f.NegativeOrder = ParseUInt(s->negativeNumber);
  }
  if (f.NumDigits > 100) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  // value: optional '-', digits, optional '.' and digits; at least one digit.
  const char16_t* p = value;
  bool negative = false;
  if (*p == u'-') {
    negative = true;
    ++p;
  }
  std::u16string intPart, fracPart;
  while (*p >= u'0' && *p <= u'9') intPart += *p++;
  if (*p == u'.') {
    ++p;
    while (*p >= u'0' && *p <= u'9') fracPart += *p++;
  }
  if (*p != 0 || (intPart.empty() && fracPart.empty())) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  // Round half away from zero to NumDigits.
  if (fracPart.size() > f.NumDigits) {
    bool up = fracPart[f.NumDigits] >= u'5';
    fracPart.resize(f.NumDigits);
    if (up) {
      std::u16string all = intPart + fracPart;
      std::size_t k = all.size();
      bool carry = true;
      while (carry && k > 0) {
        --k;
        if (all[k] == u'9') {
          all[k] = u'0';
        } else {
          ++all[k];
          carry = false;
        }
      }
      if (carry) all.insert(all.begin(), u'1');
      intPart = all.substr(0, all.size() - fracPart.size());
      fracPart = all.substr(all.size() - fracPart.size());
    }
  }
  while (fracPart.size() < f.NumDigits) fracPart += u'0';
  std::size_t nz = intPart.find_first_not_of(u'0');
  intPart = nz == std::u16string::npos ? std::u16string() : intPart.substr(nz);
  bool zero = intPart.empty() && fracPart.find_first_not_of(u'0') == std::u16string::npos;
  if (intPart.empty() && (f.LeadingZero || fracPart.empty())) intPart = u"0";
  std::u16string number = Group(intPart, f.Grouping, f.lpThousandSep);
  if (!fracPart.empty()) number += std::u16string(f.lpDecimalSep) + fracPart;
  if (negative && !zero) {
    const std::u16string& sign = s->negativeSign;
    switch (f.NegativeOrder) {
      case 0: number = u"(" + number + u")"; break;
      case 2: number = sign + u" " + number; break;
      case 3: number = number + sign; break;
      case 4: number = number + u" " + sign; break;
      default: number = sign + number; break;
    }
  }
  return CopyOut(number, out, cch);
}

int GetDateFormatW(LCID locale, DWORD flags, const SYSTEMTIME* date, const char16_t* format, char16_t* out,
                   int cch) {
  auto s = Current();
  if (!KnownLocale(locale, *s) || cch < 0 || (cch > 0 && !out)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  DWORD picks = flags & (DATE_SHORTDATE | DATE_LONGDATE);
  if (picks == (DATE_SHORTDATE | DATE_LONGDATE) || (format && picks)) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  SYSTEMTIME st{};
  if (date) st = *date;
  else GetLocalTime(&st);
  if (!ValidDate(st)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::u16string pic = format ? std::u16string(format) : (flags & DATE_LONGDATE) ? s->longDate : s->shortDate;
  std::vector<Token> tokens = Tokenize(pic, IsDateLetter);
  WORD dow = DayOfWeek(st);
  std::u16string result;
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    const Token& t = tokens[i];
    if (!t.field) {
      result += t.text;
      continue;
    }
    int n = t.run;
    switch (t.letter) {
      case u'd':
        if (n <= 2) result += Number(st.wDay, n);
        else if (n == 3) result += s->abbrevDayNames[(dow + 6) % 7];
        else result += s->dayNames[(dow + 6) % 7];
        break;
      case u'M':
        if (n <= 2) result += Number(st.wMonth, n);
        else if (n == 3) result += s->abbrevMonthNames[st.wMonth - 1];
        else result += s->monthNames[st.wMonth - 1];
        break;
      case u'y':
        if (n <= 2) result += Number(st.wYear % 100, n);
        else result += Number(st.wYear, 1);
        break;
      case u'g': result += u"A.D."; break;
    }
  }
  return CopyOut(result, out, cch);
}

int GetTimeFormatW(LCID locale, DWORD flags, const SYSTEMTIME* time, const char16_t* format, char16_t* out,
                   int cch) {
  auto s = Current();
  if (!KnownLocale(locale, *s) || cch < 0 || (cch > 0 && !out)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  SYSTEMTIME st{};
  if (time) st = *time;
  else GetLocalTime(&st);
  if (st.wHour > 23 || st.wMinute > 59 || st.wSecond > 59 || st.wMilliseconds > 999) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::u16string pic = format ? std::u16string(format) : s->timeFormat;
  std::vector<Token> tokens = Tokenize(pic, IsTimeLetter);
  auto drop = [&](auto pred) {
    for (std::size_t k = 0; k < tokens.size();) {
      if (tokens[k].field && pred(tokens[k].letter)) DropField(tokens, k);
      else ++k;
    }
  };
  if (flags & TIME_NOMINUTESORSECONDS) drop([](char16_t c) { return c == u'm' || c == u's'; });
  else if (flags & TIME_NOSECONDS) drop([](char16_t c) { return c == u's'; });
  if (flags & (TIME_NOTIMEMARKER | TIME_FORCE24HOURFORMAT)) drop([](char16_t c) { return c == u't'; });
  std::u16string result;
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    const Token& t = tokens[i];
    if (!t.field) {
      result += t.text;
      continue;
    }
    int n = t.run >= 2 ? 2 : 1;
    char16_t letter = t.letter;
    if (letter == u'h' && (flags & TIME_FORCE24HOURFORMAT)) letter = u'H';
    switch (letter) {
      case u'h': {
        unsigned h = st.wHour % 12;
        result += Number(h == 0 ? 12 : h, n);
        break;
      }
      case u'H': result += Number(st.wHour, n); break;
      case u'm': result += Number(st.wMinute, n); break;
      case u's': result += Number(st.wSecond, n); break;
      case u't': {
        const std::u16string& marker = st.wHour < 12 ? s->am : s->pm;
        result += n == 1 ? marker.substr(0, 1) : marker;
        break;
      }
    }
  }
  return CopyOut(result, out, cch);
}

BOOL GetStringTypeExW(LCID locale, DWORD infoType, const char16_t* src, int cch, WORD* out) {
  auto s = Current();
  if (!KnownLocale(locale, *s)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return GetStringTypeW(infoType, src, cch, out);
}

BOOL GetStringTypeW(DWORD infoType, const char16_t* src, int cch, WORD* out) {
  if (infoType != CT_CTYPE1) {
    SetLastError(infoType == CT_CTYPE2 || infoType == CT_CTYPE3 ? ERROR_NOT_SUPPORTED : ERROR_INVALID_FLAGS);
    return FALSE;
  }
  if (!src || !out || cch == 0 || cch < -1) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::size_t n = cch == -1 ? StrLen(src) + 1 : static_cast<std::size_t>(cch);
  for (std::size_t i = 0; i < n; ++i) out[i] = CType1(src[i]);
  return TRUE;
}

}  // namespace plat
