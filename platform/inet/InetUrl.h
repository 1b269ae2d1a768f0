// URL parsing shared by the internet library's functions (not part of its
// interface): references split as RFC 3986 appendix B does, resolution of a
// relative reference (section 5.2) and percent-encoding of unsafe characters.
#pragma once

#include <string>
#include <string_view>

namespace plat::inet {

struct UriRef {
  bool hasScheme = false;
  std::u16string scheme;
  bool hasAuthority = false;
  std::u16string authority;
  std::u16string path;
  bool hasQuery = false;
  std::u16string query;
  bool hasFragment = false;
  std::u16string fragment;
};

UriRef ParseUriRef(std::u16string_view text);
std::u16string ComposeUriRef(const UriRef& ref);
std::u16string RemoveDotSegments(std::u16string_view path);
// RFC 3986 section 5.2.2 (strict: a reference with a scheme is taken as it is).
UriRef ResolveReference(const UriRef& base, const UriRef& relative);
// Percent-encodes spaces, controls and non-ASCII characters (as UTF-8);
// spacesOnly encodes only spaces.
std::u16string EncodeUnsafe(std::u16string_view text, bool spacesOnly);

}  // namespace plat::inet
