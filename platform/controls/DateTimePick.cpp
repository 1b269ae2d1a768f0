// The time picker: the time of day shown by a format of fields (hour, minute,
// second, AM/PM) and literals. One field is selected; the up-down at the
// right, the up and down keys or typed digits change it, left and right move
// between the fields. A change by the user is told to the parent.
#include <algorithm>
#include <string>
#include <vector>

#include "platform/base/Locale.h"
#include "platform/controls/CommCtrl.h"
#include "platform/controls/CommonControlDrawing.h"

namespace plat {
namespace {

using ctl::Px;

enum class Kind { Literal, Hour12, Hour24, Minute, Second, AmPm };

struct Piece {
  Kind kind = Kind::Literal;
  bool twoDigits = false;
  std::u16string literal;
};

struct PickerState {
  SYSTEMTIME st{};
  bool none = false;
  std::vector<Piece> pieces;
  int selected = 0;    // index into pieces, always a field
  bool active = false; // the user has chosen a field: show the selection
  int typed = -1;      // the first digit typed into the selected field, -1 none
  HWND upDown = nullptr;
};

ControlStates<PickerState>& All() {
  static auto* states = new ControlStates<PickerState>;
  return *states;
}

bool IsField(const Piece& p) { return p.kind != Kind::Literal; }

// Parses a format: h/hh (12-hour), H/HH (24-hour), m/mm, s/ss, t/tt, text in
// single quotes ('' a quote) and any other character as it stands.
std::vector<Piece> ParseFormat(const std::u16string& f) {
  std::vector<Piece> out;
  auto literal = [&](char16_t c) {
    if (out.empty() || IsField(out.back())) out.push_back(Piece{});
    out.back().literal += c;
  };
  for (std::size_t i = 0; i < f.size();) {
    const char16_t c = f[i];
    if (c == u'\'') {
      std::size_t j = i + 1;
      if (j < f.size() && f[j] == u'\'') {
        literal(u'\'');
        i = j + 1;
        continue;
      }
      for (; j < f.size() && f[j] != u'\''; ++j) literal(f[j]);
      i = j + 1;
      continue;
    }
    Kind kind = c == u'h' ? Kind::Hour12 : c == u'H' ? Kind::Hour24 : c == u'm' ? Kind::Minute
              : c == u's' ? Kind::Second : c == u't' ? Kind::AmPm : Kind::Literal;
    if (kind == Kind::Literal) {
      literal(c);
      ++i;
      continue;
    }
    std::size_t n = 0;
    while (i + n < f.size() && f[i + n] == c) ++n;
    out.push_back(Piece{kind, n >= 2, {}});
    i += n;
  }
  return out;
}

// The locale's own time form: "hh':'mm' 'tt" on a 12-hour clock, else "HH':'mm".
std::u16string LocaleFormat() {
  char16_t itime[4] = {};
  GetLocaleInfoW(GetUserDefaultLCID(), LOCALE_ITIME, itime, 4);
  return std::u16string(itime) == u"0" ? u"hh':'mm' 'tt" : u"HH':'mm";
}

void SetFormat(PickerState& s, const std::u16string& format) {
  s.pieces = ParseFormat(format);
  s.selected = -1;
  for (std::size_t i = 0; i < s.pieces.size(); ++i)
    if (IsField(s.pieces[i])) {
      s.selected = static_cast<int>(i);
      break;
    }
  s.typed = -1;
}

std::u16string Digits(int v, bool two) {
  std::string d = std::to_string(v);
  if (two && d.size() < 2) d = "0" + d;
  return std::u16string(d.begin(), d.end());
}

std::u16string AmPmText(bool pm) {
  char16_t buf[16] = {};
  GetLocaleInfoW(GetUserDefaultLCID(), pm ? LOCALE_S2359 : LOCALE_S1159, buf, 16);
  return buf[0] ? buf : (pm ? u"PM" : u"AM");
}

std::u16string TextOfPiece(const PickerState& s, const Piece& p) {
  switch (p.kind) {
    case Kind::Hour12: return Digits(s.st.wHour % 12 == 0 ? 12 : s.st.wHour % 12, p.twoDigits);
    case Kind::Hour24: return Digits(s.st.wHour, p.twoDigits);
    case Kind::Minute: return Digits(s.st.wMinute, p.twoDigits);
    case Kind::Second: return Digits(s.st.wSecond, p.twoDigits);
    case Kind::AmPm: {
      std::u16string t = AmPmText(s.st.wHour >= 12);
      return p.twoDigits ? t : t.substr(0, 1);
    }
    case Kind::Literal: break;
  }
  return p.literal;
}

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

bool ValidTime(const SYSTEMTIME& t) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (t.wYear < 1601 || t.wYear > 30827 || t.wMonth < 1 || t.wMonth > 12) return false;
  const int inMonth = days[t.wMonth - 1] + (t.wMonth == 2 && IsLeap(t.wYear) ? 1 : 0);
  return t.wDay >= 1 && t.wDay <= inMonth && t.wHour < 24 && t.wMinute < 60 && t.wSecond < 60 &&
         t.wMilliseconds < 1000;
}

void Notify(HWND hwnd, const PickerState& s) {
  NMDATETIMECHANGE nm{};
  nm.dwFlags = s.none ? GDT_NONE : GDT_VALID;
  nm.st = s.st;
  NotifyParent(hwnd, &nm.nmhdr, DTN_DATETIMECHANGE);
}

// Sets the time of day to `seconds` past midnight; told to the parent when it changed.
void SetSeconds(HWND hwnd, PickerState& s, long seconds) {
  constexpr long kDay = 24L * 3600;
  seconds = ((seconds % kDay) + kDay) % kDay;
  const SYSTEMTIME old = s.st;
  const bool wasNone = s.none;
  s.st.wHour = static_cast<WORD>(seconds / 3600);
  s.st.wMinute = static_cast<WORD>(seconds / 60 % 60);
  s.st.wSecond = static_cast<WORD>(seconds % 60);
  s.none = false;
  InvalidateRect(hwnd, nullptr, FALSE);
  if (wasNone || old.wHour != s.st.wHour || old.wMinute != s.st.wMinute || old.wSecond != s.st.wSecond)
    Notify(hwnd, s);
}

long SecondsOf(const SYSTEMTIME& t) { return t.wHour * 3600L + t.wMinute * 60L + t.wSecond; }

// One step of the selected field: the time moves by that field's unit and
// wraps around the day (23:59 and a minute up is 00:00).
void Step(HWND hwnd, PickerState& s, int delta) {
  if (s.selected < 0) return;
  s.typed = -1;
  s.active = true;
  long unit = 0;
  switch (s.pieces[s.selected].kind) {
    case Kind::Hour12:
    case Kind::Hour24: unit = 3600; break;
    case Kind::Minute: unit = 60; break;
    case Kind::Second: unit = 1; break;
    case Kind::AmPm: unit = 12 * 3600; break;
    case Kind::Literal: return;
  }
  SetSeconds(hwnd, s, SecondsOf(s.st) + delta * unit);
}

void Move(HWND hwnd, PickerState& s, int dir) {
  s.typed = -1;
  s.active = true;
  for (int i = s.selected + dir; i >= 0 && i < static_cast<int>(s.pieces.size()); i += dir)
    if (IsField(s.pieces[i])) {
      s.selected = i;
      break;
    }
  InvalidateRect(hwnd, nullptr, FALSE);
}

// A digit typed into the selected field: the first digit sets the field, a
// second one makes a two-digit value when that fits, then the next field is
// selected. 'A' and 'P' choose the half of the day.
void Type(HWND hwnd, PickerState& s, char16_t c) {
  if (s.selected < 0) return;
  s.active = true;
  const Kind kind = s.pieces[s.selected].kind;
  const long now = SecondsOf(s.st);
  const bool pm = s.st.wHour >= 12;
  if (kind == Kind::AmPm) {
    const char16_t up = (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - u'a' + u'A') : c;
    const std::u16string am = AmPmText(false), pmText = AmPmText(true);
    if (!am.empty() && up == am[0] && pm) SetSeconds(hwnd, s, now - 12 * 3600);
    else if (!pmText.empty() && up == pmText[0] && !pm) SetSeconds(hwnd, s, now + 12 * 3600);
    return;
  }
  if (c < u'0' || c > u'9') return;
  const int d = c - u'0';
  const int low = kind == Kind::Hour12 ? 1 : 0;
  const int high = kind == Kind::Hour12 ? 12 : kind == Kind::Hour24 ? 23 : 59;
  int value = d;
  bool done = false;
  if (s.typed >= 0 && s.typed * 10 + d <= high) {
    value = s.typed * 10 + d;
    done = true;
  } else if (d * 10 > high) {
    done = true;  // no second digit could follow
  }
  s.typed = done ? -1 : d;
  if (value >= low) {
    long next = now;
    switch (kind) {
      case Kind::Hour12: next = now % 3600 + ((value % 12) + (pm ? 12 : 0)) * 3600L; break;
      case Kind::Hour24: next = now % 3600 + value * 3600L; break;
      case Kind::Minute: next = now - s.st.wMinute * 60L + value * 60L; break;
      case Kind::Second: next = now - s.st.wSecond + value; break;
      default: break;
    }
    SetSeconds(hwnd, s, next);
  }
  if (done) Move(hwnd, s, 1);
}

int UpDownWidth() { return Px(16); }

// The pieces' left edges and the right edge of the last, as drawn.
std::vector<int> Layout(HWND hwnd, HDC dc, const PickerState& s) {
  HGDIOBJ old = SelectObject(dc, ControlFont());
  std::vector<int> x{Px(4)};
  for (const Piece& p : s.pieces) {
    const std::u16string t = TextOfPiece(s, p);
    SIZE size{};
    GetTextExtentPoint32W(dc, t.c_str(), static_cast<int>(t.size()), &size);
    x.push_back(x.back() + size.cx);
  }
  SelectObject(dc, old);
  (void)hwnd;
  return x;
}

void Paint(HWND hwnd, const PickerState& s) {
  PAINTSTRUCT ps{};
  HDC dc = BeginPaint(hwnd, &ps);
  if (!dc) return;
  RECT rc{};
  GetClientRect(hwnd, &rc);
  if (s.upDown) rc.right -= UpDownWidth();
  const bool enabled = IsWindowEnabled(hwnd);
  ctl::Fill(dc, rc, GetSysColor(COLOR_WINDOW));
  ctl::Frame(dc, rc, std::max(1, Px(1)), GetSysColor(COLOR_WINDOWFRAME));
  const std::vector<int> x = Layout(hwnd, dc, s);
  HGDIOBJ oldFont = SelectObject(dc, ControlFont());
  SetBkMode(dc, TRANSPARENT);
  const int y = (rc.bottom - ControlFontHeight()) / 2;
  const bool showSelection = enabled && (s.active || GetFocus() == hwnd);
  for (std::size_t i = 0; i < s.pieces.size(); ++i) {
    const std::u16string t = s.none && IsField(s.pieces[i]) ? std::u16string(u"--") : TextOfPiece(s, s.pieces[i]);
    const bool selected = showSelection && static_cast<int>(i) == s.selected;
    if (selected)
      ctl::Fill(dc, RECT{x[i], y, x[i + 1], y + ControlFontHeight()}, GetSysColor(COLOR_HIGHLIGHT));
    SetTextColor(dc, !enabled ? GetSysColor(COLOR_GRAYTEXT)
                     : selected ? GetSysColor(COLOR_HIGHLIGHTTEXT) : GetSysColor(COLOR_WINDOWTEXT));
    TextOutW(dc, x[i], y, t.c_str(), static_cast<int>(t.size()));
  }
  SelectObject(dc, oldFont);
  EndPaint(hwnd, &ps);
}

void PlaceUpDown(HWND hwnd, const PickerState& s) {
  if (!s.upDown) return;
  RECT rc{};
  GetClientRect(hwnd, &rc);
  MoveWindow(s.upDown, rc.right - UpDownWidth(), 0, UpDownWidth(), rc.bottom, TRUE);
}

}  // namespace

LRESULT DateTimePickWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto state = All().ForMessage(hwnd, msg);
  if (!state) return DefWindowProcW(hwnd, msg, wParam, lParam);
  PickerState& s = *state;
  switch (msg) {
    case WM_CREATE:
      GetLocalTime(&s.st);
      SetFormat(s, LocaleFormat());
      s.upDown = CreateWindowExW(0, UPDOWN_CLASSW, u"", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, hwnd, nullptr, nullptr,
                                 nullptr);
      PlaceUpDown(hwnd, s);
      return 0;
    case WM_SIZE:
      PlaceUpDown(hwnd, s);
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT:
      Paint(hwnd, s);
      return 0;
    case WM_ENABLE:
      if (s.upDown) EnableWindow(s.upDown, static_cast<BOOL>(wParam));
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      s.typed = -1;
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case WM_GETDLGCODE:
      return DLGC_WANTARROWS | DLGC_WANTCHARS;
    case WM_NOTIFY: {
      // The up-down's arrows step the selected field; its own position stays.
      const auto* hdr = reinterpret_cast<const NMHDR*>(lParam);
      if (hdr && hdr->hwndFrom == s.upDown && hdr->code == UDN_DELTAPOS) {
        if (IsWindowEnabled(hwnd)) Step(hwnd, s, reinterpret_cast<const NMUPDOWN*>(lParam)->iDelta > 0 ? 1 : -1);
        return 1;
      }
      return 0;
    }
    case WM_LBUTTONDOWN: {
      if (GetFocus() != hwnd) SetFocus(hwnd);
      HDC dc = GetDC(hwnd);
      const std::vector<int> x = Layout(hwnd, dc, s);
      ReleaseDC(hwnd, dc);
      const int px = GET_X_LPARAM(lParam);
      for (std::size_t i = 0; i < s.pieces.size(); ++i)
        if (IsField(s.pieces[i]) && px >= x[i] && px < x[i + 1]) {
          s.selected = static_cast<int>(i);
          s.active = true;
          s.typed = -1;
          InvalidateRect(hwnd, nullptr, FALSE);
          break;
        }
      return 0;
    }
    case WM_KEYDOWN:
      switch (wParam) {
        case VK_UP: Step(hwnd, s, 1); return 0;
        case VK_DOWN: Step(hwnd, s, -1); return 0;
        case VK_LEFT: Move(hwnd, s, -1); return 0;
        case VK_RIGHT: Move(hwnd, s, 1); return 0;
        default: return DefWindowProcW(hwnd, msg, wParam, lParam);
      }
    case WM_CHAR:
      Type(hwnd, s, static_cast<char16_t>(wParam));
      return 0;
    case DTM_GETSYSTEMTIME: {
      auto* out = reinterpret_cast<SYSTEMTIME*>(lParam);
      if (!out) return static_cast<LRESULT>(GDT_ERROR);
      if (s.none) return GDT_NONE;
      *out = s.st;
      return GDT_VALID;
    }
    case DTM_SETSYSTEMTIME: {
      const auto* in = reinterpret_cast<const SYSTEMTIME*>(lParam);
      if (wParam == GDT_NONE) {
        if (!(GetWindowLongW(hwnd, GWL_STYLE) & DTS_SHOWNONE)) return FALSE;
        s.none = true;
      } else if (wParam == GDT_VALID && in && ValidTime(*in)) {
        s.st = *in;
        s.none = false;
      } else {
        return FALSE;
      }
      s.typed = -1;
      InvalidateRect(hwnd, nullptr, FALSE);
      return TRUE;
    }
    case DTM_SETFORMATW: {
      const auto* f = reinterpret_cast<const WCHAR*>(lParam);
      SetFormat(s, f ? std::u16string(f) : LocaleFormat());
      InvalidateRect(hwnd, nullptr, FALSE);
      return TRUE;
    }
    default:
      return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
}

}  // namespace plat
