// A dialog template built in code, as programs build property pages: a
// caption and one static text. Header-only, so the test programs share it.
#pragma once

#include <string>
#include <vector>

#include "platform/windows/Windows.h"

namespace orvtest {

inline std::vector<plat::WORD> PageTemplate(const std::u16string& caption, const std::u16string& text) {
  std::vector<plat::WORD> t;
  auto dword = [&](plat::DWORD v) {
    t.push_back(static_cast<plat::WORD>(v & 0xFFFF));
    t.push_back(static_cast<plat::WORD>(v >> 16));
  };
  auto str = [&](const std::u16string& s) {
    for (char16_t c : s) t.push_back(c);
    t.push_back(0);
  };
  dword(plat::WS_POPUP | plat::WS_CAPTION);
  dword(0);
  t.insert(t.end(), {1, 0, 0, 140, 100});  // one item; x, y, cx, cy
  t.insert(t.end(), {0, 0});               // no menu, the dialog class
  str(caption);
  if (t.size() % 2) t.push_back(0);        // items start on a DWORD
  dword(plat::WS_CHILD | plat::WS_VISIBLE);
  dword(0);
  t.insert(t.end(), {4, 4, 130, 12, 100});  // x, y, cx, cy, id
  t.insert(t.end(), {0xFFFF, 0x0082});      // static
  str(text);
  t.push_back(0);                           // no creation data
  return t;
}

}  // namespace orvtest
