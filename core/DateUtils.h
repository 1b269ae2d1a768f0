// Feed dates: RFC 822 texts (RSS 2.0 "pubDate") and ISO 8601 / W3C date-time
// texts (RSS 1.0 "date", Atom "issued", "modified", "updated") turned into UTC
// file times, and file times formatted for the lists and the article view in
// the user's locale.
#pragma once

#include <string>
#include <string_view>

#include "platform/base/Time.h"

// RFC 822 first, then ISO 8601. When neither form reads, result is 0 and the
// answer false.
bool ParseDateTime(std::u16string_view text, plat::FILETIME& result);

// "[Day,] dd Mon yyyy [hh:mm[:ss]] [zone]". Zones: UT, GMT, Z and unknown
// names add nothing; EST/EDT, CST/CDT, MST/MDT, PST/PDT; the one-letter
// military zones A..M (without J) and N..Y with the signs of RFC 822; numeric
// "+hhmm" / "-hhmm" (also written "+hh:mm"). Two-digit years: 50..99 are
// 1950..1999, 00..49 are 2000..2049. result is untouched on failure.
bool ParseRfc822Date(std::u16string_view text, plat::FILETIME& result);

// "yyyy-mm-dd[Thh:mm[:ss[.fraction]][zone]]", zone "Z", "+hh:mm" or "-hh:mm".
// result is untouched on failure.
bool ParseIso8601Date(std::u16string_view text, plat::FILETIME& result);

// t in the user's local time: "" for 0; a time of today shows its time alone
// (or the localized "today" when it has no time of day); other days show the
// short date and, when there is a time of day, the time after a space. With
// dateOnly the date alone is shown whenever there is one.
std::u16string FormatDateTime(const plat::FILETIME& t, bool dateOnly);

// Now, in UTC.
void GetCurrentFileTime(plat::FILETIME& result);
