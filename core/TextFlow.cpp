#include "core/TextFlow.h"

#include "core/DeviceInfo.h"
#include "platform/base/Text.h"

using namespace plat;

namespace {


constexpr UINT kDefaultFormat = DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX;

}  // namespace

std::vector<std::u16string> FlowTextIntoLines(HDC dc, const std::u16string& text, const std::vector<RECT>& lines) {
  std::vector<std::u16string> pieces(lines.size());
  if (text.empty() || lines.empty()) return pieces;
  std::u16string rest = text;
  std::size_t next = 0;
  for (; next + 1 < lines.size() && !rest.empty(); ++next) {
    const RECT& line = lines[next];
    int fit = 0;
    SIZE size{};
    if (!GetTextExtentExPointW(dc, reinterpret_cast<const WCHAR*>(rest.data()), static_cast<int>(rest.size()),
                               line.right - line.left, &fit, nullptr, &size) ||
        fit <= 0)
      break;
    std::size_t end = rest.size();
    if (static_cast<std::size_t>(fit) < rest.size()) {
      end = static_cast<std::size_t>(fit);
      for (std::size_t p = static_cast<std::size_t>(fit) + 1; p-- > 0;) {
        if (rest[p] == u' ') {
          end = p;
          break;
        }
      }
    }
    pieces[next] = plat::Trim(rest.substr(0, end), plat::IsAsciiSpace);
    rest = plat::Trim(rest.substr(end), plat::IsAsciiSpace);
  }
  if (!rest.empty() && next < lines.size()) pieces[next] = rest;
  return pieces;
}

void DrawTextInLineRects(HDC dc, const std::u16string& text, const std::vector<RECT>& lines, UINT format) {
  if (format == 0) format = kDefaultFormat;
  std::vector<std::u16string> pieces = FlowTextIntoLines(dc, text, lines);
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    if (pieces[i].empty()) continue;
    RECT r = lines[i];
    DrawTextW(dc, reinterpret_cast<const WCHAR*>(pieces[i].data()), static_cast<int>(pieces[i].size()), &r, format);
  }
}

std::vector<RECT> MakeLineRects(const RECT& area, int lineHeight, int dpi) {
  std::vector<RECT> lines;
  if (lineHeight < 1) return lines;
  int gap = (dpi + 48) / 96;
  for (long long top = area.top; top + lineHeight < area.bottom; top += lineHeight + gap)
    lines.push_back(RECT{area.left, static_cast<LONG>(top), area.right, static_cast<LONG>(top + lineHeight)});
  return lines;
}

void DrawTextLines(HDC dc, const std::u16string& text, const RECT& area, int lineHeight) {
  std::vector<RECT> lines = MakeLineRects(area, lineHeight, GetScreenDpi());
  if (lines.empty()) return;
  DrawTextInLineRects(dc, text, lines, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
}
