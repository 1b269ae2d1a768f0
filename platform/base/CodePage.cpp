// Code page conversion: the common single-byte code pages by table, the
// others over the host's iconv.
#include "platform/base/CodePage.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/base/CodePageTables.h"
#include "platform/base/Locale.h"
#include "platform/base/Text.h"

namespace plat {

namespace {

UINT Resolve(UINT codePage) {
  if (codePage == CP_ACP || codePage == 3 /* CP_THREAD_ACP */) {
    UINT cp = 0;
    for (char16_t c : CurrentLocaleSettings().ansiCodePage) cp = cp * 10 + static_cast<UINT>(c - u'0');
    return cp ? cp : 1252;
  }
  if (codePage == CP_OEMCP) {
    UINT cp = 0;
    for (char16_t c : CurrentLocaleSettings().oemCodePage) cp = cp * 10 + static_cast<UINT>(c - u'0');
    return cp ? cp : 437;
  }
  return codePage;
}

// The host's name of a code page, or empty when there is none.
std::string HostName(UINT cp) {
  if (cp >= 28591 && cp <= 28599) return "ISO-8859-" + std::to_string(cp - 28590);
  switch (cp) {
    case 28603: return "ISO-8859-13";
    case 28605: return "ISO-8859-15";
    case 20127: return "ASCII";
    case 20866: return "KOI8-R";
    case 21866: return "KOI8-U";
    case 51932: return "EUC-JP";
    case 51936: return "EUC-CN";
    case 51949: return "EUC-KR";
    case 50220: return "ISO-2022-JP";
    case 52936: return "HZ";
    case 54936: return "GB18030";
    case 10000: return "MACINTOSH";
    case 1200: return "UTF-16LE";
    case 1201: return "UTF-16BE";
    case 12000: return "UTF-32LE";
    case 12001: return "UTF-32BE";
    case CP_UTF7: return "UTF-7";
    case CP_UTF8: return "UTF-8";
    default: break;
  }
  if ((cp >= 1250 && cp <= 1258) || cp == 874 || cp == 932 || cp == 936 || cp == 949 || cp == 950 ||
      cp == 437 || cp == 737 || cp == 775 || (cp >= 850 && cp <= 869) || cp == 1361)
    return "CP" + std::to_string(cp);
  return std::string();
}

class Converter {
 public:
  Converter(const std::string& to, const std::string& from) : cd_(iconv_open(to.c_str(), from.c_str())) {}
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Converts what it can of [in, in + n) into out. Returns the errno of the
  // stop (0: all done); in and n advance past what was converted.
  int Run(const char*& in, std::size_t& n, std::string& out) {
    char buf[256];
    while (n > 0) {
      char* inp = const_cast<char*>(in);
      char* outp = buf;
      std::size_t room = sizeof buf;
      std::size_t r = iconv(cd_, &inp, &n, &outp, &room);
      out.append(buf, static_cast<std::size_t>(outp - buf));
      in = inp;
      if (r == static_cast<std::size_t>(-1)) {
        if (errno == E2BIG) continue;
        return errno;
      }
    }
    // Flush any shift state.
    char* outp = buf;
    std::size_t room = sizeof buf;
    iconv(cd_, nullptr, nullptr, &outp, &room);
    out.append(buf, static_cast<std::size_t>(outp - buf));
    return 0;
  }

 private:
  iconv_t cd_;
};

}  // namespace

const char16_t* SingleByteUpperHalf(UINT codePage) {
  switch (Resolve(codePage)) {
    case 28591: return codepage_tables::kUpper28591.data();
    case 28605: return codepage_tables::kUpper28605.data();
    case 1250: return codepage_tables::kUpper1250.data();
    case 1251: return codepage_tables::kUpper1251.data();
    case 1252: return codepage_tables::kUpper1252.data();
    default: return nullptr;
  }
}

BOOL IsValidCodePage(UINT codePage) {
  std::string name = HostName(Resolve(codePage));
  if (name.empty()) return FALSE;
  Converter c("UTF-16LE", name);
  return c.ok() ? TRUE : FALSE;
}

int MultiByteToWideChar(UINT codePage, DWORD flags, const char* src, int cb, char16_t* dst, int cch) {
  std::string name = HostName(Resolve(codePage));
  if (name.empty() || !src || cb == 0 || cb < -1 || cch < 0 || (cch > 0 && !dst)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::size_t n = cb == -1 ? std::strlen(src) + 1 : static_cast<std::size_t>(cb);
  if (const char16_t* upper = SingleByteUpperHalf(codePage)) {
    // One unit per byte.
    if (flags & MB_ERR_INVALID_CHARS) {
      for (std::size_t i = 0; i < n; ++i) {
        const unsigned char b = static_cast<unsigned char>(src[i]);
        if (b >= 0x80 && upper[b - 0x80] == 0xFFFD) {
          SetLastError(ERROR_NO_UNICODE_TRANSLATION);
          return 0;
        }
      }
    }
    if (cch == 0) return static_cast<int>(n);
    if (n > static_cast<std::size_t>(cch)) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return 0;
    }
    for (std::size_t i = 0; i < n; ++i) {
      const unsigned char b = static_cast<unsigned char>(src[i]);
      dst[i] = b < 0x80 ? b : upper[b - 0x80];
    }
    return static_cast<int>(n);
  }
  Converter conv("UTF-16LE", name);
  if (!conv.ok()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const char* in = src;
  std::string out;
  while (n > 0) {
    int err = conv.Run(in, n, out);
    if (err == 0) break;
    if (err == EINVAL) break;  // incomplete sequence at the end: nothing for it
    if (flags & MB_ERR_INVALID_CHARS) {
      SetLastError(ERROR_NO_UNICODE_TRANSLATION);
      return 0;
    }
    out.append("\xFD\xFF", 2);  // U+FFFD for the byte that does not convert
    ++in;
    --n;
  }
  std::size_t units = out.size() / 2;
  if (units == 0) {
    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return 0;
  }
  if (cch == 0) return static_cast<int>(units);
  if (units > static_cast<std::size_t>(cch)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(dst, out.data(), units * 2);
  return static_cast<int>(units);
}

int WideCharToMultiByte(UINT codePage, DWORD flags, const char16_t* src, int cch, char* dst, int cb,
                        const char* defaultChar, BOOL* usedDefault) {
  UINT cp = Resolve(codePage);
  std::string name = HostName(cp);
  bool unicode = cp == CP_UTF8 || cp == CP_UTF7;
  if (name.empty() || !src || cch == 0 || cch < -1 || cb < 0 || (cb > 0 && !dst) ||
      (unicode && (defaultChar || usedDefault))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (usedDefault) *usedDefault = FALSE;
  std::size_t units = cch == -1 ? StrLen(src) + 1 : static_cast<std::size_t>(cch);
  std::string out;
  if (cp == CP_UTF8) {
    // Unpaired surrogates become U+FFFD.
    out = Utf16ToUtf8(std::u16string_view(src, units));
  } else {
    Converter conv(name, "UTF-16LE");
    if (!conv.ok()) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    const char* in = reinterpret_cast<const char*>(src);
    std::size_t n = units * 2;
    const std::string fallback = defaultChar ? std::string(defaultChar, 1) : std::string("?");
    while (n > 0) {
      int err = conv.Run(in, n, out);
      if (err == 0) break;
      // A character the code page lacks (or a broken surrogate): the default.
      if ((flags & WC_ERR_INVALID_CHARS) && unicode) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
      }
      out += fallback;
      if (usedDefault) *usedDefault = TRUE;
      char16_t c;
      std::memcpy(&c, in, 2);
      std::size_t skip = 2;
      if (c >= 0xD800 && c <= 0xDBFF && n >= 4) {
        char16_t d;
        std::memcpy(&d, in + 2, 2);
        if (d >= 0xDC00 && d <= 0xDFFF) skip = 4;
      }
      if (skip > n) skip = n;
      in += skip;
      n -= skip;
    }
  }
  if (cb == 0) return static_cast<int>(out.size());
  if (out.size() > static_cast<std::size_t>(cb)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(dst, out.data(), out.size());
  return static_cast<int>(out.size());
}

}  // namespace plat
