#include "core/DateUtils.h"

#include <cstdint>
#include <limits>

#include "core/Localizer.h"
#include "platform/base/Locale.h"
#include "platform/base/Text.h"

using plat::FILETIME;
using plat::SYSTEMTIME;

namespace {

constexpr std::int64_t kTicksPerMinute = 60LL * 10000000LL;
constexpr std::int64_t kTicksPerHour = 60LL * kTicksPerMinute;
constexpr std::uint64_t kLargestFileTime = 0x7FFFFFFFFFFFFFFFull;

// The string resource of the word shown for a date of today.
constexpr unsigned kTodayStringId = 195;

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// Reads the fields of a date text one after the other, the way a scanf format
// of "%2d", "%3c", "%d", "%10s" and literal characters reads them, except that
// numbers are unsigned runs of ASCII digits and a number too long for its
// field is reported instead of being cut or wrapped.
class FieldReader {
 public:
  explicit FieldReader(std::u16string_view text) : text_(text) {}

  void SkipSpace() {
    while (pos_ < text_.size() && plat::IsAsciiSpace(text_[pos_])) ++pos_;
  }

  // White space, then 1 to maxDigits digits (any number when maxDigits is 0).
  // False when no digit stands there. A run of digits longer than maxDigits or
  // a value above INT32_MAX sets the overflow mark and fails.
  bool ReadNumber(std::size_t maxDigits, int& value) {
    SkipSpace();
    return ReadDigits(maxDigits, value);
  }

  // Like ReadNumber, without skipping white space first.
  bool ReadDigits(std::size_t maxDigits, int& value) {
    std::size_t start = pos_;
    std::int64_t v = 0;
    while (pos_ < text_.size() && IsDigit(text_[pos_])) {
      if (maxDigits != 0 && pos_ - start == maxDigits) {
        overflow_ = true;
        return false;
      }
      v = v * 10 + (text_[pos_] - u'0');
      if (v > std::numeric_limits<int>::max()) {
        overflow_ = true;
        return false;
      }
      ++pos_;
    }
    if (pos_ == start) return false;
    value = static_cast<int>(v);
    return true;
  }

  // Skips a run of digits of any length; false when there is none.
  bool SkipDigits() {
    std::size_t start = pos_;
    while (pos_ < text_.size() && IsDigit(text_[pos_])) ++pos_;
    return pos_ != start;
  }

  // White space, then exactly n characters.
  bool ReadChars(std::size_t n, std::u16string_view& out) {
    SkipSpace();
    if (text_.size() - pos_ < n) return false;
    out = text_.substr(pos_, n);
    pos_ += n;
    return true;
  }

  // White space, then 1 to maxLen characters that are not white space.
  bool ReadWord(std::size_t maxLen, std::u16string_view& out) {
    SkipSpace();
    std::size_t start = pos_;
    while (pos_ < text_.size() && pos_ - start < maxLen && !plat::IsAsciiSpace(text_[pos_])) ++pos_;
    if (pos_ == start) return false;
    out = text_.substr(start, pos_ - start);
    return true;
  }

  // The character c, right here.
  bool Match(char16_t c) {
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }

  bool Overflow() const { return overflow_; }

 private:
  std::u16string_view text_;
  std::size_t pos_ = 0;
  bool overflow_ = false;
};

// Converts the fields to a file time; false for any field out of range,
// checked before the fields are narrowed to the platform's 16-bit words.
bool FieldsToFileTime(int year, int month, int day, int hour, int minute, int second,
                      std::uint64_t& ticks) {
  if (year < 1601 || year > 30827 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 ||
      hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) {
    return false;
  }
  SYSTEMTIME st{};
  st.wYear = static_cast<plat::WORD>(year);
  st.wMonth = static_cast<plat::WORD>(month);
  st.wDay = static_cast<plat::WORD>(day);
  st.wHour = static_cast<plat::WORD>(hour);
  st.wMinute = static_cast<plat::WORD>(minute);
  st.wSecond = static_cast<plat::WORD>(second);
  FILETIME ft{};
  if (!plat::SystemTimeToFileTime(&st, &ft)) return false;
  ticks = plat::FileTimeToULL(ft);
  return true;
}

// ticks + offset, when the sum is a file time (0 to 2^63 - 1).
bool AddOffset(std::uint64_t ticks, std::int64_t offset, FILETIME& result) {
  if (ticks > kLargestFileTime) return false;
  std::int64_t sum = static_cast<std::int64_t>(ticks);
  if (offset < 0 ? sum < -offset : static_cast<std::int64_t>(kLargestFileTime) - sum < offset) {
    return false;
  }
  result = plat::ULLToFileTime(static_cast<std::uint64_t>(sum + offset));
  return true;
}

int MonthFromName(std::u16string_view name) {
  static const char16_t* const kMonths[] = {u"Jan", u"Feb", u"Mar", u"Apr", u"May", u"Jun",
                                            u"Jul", u"Aug", u"Sep", u"Oct", u"Nov", u"Dec"};
  for (int i = 0; i < 12; ++i) {
    if (plat::EqualsNoCase(name, kMonths[i])) return i + 1;
  }
  return 0;
}

// The fields of an RFC 822 date as the three forms read them.
struct RfcFields {
  int day = 0;
  std::u16string_view month;
  int year = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  std::u16string_view zone;
};

enum class RfcForm { WithSeconds, WithMinutes, DateOnly };

// Reads text in one form; returns the number of fields read before the first
// that did not read, or -1 when a number overflowed its field.
int ReadRfcFields(std::u16string_view text, RfcForm form, RfcFields& f) {
  FieldReader r(text);
  int n = 0;
  auto result = [&]() { return r.Overflow() ? -1 : n; };
  if (!r.ReadNumber(2, f.day)) return result();
  ++n;
  if (!r.ReadChars(3, f.month)) return result();
  ++n;
  if (!r.ReadNumber(0, f.year)) return result();
  ++n;
  if (form != RfcForm::DateOnly) {
    if (!r.ReadNumber(2, f.hour)) return result();
    ++n;
    if (!r.Match(u':') || !r.ReadNumber(2, f.minute)) return result();
    ++n;
    if (form == RfcForm::WithSeconds) {
      if (!r.Match(u':') || !r.ReadNumber(2, f.second)) return result();
      ++n;
    }
  }
  if (!r.ReadWord(10, f.zone)) return result();
  ++n;
  return n;
}

// A numeric zone, "+hhmm" or "+hh:mm" (or with "-"): the offset that turns
// the local time into UTC. False for any other text after the sign and for
// hours above 23 or minutes above 59.
bool ReadNumericZone(std::u16string_view zone, std::int64_t& offset) {
  bool plus = zone[0] == u'+';
  std::u16string_view digits = zone.substr(1);
  std::u16string_view hh, mm;
  if (digits.size() == 4) {
    hh = digits.substr(0, 2);
    mm = digits.substr(2, 2);
  } else if (digits.size() == 5 && digits[2] == u':') {
    hh = digits.substr(0, 2);
    mm = digits.substr(3, 2);
  } else {
    return false;
  }
  for (char16_t c : hh) {
    if (!IsDigit(c)) return false;
  }
  for (char16_t c : mm) {
    if (!IsDigit(c)) return false;
  }
  int hours = (hh[0] - u'0') * 10 + (hh[1] - u'0');
  int minutes = (mm[0] - u'0') * 10 + (mm[1] - u'0');
  if (hours > 23 || minutes > 59) return false;
  std::int64_t amount = hours * kTicksPerHour + minutes * kTicksPerMinute;
  offset = plus ? -amount : amount;
  return true;
}

// The offset that turns a time in the named zone into UTC; false for a
// numeric zone that does not read.
bool ZoneOffset(std::u16string_view zone, std::int64_t& offset) {
  struct Named {
    const char16_t* name;
    int hours;
  };
  static const Named kNamed[] = {{u"EST", 5}, {u"EDT", 4}, {u"CST", 6}, {u"CDT", 5},
                                 {u"MST", 7}, {u"MDT", 6}, {u"PST", 8}, {u"PDT", 7}};
  offset = 0;
  if (zone.empty()) return true;
  for (const Named& n : kNamed) {
    if (plat::EqualsNoCase(zone, n.name)) {
      offset = n.hours * kTicksPerHour;
      return true;
    }
  }
  if (zone[0] == u'+' || zone[0] == u'-') return ReadNumericZone(zone, offset);
  if (zone.size() == 1) {
    // Military zones, with the signs RFC 822 gives them: A (+1 h) to M
    // (+12 h), skipping J, which names no zone; N (-1 h) to Y (-12 h).
    char16_t c = zone[0];
    if (c >= u'A' && c <= u'I') offset = (c - u'A' + 1) * kTicksPerHour;
    else if (c >= u'K' && c <= u'M') offset = (c - u'K' + 10) * kTicksPerHour;
    else if (c >= u'N' && c <= u'Y') offset = -(c - u'N' + 1) * kTicksPerHour;
    return true;
  }
  // GMT, UT and names we do not know.
  return true;
}

}  // namespace

bool ParseRfc822Date(std::u16string_view text, FILETIME& result) {
  std::size_t comma = text.find(u',');
  if (comma != std::u16string_view::npos) text.remove_prefix(comma + 1);
  text = plat::TrimView(text, plat::IsAsciiSpace);

  static const struct {
    RfcForm form;
    int needed;
  } kForms[] = {{RfcForm::WithSeconds, 6}, {RfcForm::WithMinutes, 5}, {RfcForm::DateOnly, 3}};

  // Hours and minutes read by a longer form that did not match stay as they
  // were read; numbers never take a sign, so a numeric zone is never read as
  // part of the time.
  RfcFields f;
  bool matched = false;
  for (const auto& form : kForms) {
    f.zone = {};
    int n = ReadRfcFields(text, form.form, f);
    if (n < 0) return false;
    if (n >= form.needed) {
      matched = true;
      break;
    }
  }
  if (!matched) return false;

  int month = MonthFromName(f.month);
  if (month == 0) return false;
  int year = f.year;
  if (year < 100) year += year >= 50 ? 1900 : 2000;

  std::uint64_t ticks = 0;
  if (!FieldsToFileTime(year, month, f.day, f.hour, f.minute, f.second, ticks)) return false;
  std::int64_t offset = 0;
  if (!ZoneOffset(plat::TrimView(f.zone, plat::IsAsciiSpace), offset)) return false;
  return AddOffset(ticks, offset, result);
}

bool ParseIso8601Date(std::u16string_view text, FILETIME& result) {
  FieldReader r(plat::TrimView(text, plat::IsAsciiSpace));
  int year = 0, month = 0, day = 0;
  if (!r.ReadDigits(0, year) || !r.Match(u'-') || !r.ReadDigits(0, month) || !r.Match(u'-') ||
      !r.ReadDigits(0, day)) {
    return false;
  }
  if (month < 1 || month > 12 || day < 1 || day > 31) return false;

  int hour = 0, minute = 0, second = 0;
  std::int64_t offset = 0;
  if (r.Match(u'T')) {
    if (!r.ReadDigits(0, hour) || !r.Match(u':') || !r.ReadDigits(0, minute)) return false;
    if (r.Match(u':') && !r.ReadDigits(0, second)) return false;
    // The fraction of a second is ignored, however many digits it has.
    if (r.Match(u'.') && !r.SkipDigits()) return false;
    int sign = 0;
    if (r.Match(u'+')) sign = -1;
    else if (r.Match(u'-')) sign = 1;
    if (sign != 0) {
      int zoneHours = 0, zoneMinutes = 0;
      if (!r.ReadDigits(0, zoneHours) || !r.Match(u':') || !r.ReadDigits(0, zoneMinutes)) return false;
      if (zoneHours > 23 || zoneMinutes > 59) return false;
      offset = sign * (zoneHours * kTicksPerHour + zoneMinutes * kTicksPerMinute);
    }
  }

  std::uint64_t ticks = 0;
  if (!FieldsToFileTime(year, month, day, hour, minute, second, ticks)) return false;
  return AddOffset(ticks, offset, result);
}

bool ParseDateTime(std::u16string_view text, FILETIME& result) {
  if (ParseRfc822Date(text, result)) return true;
  if (ParseIso8601Date(text, result)) return true;
  result = FILETIME{0, 0};
  return false;
}

void GetCurrentFileTime(FILETIME& result) {
  SYSTEMTIME st{};
  plat::GetSystemTime(&st);
  plat::SystemTimeToFileTime(&st, &result);
}

namespace {

bool HasTimeOfDay(const SYSTEMTIME& st) {
  return st.wHour != 0 || st.wMinute != 0 || st.wSecond != 0 || st.wMilliseconds != 0;
}

}  // namespace

std::u16string FormatDateTime(const FILETIME& t, bool dateOnly) {
  if (plat::FileTimeToULL(t) == 0) return {};

  SYSTEMTIME utc{};
  if (!plat::FileTimeToSystemTime(&t, &utc)) return {};
  FILETIME localFt{};
  SYSTEMTIME local{};
  if (!plat::FileTimeToLocalFileTime(&t, &localFt) || !plat::FileTimeToSystemTime(&localFt, &local)) {
    return {};
  }
  SYSTEMTIME now{};
  plat::GetLocalTime(&now);
  bool today = local.wDay == now.wDay && local.wMonth == now.wMonth && local.wYear == now.wYear;

  constexpr int kMaxChars = 50;
  std::u16string date, time;
  if (!today) {
    char16_t buf[kMaxChars] = {};
    int n = plat::GetDateFormatW(plat::LOCALE_USER_DEFAULT, plat::DATE_SHORTDATE, &local, nullptr, buf,
                                 kMaxChars);
    if (n <= 0) return {};
    date = buf;
  }
  if (HasTimeOfDay(utc) && HasTimeOfDay(local)) {
    char16_t buf[kMaxChars] = {};
    int n = plat::GetTimeFormatW(plat::LOCALE_USER_DEFAULT, plat::TIME_NOSECONDS, &local, nullptr, buf,
                                 kMaxChars);
    if (n <= 0) return {};
    time = buf;
  } else if (today) {
    date = LocalizeResourceString(kTodayStringId);
  }

  if (dateOnly && !date.empty()) return date;
  if (!date.empty() && !time.empty()) return date + u" " + time;
  return date.empty() ? time : date;
}
