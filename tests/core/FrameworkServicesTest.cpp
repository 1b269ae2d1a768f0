#include "core/FrameworkServices.h"

#include <gtest/gtest.h>

#include <ostream>

#include <unistd.h>

#include <string>

#include "platform/base/SysInfo.h"

namespace {

struct MulDivCase {
  std::int32_t value;
  std::int32_t multiplier;
  std::int32_t divisor;
  std::int32_t expected;
};

// Names the case in test listings.
void PrintTo(const MulDivCase& c, std::ostream* os) { *os << c.value << " * " << c.multiplier << " / " << c.divisor; }

class MulDivRoundCases : public ::testing::TestWithParam<MulDivCase> {};

TEST_P(MulDivRoundCases, RoundsHalfAwayFromZero) {
  const MulDivCase& c = GetParam();
  EXPECT_EQ(MulDivRound(c.value, c.multiplier, c.divisor), c.expected)
      << c.value << " * " << c.multiplier << " / " << c.divisor;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MulDivRoundCases,
    ::testing::Values(MulDivCase{12, 192, 96, 24},           // 96-dpi units to pixels
                      MulDivCase{13, 96, 192, 7},            // 6.5 rounds up
                      MulDivCase{-13, 96, 192, -7},          // and away from zero when negative
                      MulDivCase{11, 96, 192, 6},            // 5.5
                      MulDivCase{10, 96, 192, 5},
                      MulDivCase{1, 1, 3, 0},
                      MulDivCase{2, 1, 3, 1},
                      MulDivCase{0, 100, 7, 0},
                      MulDivCase{100000, 100000, 100000, 100000},  // the product needs 64 bits
                      MulDivCase{-2147483647 - 1, 1, 2, -1073741824},
                      MulDivCase{5, 3, 0, -1},               // no division by zero
                      MulDivCase{2147483647, 2, 1, -1}));    // beyond 32 bits

// The answer is kept for the life of the process, so each case runs in a
// fresh child process, which exits with the two answers it got.
void AskTwice(const char16_t* firstType, const char16_t* laterType) {
  plat::SystemInfoSettings settings;
  settings.platformType = firstType;
  plat::SetSystemInfoForTesting(settings);
  bool first = IsSmartphonePlatform();
  settings.platformType = laterType;
  plat::SetSystemInfoForTesting(settings);
  bool later = IsSmartphonePlatform();
  _exit((first ? 1 : 0) | (later ? 2 : 0));
}

struct SmartphoneCase {
  const char* name;
  std::u16string first;
  std::u16string later;
  int answers;  // bit 0: first answer, bit 1: second answer
};

// Names the case in test listings.
void PrintTo(const SmartphoneCase& c, std::ostream* os) { *os << c.name; }

class SmartphoneDeathTest : public ::testing::TestWithParam<SmartphoneCase> {};

TEST_P(SmartphoneDeathTest, AnswerIsWorkedOutOnceIgnoringCase) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const SmartphoneCase& c = GetParam();
  EXPECT_EXIT(AskTwice(c.first.c_str(), c.later.c_str()), ::testing::ExitedWithCode(c.answers), "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SmartphoneDeathTest,
    ::testing::Values(SmartphoneCase{"upper_case", u"SMARTPHONE", u"SMARTPHONE", 3},
                      SmartphoneCase{"longer_name", u"Smartphone2", u"Smartphone2", 0},
                      SmartphoneCase{"kept_true", u"Smartphone", u"PocketPC", 3},
                      SmartphoneCase{"kept_false", u"PocketPC", u"Smartphone", 0},
                      // Too long for the 128-byte buffer: the platform call fails.
                      SmartphoneCase{"failed_call_is_false", std::u16string(80, u'S'), u"Smartphone", 0}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
