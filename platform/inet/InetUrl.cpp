// URL functions of the internet library: cracking, creating, combining and
// canonicalizing, all in our own code.
#include "platform/inet/InetUrl.h"

#include <cstring>

#include "platform/base/PercentEscape.h"
#include "platform/base/Text.h"
#include "platform/inet/Inet.h"

namespace plat::inet {

namespace {

bool IsAlpha(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

bool IsValidScheme(std::u16string_view s) {
  if (s.empty() || !IsAlpha(s[0])) return false;
  for (char16_t c : s) {
    if (!IsAlpha(c) && !IsDigit(c) && c != u'+' && c != u'-' && c != u'.') return false;
  }
  return true;
}

std::u16string MergePaths(const UriRef& base, const std::u16string& relPath) {
  if (base.hasAuthority && base.path.empty()) return u"/" + relPath;
  std::size_t slash = base.path.rfind(u'/');
  if (slash == std::u16string::npos) return relPath;
  return base.path.substr(0, slash + 1) + relPath;
}

}  // namespace

UriRef ParseUriRef(std::u16string_view text) {
  UriRef ref;
  std::size_t pos = 0;
  std::size_t colon = text.find_first_of(u":/?#");
  if (colon != std::u16string_view::npos && text[colon] == u':' && IsValidScheme(text.substr(0, colon))) {
    ref.hasScheme = true;
    ref.scheme = std::u16string(text.substr(0, colon));
    pos = colon + 1;
  }
  if (text.substr(pos, 2) == u"//") {
    ref.hasAuthority = true;
    std::size_t end = text.find_first_of(u"/?#", pos + 2);
    if (end == std::u16string_view::npos) end = text.size();
    ref.authority = std::u16string(text.substr(pos + 2, end - pos - 2));
    pos = end;
  }
  std::size_t end = text.find_first_of(u"?#", pos);
  if (end == std::u16string_view::npos) end = text.size();
  ref.path = std::u16string(text.substr(pos, end - pos));
  pos = end;
  if (pos < text.size() && text[pos] == u'?') {
    ref.hasQuery = true;
    end = text.find(u'#', pos);
    if (end == std::u16string_view::npos) end = text.size();
    ref.query = std::u16string(text.substr(pos + 1, end - pos - 1));
    pos = end;
  }
  if (pos < text.size() && text[pos] == u'#') {
    ref.hasFragment = true;
    ref.fragment = std::u16string(text.substr(pos + 1));
  }
  return ref;
}

std::u16string ComposeUriRef(const UriRef& ref) {
  std::u16string out;
  if (ref.hasScheme) out += ref.scheme + u":";
  if (ref.hasAuthority) out += u"//" + ref.authority;
  out += ref.path;
  if (ref.hasQuery) out += u"?" + ref.query;
  if (ref.hasFragment) out += u"#" + ref.fragment;
  return out;
}

std::u16string RemoveDotSegments(std::u16string_view path) {
  std::u16string in(path);
  std::u16string out;
  auto dropLastSegment = [&out] {
    std::size_t slash = out.rfind(u'/');
    out.erase(slash == std::u16string::npos ? 0 : slash);
  };
  while (!in.empty()) {
    if (in.starts_with(u"../")) {
      in.erase(0, 3);
    } else if (in.starts_with(u"./")) {
      in.erase(0, 2);
    } else if (in.starts_with(u"/./")) {
      in.erase(0, 2);
    } else if (in == u"/.") {
      in = u"/";
    } else if (in.starts_with(u"/../")) {
      in.erase(0, 3);
      dropLastSegment();
    } else if (in == u"/..") {
      in = u"/";
      dropLastSegment();
    } else if (in == u"." || in == u"..") {
      in.clear();
    } else {
      std::size_t start = in[0] == u'/' ? 1 : 0;
      std::size_t next = in.find(u'/', start);
      if (next == std::u16string::npos) next = in.size();
      out += in.substr(0, next);
      in.erase(0, next);
    }
  }
  return out;
}

UriRef ResolveReference(const UriRef& base, const UriRef& r) {
  UriRef t;
  if (r.hasScheme) {
    t = r;
    t.path = RemoveDotSegments(r.path);
  } else {
    if (r.hasAuthority) {
      t.hasAuthority = true;
      t.authority = r.authority;
      t.path = RemoveDotSegments(r.path);
      t.hasQuery = r.hasQuery;
      t.query = r.query;
    } else {
      if (r.path.empty()) {
        t.path = base.path;
        t.hasQuery = r.hasQuery ? true : base.hasQuery;
        t.query = r.hasQuery ? r.query : base.query;
      } else {
        t.path = r.path[0] == u'/' ? RemoveDotSegments(r.path) : RemoveDotSegments(MergePaths(base, r.path));
        t.hasQuery = r.hasQuery;
        t.query = r.query;
      }
      t.hasAuthority = base.hasAuthority;
      t.authority = base.authority;
    }
    t.hasScheme = base.hasScheme;
    t.scheme = base.scheme;
  }
  t.hasFragment = r.hasFragment;
  t.fragment = r.fragment;
  return t;
}

std::u16string EncodeUnsafe(std::u16string_view text, bool spacesOnly) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    bool encode = spacesOnly ? c == u' ' : (c <= 0x20 || c >= 0x7F);
    if (!encode) {
      out += c;
      continue;
    }
    std::string bytes;
    if (c < 0x80) {
      bytes.assign(1, static_cast<char>(c));
    } else {
      std::size_t n = (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) ? 2 : 1;
      bytes = Utf16ToUtf8(std::u16string(text.substr(i, n)));
      i += n - 1;
    }
    for (unsigned char b : bytes) AppendPercentByte(out, b);
  }
  return out;
}

}  // namespace plat::inet

namespace plat {

namespace {

using inet::UriRef;

INTERNET_SCHEME SchemeOf(std::u16string_view scheme) {
  struct Known {
    const char16_t* name;
    INTERNET_SCHEME scheme;
  };
  static const Known kKnown[] = {{u"http", INTERNET_SCHEME_HTTP},
                                 {u"https", INTERNET_SCHEME_HTTPS},
                                 {u"ftp", INTERNET_SCHEME_FTP},
                                 {u"gopher", INTERNET_SCHEME_GOPHER},
                                 {u"file", INTERNET_SCHEME_FILE}};
  for (const Known& k : kKnown) {
    if (EqualsNoCase(scheme, k.name)) return k.scheme;
  }
  return INTERNET_SCHEME_UNKNOWN;
}

INTERNET_PORT DefaultPort(INTERNET_SCHEME scheme) {
  switch (scheme) {
    case INTERNET_SCHEME_HTTP: return INTERNET_DEFAULT_HTTP_PORT;
    case INTERNET_SCHEME_HTTPS: return INTERNET_DEFAULT_HTTPS_PORT;
    case INTERNET_SCHEME_FTP: return 21;
    case INTERNET_SCHEME_GOPHER: return 70;
    default: return INTERNET_INVALID_PORT_NUMBER;
  }
}

// Stores one cracked part: a copy into the caller's buffer, or a pointer into
// the URL. False when the buffer is too small.
bool StorePart(const char16_t* source, std::size_t offset, std::size_t count, char16_t*& buffer,
               DWORD& length) {
  if (buffer) {
    if (count + 1 > length) {
      length = static_cast<DWORD>(count + 1);
      return false;
    }
    std::memcpy(buffer, source + offset, count * sizeof(char16_t));
    buffer[count] = 0;
    length = static_cast<DWORD>(count);
  } else if (length != 0) {
    buffer = const_cast<char16_t*>(source + offset);
    length = static_cast<DWORD>(count);
  }
  return true;
}

BOOL CopyOut(const std::u16string& text, char16_t* buffer, DWORD* length) {
  if (!length) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!buffer || *length < text.size() + 1) {
    *length = static_cast<DWORD>(text.size() + 1);
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(buffer, text.c_str(), (text.size() + 1) * sizeof(char16_t));
  *length = static_cast<DWORD>(text.size());
  return TRUE;
}

}  // namespace

BOOL InternetCrackUrlW(const char16_t* url, DWORD urlLength, DWORD flags, URL_COMPONENTSW* c) {
  if (!url || !c) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::u16string_view text = urlLength ? std::u16string_view(url, urlLength) : std::u16string_view(url);
  UriRef ref = inet::ParseUriRef(text);
  if (!ref.hasScheme) {
    SetLastError(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
    return FALSE;
  }
  INTERNET_SCHEME scheme = SchemeOf(ref.scheme);
  bool needsHost = scheme == INTERNET_SCHEME_HTTP || scheme == INTERNET_SCHEME_HTTPS ||
                   scheme == INTERNET_SCHEME_FTP || scheme == INTERNET_SCHEME_GOPHER;

  // Offsets of each part within text.
  std::size_t schemeLen = ref.scheme.size();
  std::size_t pos = schemeLen + 1;
  std::size_t userOff = 0, userLen = 0, passOff = 0, passLen = 0, hostOff = 0, hostLen = 0;
  INTERNET_PORT port = DefaultPort(scheme);
  if (ref.hasAuthority) {
    std::size_t authOff = pos + 2;
    std::u16string_view auth(ref.authority);
    std::size_t at = auth.rfind(u'@');
    std::size_t hostStart = 0;
    if (at != std::u16string_view::npos) {
      std::size_t colon = auth.substr(0, at).find(u':');
      userOff = authOff;
      userLen = colon == std::u16string_view::npos ? at : colon;
      if (colon != std::u16string_view::npos) {
        passOff = authOff + colon + 1;
        passLen = at - colon - 1;
      }
      hostStart = at + 1;
    }
    std::u16string_view hostPort = auth.substr(hostStart);
    std::size_t portColon = std::u16string_view::npos;
    if (!hostPort.empty() && hostPort[0] == u'[') {
      std::size_t close = hostPort.find(u']');
      if (close == std::u16string_view::npos) {
        SetLastError(ERROR_INTERNET_INVALID_URL);
        return FALSE;
      }
      hostOff = authOff + hostStart + 1;
      hostLen = close - 1;
      if (close + 1 < hostPort.size()) {
        if (hostPort[close + 1] != u':') {
          SetLastError(ERROR_INTERNET_INVALID_URL);
          return FALSE;
        }
        portColon = close + 1;
      }
    } else {
      portColon = hostPort.rfind(u':');
      hostOff = authOff + hostStart;
      hostLen = portColon == std::u16string_view::npos ? hostPort.size() : portColon;
    }
    if (portColon != std::u16string_view::npos) {
      std::u16string_view digits = hostPort.substr(portColon + 1);
      if (!digits.empty()) {
        if (digits.size() > 5) {
          SetLastError(ERROR_INTERNET_INVALID_URL);
          return FALSE;
        }
        unsigned value = 0;
        for (char16_t ch : digits) {
          if (ch < u'0' || ch > u'9') {
            SetLastError(ERROR_INTERNET_INVALID_URL);
            return FALSE;
          }
          value = value * 10 + (ch - u'0');
        }
        if (value == 0 || value > 65535) {
          SetLastError(ERROR_INTERNET_INVALID_URL);
          return FALSE;
        }
        port = static_cast<INTERNET_PORT>(value);
      }
    }
    pos = authOff + ref.authority.size();
  }
  if (needsHost && hostLen == 0) {
    SetLastError(ERROR_INTERNET_INVALID_URL);
    return FALSE;
  }
  for (std::size_t i = 0; i < hostLen; ++i) {
    char16_t ch = text[hostOff + i];
    if (ch <= 0x20 || ch == u'\\') {
      SetLastError(ERROR_INTERNET_INVALID_URL);
      return FALSE;
    }
  }
  std::size_t pathOff = pos, pathLen = ref.path.size();
  std::size_t extraOff = pathOff + pathLen, extraLen = text.size() - extraOff;

  bool ok = StorePart(text.data(), 0, schemeLen, c->lpszScheme, c->dwSchemeLength);
  ok = StorePart(text.data(), hostOff, hostLen, c->lpszHostName, c->dwHostNameLength) && ok;
  ok = StorePart(text.data(), userOff, userLen, c->lpszUserName, c->dwUserNameLength) && ok;
  ok = StorePart(text.data(), passOff, passLen, c->lpszPassword, c->dwPasswordLength) && ok;
  ok = StorePart(text.data(), pathOff, pathLen, c->lpszUrlPath, c->dwUrlPathLength) && ok;
  ok = StorePart(text.data(), extraOff, extraLen, c->lpszExtraInfo, c->dwExtraInfoLength) && ok;
  c->nScheme = scheme;
  c->nPort = port;
  if (!ok) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  return TRUE;
}

BOOL InternetCreateUrlW(const URL_COMPONENTSW* c, DWORD flags, char16_t* buffer, DWORD* length) {
  if (!c || !length) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto part = [](const char16_t* p, DWORD n) {
    if (!p) return std::u16string();
    return n ? std::u16string(p, n) : std::u16string(p);
  };
  std::u16string scheme = part(c->lpszScheme, c->dwSchemeLength);
  INTERNET_SCHEME kind = c->nScheme;
  if (scheme.empty()) {
    switch (kind) {
      case INTERNET_SCHEME_HTTP: scheme = u"http"; break;
      case INTERNET_SCHEME_HTTPS: scheme = u"https"; break;
      case INTERNET_SCHEME_FTP: scheme = u"ftp"; break;
      case INTERNET_SCHEME_GOPHER: scheme = u"gopher"; break;
      case INTERNET_SCHEME_FILE: scheme = u"file"; break;
      default:
        SetLastError(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
        return FALSE;
    }
  } else if (kind <= INTERNET_SCHEME_DEFAULT) {
    kind = SchemeOf(scheme);
  }
  std::u16string host = part(c->lpszHostName, c->dwHostNameLength);
  std::u16string user = part(c->lpszUserName, c->dwUserNameLength);
  std::u16string password = part(c->lpszPassword, c->dwPasswordLength);
  std::u16string path = part(c->lpszUrlPath, c->dwUrlPathLength);
  std::u16string extra = part(c->lpszExtraInfo, c->dwExtraInfoLength);
  std::u16string url = scheme + u":";
  if (!host.empty()) {
    url += u"//";
    if (!user.empty()) {
      url += user;
      if (!password.empty()) url += u":" + password;
      url += u"@";
    }
    url += host.find(u':') != std::u16string::npos ? u"[" + host + u"]" : host;
    if (c->nPort != INTERNET_INVALID_PORT_NUMBER && c->nPort != DefaultPort(kind)) {
      url += u":" + Utf8ToUtf16(std::to_string(c->nPort));
    }
    if (!path.empty() && path[0] != u'/') url += u"/";
  }
  url += path + extra;
  return CopyOut(url, buffer, length);
}

BOOL InternetCombineUrlW(const char16_t* base, const char16_t* relative, char16_t* buffer, DWORD* length,
                         DWORD flags) {
  if (!base || !relative) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  UriRef b = inet::ParseUriRef(base);
  UriRef r = inet::ParseUriRef(relative);
  if (!b.hasScheme && !r.hasScheme) {
    SetLastError(ERROR_INTERNET_INVALID_URL);
    return FALSE;
  }
  std::u16string combined = inet::ComposeUriRef(inet::ResolveReference(b, r));
  if (!(flags & ICU_NO_ENCODE)) combined = inet::EncodeUnsafe(combined, (flags & ICU_ENCODE_SPACES_ONLY) != 0);
  return CopyOut(combined, buffer, length);
}

BOOL InternetCanonicalizeUrlW(const char16_t* url, char16_t* buffer, DWORD* length, DWORD flags) {
  if (!url) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  UriRef ref = inet::ParseUriRef(url);
  if (!ref.hasScheme) {
    SetLastError(ERROR_INTERNET_INVALID_URL);
    return FALSE;
  }
  if (!(flags & ICU_NO_META)) ref.path = inet::RemoveDotSegments(ref.path);
  if (ref.hasAuthority && ref.path.empty()) ref.path = u"/";
  std::u16string text = inet::ComposeUriRef(ref);
  if (!(flags & ICU_NO_ENCODE)) text = inet::EncodeUnsafe(text, (flags & ICU_ENCODE_SPACES_ONLY) != 0);
  return CopyOut(text, buffer, length);
}

}  // namespace plat
