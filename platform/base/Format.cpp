// printf and scanf over UTF-16 text.
//
// Numbers are formatted by the C library (snprintf with the same flags, width
// and precision), so their text is exactly C's; strings and characters are
// handled here because they are UTF-16. Length modifiers follow the platform,
// where long is 32 bits: l is 32-bit for integers, ll and I64 64-bit.
#include "platform/base/Format.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/base/Text.h"

namespace plat {

namespace {

enum class Length { None, hh, h, l, ll, L, z, j, t, I32, I64, w };

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }


// Reads a length modifier at p; advances p.
Length ReadLength(const char16_t*& p) {
  switch (*p) {
    case u'h':
      if (p[1] == u'h') { p += 2; return Length::hh; }
      ++p;
      return Length::h;
    case u'l':
      if (p[1] == u'l') { p += 2; return Length::ll; }
      ++p;
      return Length::l;
    case u'L': ++p; return Length::L;
    case u'q': ++p; return Length::ll;
    case u'z': ++p; return Length::z;
    case u'j': ++p; return Length::j;
    case u't': ++p; return Length::t;
    case u'w': ++p; return Length::w;
    case u'I':
      if (p[1] == u'6' && p[2] == u'4') { p += 3; return Length::I64; }
      if (p[1] == u'3' && p[2] == u'2') { p += 3; return Length::I32; }
      ++p;
      return Length::z;  // I alone: pointer-sized
    default: return Length::None;
  }
}

// ---------------------------------------------------------------- printf

struct Conversion {
  bool left = false, zero = false, plus = false, space = false, alt = false;
  int width = -1;
  int precision = -1;
};

void Pad(std::u16string& out, std::size_t n, char16_t c) { out.append(n, c); }

void AppendPadded(std::u16string& out, const Conversion& s, std::u16string_view text) {
  std::size_t w = s.width > 0 ? static_cast<std::size_t>(s.width) : 0;
  std::size_t fill = w > text.size() ? w - text.size() : 0;
  if (!s.left) Pad(out, fill, u' ');
  out.append(text);
  if (s.left) Pad(out, fill, u' ');
}

// The same conversion as a narrow format for the C library: "%" flags width precision length conversion.
std::string CSpec(const Conversion& s, const char* mods, char conv) {
  std::string f = "%";
  if (s.left) f += '-';
  if (s.zero) f += '0';
  if (s.plus) f += '+';
  if (s.space) f += ' ';
  if (s.alt) f += '#';
  if (s.width >= 0) f += std::to_string(s.width);
  if (s.precision >= 0) f += "." + std::to_string(s.precision);
  f += mods;
  f += conv;
  return f;
}

template <typename T>
void AppendC(std::u16string& out, const std::string& cfmt, T value) {
  char small[128];
  int n = std::snprintf(small, sizeof small, cfmt.c_str(), value);
  if (n < 0) return;
  if (static_cast<std::size_t>(n) < sizeof small) {
    out += Latin1ToUtf16(std::string_view(small, static_cast<std::size_t>(n)));
    return;
  }
  std::string big(static_cast<std::size_t>(n) + 1, '\0');
  std::snprintf(big.data(), big.size(), cfmt.c_str(), value);
  big.resize(static_cast<std::size_t>(n));
  out += Latin1ToUtf16(big);
}

bool IsWideLength(Length len) { return len == Length::l || len == Length::w; }

void Format(std::u16string& out, const char16_t* fmt, va_list* ap) {
  if (!fmt) return;
  const char16_t* p = fmt;
  while (*p) {
    if (*p != u'%') {
      const char16_t* start = p;
      while (*p && *p != u'%') ++p;
      out.append(start, static_cast<std::size_t>(p - start));
      continue;
    }
    const char16_t* specStart = p;
    ++p;
    if (*p == u'%') {
      out += u'%';
      ++p;
      continue;
    }
    Conversion s;
    for (;; ++p) {
      if (*p == u'-') s.left = true;
      else if (*p == u'0') s.zero = true;
      else if (*p == u'+') s.plus = true;
      else if (*p == u' ') s.space = true;
      else if (*p == u'#') s.alt = true;
      else break;
    }
    if (*p == u'*') {
      int w = va_arg(*ap, int);
      if (w < 0) {
        s.left = true;
        w = w == INT_MIN ? INT_MAX : -w;
      }
      s.width = w;
      ++p;
    } else if (IsDigit(*p)) {
      long w = 0;
      while (IsDigit(*p)) {
        if (w < INT_MAX / 10) w = w * 10 + (*p - u'0');
        ++p;
      }
      s.width = static_cast<int>(w);
    }
    if (*p == u'.') {
      ++p;
      if (*p == u'*') {
        int pr = va_arg(*ap, int);
        s.precision = pr < 0 ? -1 : pr;
        ++p;
      } else {
        long pr = 0;
        while (IsDigit(*p)) {
          if (pr < INT_MAX / 10) pr = pr * 10 + (*p - u'0');
          ++p;
        }
        s.precision = static_cast<int>(pr);
      }
    }
    Length len = ReadLength(p);
    char16_t conv = *p;
    if (conv == 0) {
      out.append(specStart);
      return;
    }
    ++p;
    switch (conv) {
      case u'd':
      case u'i': {
        long long v;
        switch (len) {
          case Length::hh: v = static_cast<signed char>(va_arg(*ap, int)); break;
          case Length::h: v = static_cast<short>(va_arg(*ap, int)); break;
          case Length::ll: case Length::I64: case Length::j: v = va_arg(*ap, long long); break;
          case Length::z: case Length::t: v = static_cast<long long>(va_arg(*ap, std::intptr_t)); break;
          default: v = va_arg(*ap, int); break;
        }
        AppendC(out, CSpec(s, "ll", 'd'), v);
        break;
      }
      case u'u':
      case u'x':
      case u'X':
      case u'o': {
        unsigned long long v;
        switch (len) {
          case Length::hh: v = static_cast<unsigned char>(va_arg(*ap, unsigned)); break;
          case Length::h: v = static_cast<unsigned short>(va_arg(*ap, unsigned)); break;
          case Length::ll: case Length::I64: case Length::j: v = va_arg(*ap, unsigned long long); break;
          case Length::z: case Length::t: v = static_cast<unsigned long long>(va_arg(*ap, std::uintptr_t)); break;
          default: v = va_arg(*ap, unsigned); break;
        }
        AppendC(out, CSpec(s, "ll", static_cast<char>(conv)), v);
        break;
      }
      case u'f': case u'F': case u'e': case u'E': case u'g': case u'G': case u'a': case u'A': {
        if (len == Length::L) {
          long double v = va_arg(*ap, long double);
          AppendC(out, CSpec(s, "L", static_cast<char>(conv)), v);
        } else {
          double v = va_arg(*ap, double);
          AppendC(out, CSpec(s, "", static_cast<char>(conv)), v);
        }
        break;
      }
      case u'p': {
        void* v = va_arg(*ap, void*);
        AppendC(out, CSpec(s, "", 'p'), v);
        break;
      }
      case u'c':
      case u'C': {
        int v = va_arg(*ap, int);
        bool narrow = len == Length::h || (conv == u'C' && !IsWideLength(len));
        char16_t c = narrow ? static_cast<char16_t>(static_cast<unsigned char>(v)) : static_cast<char16_t>(v);
        Conversion cs = s;
        AppendPadded(out, cs, std::u16string_view(&c, 1));
        break;
      }
      case u's':
      case u'S': {
        bool narrow = len == Length::h || (conv == u'S' && !IsWideLength(len));
        std::u16string text;
        if (narrow) {
          const char* v = va_arg(*ap, const char*);
          text = v ? Utf8ToUtf16(v) : u"(null)";
        } else {
          const char16_t* v = va_arg(*ap, const char16_t*);
          if (!v) {
            text = u"(null)";
          } else if (s.precision >= 0) {
            // Reads no further than the precision: the text need not be terminated.
            std::size_t n = 0;
            while (n < static_cast<std::size_t>(s.precision) && v[n]) ++n;
            text.assign(v, n);
          } else {
            text = v;
          }
        }
        if (s.precision >= 0 && text.size() > static_cast<std::size_t>(s.precision))
          text.resize(static_cast<std::size_t>(s.precision));
        AppendPadded(out, s, text);
        break;
      }
      default:
        // Not a conversion of this subset (%n included): copied as written.
        out.append(specStart, static_cast<std::size_t>(p - specStart));
        break;
    }
  }
}

// ----------------------------------------------------------------- scanf

struct Input {
  const char16_t* start;
  const char16_t* p;
  bool AtEnd() const { return *p == 0; }
};

int DigitValue(char16_t c, int base) {
  int v;
  if (c >= u'0' && c <= u'9') v = c - u'0';
  else if (c >= u'a' && c <= u'z') v = c - u'a' + 10;
  else if (c >= u'A' && c <= u'Z') v = c - u'A' + 10;
  else return -1;
  return v < base ? v : -1;
}

enum class ScanResult { Ok, Mismatch, InputEnd };

// Reads an integer of the given base (0: C's %i detection) from at most width
// characters. The value is the two's complement of the magnitude for a minus
// sign; a magnitude beyond 64 bits saturates.
ScanResult ScanInteger(Input& in, int base, std::size_t width, unsigned long long& value, bool& negative) {
  const char16_t* q = in.p;
  std::size_t left = width;
  auto avail = [&]() { return left > 0 && *q != 0; };
  negative = false;
  if (in.AtEnd()) return ScanResult::InputEnd;
  if (avail() && (*q == u'+' || *q == u'-')) {
    negative = *q == u'-';
    ++q;
    --left;
  }
  // Prefix "0x" only counts when a hex digit follows it.
  if ((base == 16 || base == 0) && left >= 3 && q[0] == u'0' && (q[1] == u'x' || q[1] == u'X') &&
      DigitValue(q[2], 16) >= 0) {
    q += 2;
    left -= 2;
    base = 16;
  } else if (base == 0) {
    base = (avail() && *q == u'0') ? 8 : 10;
  }
  unsigned long long v = 0;
  bool overflow = false;
  std::size_t digits = 0;
  while (avail()) {
    int d = DigitValue(*q, base);
    if (d < 0) break;
    if (v > (ULLONG_MAX - static_cast<unsigned>(d)) / static_cast<unsigned>(base)) overflow = true;
    else v = v * static_cast<unsigned>(base) + static_cast<unsigned>(d);
    ++q;
    --left;
    ++digits;
  }
  if (digits == 0) return ScanResult::Mismatch;
  if (overflow) v = ULLONG_MAX;
  value = negative ? 0ull - v : v;
  in.p = q;
  return ScanResult::Ok;
}

bool MatchesNoCase(const char16_t* q, std::size_t left, const char* word) {
  std::size_t n = std::strlen(word);
  if (left < n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    char16_t c = q[i];
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    if (c != static_cast<unsigned char>(word[i])) return false;
  }
  return true;
}

// The longest prefix (within width) that forms a floating-point number.
ScanResult ScanFloat(Input& in, std::size_t width, long double& value) {
  if (in.AtEnd()) return ScanResult::InputEnd;
  const char16_t* q = in.p;
  std::size_t left = width;
  std::string text;
  auto avail = [&]() { return left > 0 && *q != 0; };
  auto take = [&]() {
    text += static_cast<char>(*q);
    ++q;
    --left;
  };
  if (avail() && (*q == u'+' || *q == u'-')) take();
  if (MatchesNoCase(q, left, "infinity") || MatchesNoCase(q, left, "inf")) {
    std::size_t n = MatchesNoCase(q, left, "infinity") ? 8 : 3;
    for (std::size_t i = 0; i < n; ++i) take();
  } else if (MatchesNoCase(q, left, "nan")) {
    for (int i = 0; i < 3; ++i) take();
  } else {
    bool hex = left >= 3 && q[0] == u'0' && (q[1] == u'x' || q[1] == u'X') &&
               (DigitValue(q[2], 16) >= 0 || (q[2] == u'.' && left >= 4 && DigitValue(q[3], 16) >= 0));
    int base = 10;
    if (hex) {
      take();
      take();
      base = 16;
    }
    std::size_t mantissa = 0;
    while (avail() && DigitValue(*q, base) >= 0) { take(); ++mantissa; }
    if (avail() && *q == u'.') {
      take();
      while (avail() && DigitValue(*q, base) >= 0) { take(); ++mantissa; }
    }
    if (mantissa == 0) return ScanResult::Mismatch;
    // An exponent counts only with at least one digit.
    char16_t e = base == 16 ? u'p' : u'e';
    if (left >= 2 && (*q == e || *q == e - 32)) {
      std::size_t skip = 1;
      if (q[1] == u'+' || q[1] == u'-') skip = 2;
      if (left > skip && IsDigit(q[skip])) {
        for (std::size_t i = 0; i < skip; ++i) take();
        while (avail() && IsDigit(*q)) take();
      }
    }
  }
  if (text.empty() || text == "+" || text == "-") return ScanResult::Mismatch;
  value = std::strtold(text.c_str(), nullptr);
  in.p = q;
  return ScanResult::Ok;
}

// Parses a scanset at p (just after '['): its members, listed, ranges expanded.
bool ParseScanset(const char16_t*& p, std::u16string& members, bool& invert) {
  invert = false;
  if (*p == u'^') {
    invert = true;
    ++p;
  }
  members.clear();
  if (*p == u']') {
    members += u']';
    ++p;
  }
  while (*p && *p != u']') {
    if (p[1] == u'-' && p[2] && p[2] != u']' && p[2] >= p[0]) {
      for (char32_t c = p[0]; c <= p[2]; ++c) members += static_cast<char16_t>(c);
      p += 3;
    } else {
      members += *p;
      ++p;
    }
  }
  if (*p != u']') return false;
  ++p;
  return true;
}

void StoreSigned(va_list* ap, Length len, unsigned long long v) {
  switch (len) {
    case Length::hh: *va_arg(*ap, signed char*) = static_cast<signed char>(v); break;
    case Length::h: *va_arg(*ap, short*) = static_cast<short>(v); break;
    case Length::ll: case Length::I64: case Length::j: case Length::L:
      *va_arg(*ap, long long*) = static_cast<long long>(v);
      break;
    case Length::z: case Length::t: *va_arg(*ap, std::intptr_t*) = static_cast<std::intptr_t>(v); break;
    default: *va_arg(*ap, std::int32_t*) = static_cast<std::int32_t>(v); break;
  }
}

int Scan(const char16_t* text, const char16_t* fmt, va_list* ap) {
  if (!text || !fmt) return -1;
  Input in{text, text};
  int assigned = 0;
  bool converted = false;  // a conversion (other than %n) has completed
  auto inputFailure = [&]() { return converted ? assigned : -1; };
  const char16_t* p = fmt;
  while (*p) {
    if (plat::IsAsciiSpace(*p)) {
      while (plat::IsAsciiSpace(*p)) ++p;
      while (plat::IsAsciiSpace(*in.p)) ++in.p;
      continue;
    }
    if (*p != u'%') {
      if (in.AtEnd()) return inputFailure();
      if (*in.p != *p) return assigned;
      ++in.p;
      ++p;
      continue;
    }
    ++p;
    bool suppress = false;
    if (*p == u'*') {
      suppress = true;
      ++p;
    }
    std::size_t width = 0;
    bool hasWidth = false;
    while (IsDigit(*p)) {
      hasWidth = true;
      if (width < 100000000) width = width * 10 + static_cast<std::size_t>(*p - u'0');
      ++p;
    }
    if (hasWidth && width == 0) return assigned;  // a width of 0 is not valid
    Length len = ReadLength(p);
    char16_t conv = *p;
    if (conv == 0) return assigned;
    ++p;
    if (conv != u'[' && conv != u'c' && conv != u'C' && conv != u'n') {
      while (plat::IsAsciiSpace(*in.p)) ++in.p;
    }
    std::size_t maxw = hasWidth ? width : SIZE_MAX;
    switch (conv) {
      case u'%':
        if (in.AtEnd()) return inputFailure();
        if (*in.p != u'%') return assigned;
        ++in.p;
        break;
      case u'n':
        if (!suppress) StoreSigned(ap, len, static_cast<unsigned long long>(in.p - in.start));
        break;
      case u'd': case u'i': case u'u': case u'x': case u'X': case u'o': case u'p': {
        int base = conv == u'd' || conv == u'u' ? 10 : conv == u'i' ? 0 : conv == u'o' ? 8 : 16;
        unsigned long long v = 0;
        bool negative = false;
        ScanResult r = ScanInteger(in, base, maxw, v, negative);
        if (r == ScanResult::InputEnd) return inputFailure();
        if (r == ScanResult::Mismatch) return assigned;
        converted = true;
        if (!suppress) {
          if (conv == u'p') *va_arg(*ap, void**) = reinterpret_cast<void*>(static_cast<std::uintptr_t>(v));
          else StoreSigned(ap, len, v);
          ++assigned;
        }
        break;
      }
      case u'f': case u'F': case u'e': case u'E': case u'g': case u'G': case u'a': case u'A': {
        long double v = 0;
        ScanResult r = ScanFloat(in, maxw, v);
        if (r == ScanResult::InputEnd) return inputFailure();
        if (r == ScanResult::Mismatch) return assigned;
        converted = true;
        if (!suppress) {
          if (len == Length::L) *va_arg(*ap, long double*) = v;
          else if (len == Length::l || len == Length::ll) *va_arg(*ap, double*) = static_cast<double>(v);
          else *va_arg(*ap, float*) = static_cast<float>(v);
          ++assigned;
        }
        break;
      }
      case u's': case u'S': case u'c': case u'C': case u'[': {
        bool narrow = len == Length::h || ((conv == u'S' || conv == u'C') && !IsWideLength(len));
        bool isChar = conv == u'c' || conv == u'C';
        std::u16string members;
        bool invert = false;
        if (conv == u'[' && !ParseScanset(p, members, invert)) return assigned;
        if (isChar && !hasWidth) maxw = 1;
        if (in.AtEnd()) return inputFailure();
        // A narrow field's width counts the bytes stored (UTF-8), a wide
        // field's the code units. A character that does not fit in the room
        // left ends the field; alone it is stored as '?'.
        const char16_t* q = in.p;
        std::size_t n = 0;
        std::string bytes;
        auto room = [&]() { return narrow ? bytes.size() < maxw : n < maxw; };
        while (q[n] && room()) {
          char16_t c = q[n];
          if (conv == u'[') {
            bool member = members.find(c) != std::u16string::npos;
            if (member == invert) break;
          } else if (!isChar && plat::IsAsciiSpace(c)) {
            break;
          }
          if (narrow) {
            std::size_t units = (c >= 0xD800 && c <= 0xDBFF && q[n + 1] >= 0xDC00 && q[n + 1] <= 0xDFFF) ? 2 : 1;
            std::string b = Utf16ToUtf8(std::u16string_view(q + n, units));
            if (bytes.size() + b.size() > maxw) {
              if (!bytes.empty() && !isChar) break;
              b = "?";
            }
            bytes += b;
            n += units;
          } else {
            ++n;
          }
        }
        if (isChar && room() && q[n] == 0) return inputFailure();  // too few characters left
        if (n == 0) return assigned;
        converted = true;
        if (!suppress) {
          if (narrow) {
            char* dst = va_arg(*ap, char*);
            std::memcpy(dst, bytes.data(), bytes.size());
            if (!isChar) dst[bytes.size()] = 0;
          } else {
            char16_t* dst = va_arg(*ap, char16_t*);
            std::memcpy(dst, q, n * sizeof(char16_t));
            if (!isChar) dst[n] = 0;
          }
          ++assigned;
        }
        in.p = q + n;
        break;
      }
      default:
        return assigned;
    }
  }
  return assigned;
}

}  // namespace

int vswprintf(char16_t* buf, std::size_t count, const char16_t* fmt, va_list args) {
  std::u16string out = FormatStringV(fmt, args);
  if (!buf || count == 0) return -1;
  if (out.size() >= count) {
    std::memcpy(buf, out.data(), (count - 1) * sizeof(char16_t));
    buf[count - 1] = 0;
    return -1;
  }
  std::memcpy(buf, out.data(), out.size() * sizeof(char16_t));
  buf[out.size()] = 0;
  return static_cast<int>(out.size());
}

int swprintf(char16_t* buf, std::size_t count, const char16_t* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  int n = vswprintf(buf, count, fmt, args);
  va_end(args);
  return n;
}

std::u16string FormatStringV(const char16_t* fmt, va_list args) {
  std::u16string out;
  va_list ap;
  va_copy(ap, args);
  Format(out, fmt, &ap);
  va_end(ap);
  return out;
}

std::u16string FormatString(const char16_t* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::u16string out = FormatStringV(fmt, args);
  va_end(args);
  return out;
}

int vswscanf(const char16_t* text, const char16_t* fmt, va_list args) {
  va_list ap;
  va_copy(ap, args);
  int n = Scan(text, fmt, &ap);
  va_end(ap);
  return n;
}

int swscanf(const char16_t* text, const char16_t* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  int n = vswscanf(text, fmt, args);
  va_end(args);
  return n;
}

}  // namespace plat
