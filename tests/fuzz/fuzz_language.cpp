// Fuzzes the reading of language files: a file of any bytes loads or is
// refused without a read or write outside the text, and what loads is the
// table a line-by-line reading gives: "key|translation" lines, "\" escaping
// the next character ("\n" and "\r" line breaks), "^" for BEL, each field
// ending at its first zero, pairs with an empty side left out, a later line
// replacing an earlier one. Lookups and bounded copies must stay in bounds.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "core/Localizer.h"
#include "platform/base/Text.h"
#include "platform/files/Files.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

using orvfuzz::Check;

std::u16string Decode(const std::string& bytes) {
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF && static_cast<unsigned char>(bytes[1]) == 0xFE) {
    std::u16string text;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
      text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8));
    }
    return text;
  }
  std::string_view utf8(bytes);
  if (utf8.substr(0, 3) == "\xEF\xBB\xBF") utf8.remove_prefix(3);
  return plat::Utf8ToUtf16(utf8);
}

// One field of a line, from its raw characters.
std::u16string Field(std::u16string_view raw) {
  std::u16string out;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    char16_t c = raw[i];
    if (c == u'^') {
      c = 7;
    } else if (c == u'\\') {
      if (++i == raw.size()) break;
      c = raw[i] == u'n' ? u'\n' : raw[i] == u'r' ? u'\r' : raw[i];
    }
    out += c;
  }
  return out.substr(0, out.find(u'\0'));
}

// The position of the first unescaped "|" of the line from begin, or npos.
std::size_t Separator(std::u16string_view line, std::size_t begin) {
  for (std::size_t i = begin; i < line.size(); ++i) {
    if (line[i] == u'\\') ++i;
    else if (line[i] == u'|') return i;
  }
  return std::u16string_view::npos;
}

std::map<std::u16string, std::u16string> Expected(const std::u16string& text) {
  std::map<std::u16string, std::u16string> table;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find_first_of(u"\r\n", pos);
    if (end == std::u16string::npos) end = text.size();
    const std::u16string_view line = std::u16string_view(text).substr(pos, end - pos);
    pos = end + 1;
    if (line.empty()) continue;  // a run of line breaks
    const std::size_t bar = Separator(line, 0);
    if (bar == std::u16string_view::npos) continue;
    std::size_t valueEnd = Separator(line, bar + 1);
    if (valueEnd == std::u16string_view::npos) valueEnd = line.size();
    const std::u16string key = Field(line.substr(0, bar));
    const std::u16string value = Field(line.substr(bar + 1, valueEnd - bar - 1));
    if (!key.empty() && !value.empty()) table[key] = value;
  }
  return table;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string host = orvfuzz::UseTempDevice() + "/fuzz.lng";
  orvfuzz::WriteHostFile(host, data, size);
  COrvLocalizerAPI localizer;
  const bool loaded = localizer.LoadFile(u"\\fuzz.lng");
  Check(loaded == (size != 0), "an unreadable or empty file loaded, or a readable one did not");
  if (!loaded) return 0;

  const std::map<std::u16string, std::u16string> expected =
      Expected(Decode(std::string(reinterpret_cast<const char*>(data), size)));
  Check(localizer.GetEntryCount() == expected.size(), "another number of entries than the file's lines give");
  for (const auto& [key, value] : expected) {
    const char16_t* found = localizer.FindTranslation(key.c_str());
    if (found == nullptr || value != found) {
      std::fprintf(stderr, "key [%s]: [%s] expected, [%s] found\n", plat::Utf16ToUtf8(key).c_str(),
                   plat::Utf16ToUtf8(value).c_str(), found ? plat::Utf16ToUtf8(found).c_str() : "nothing");
      Check(false, "a translation differs from its line");
    }
    Check(localizer.Translate(key.c_str()) == found, "Translate differs from the table");
    char16_t small[4] = {u'x', u'x', u'x', u'x'};
    const int copied = localizer.TranslateToBuffer(key.c_str(), small, 3);
    Check(copied == static_cast<int>(std::min<std::size_t>(value.size(), 2)) && small[copied] == 0 && small[3] == u'x',
          "a bounded copy overran or cut wrongly");
    Check(localizer.TranslateToString(key.c_str()) == value.substr(0, COrvLocalizerAPI::kMaxStringChars),
          "TranslateToString differs from the table");
  }
  return 0;
}
