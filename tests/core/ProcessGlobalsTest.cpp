// The process-wide globals: every registered name gives the platform's number
// for it, and everything built is released in reverse order.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/ProcessGlobals.h"
#include "platform/ipc/Ipc.h"
#include "tests/support/TempDevice.h"

namespace {

class ProcessGlobalsTest : public orvtest::DeviceTest {};

TEST_F(ProcessGlobalsTest, EveryNameGivesThePlatformNumber) {
  CProcessGlobals globals;
  const OrvRegisteredMessages& m = globals.GetMessages();
  struct Case {
    const char16_t* name;
    plat::UINT number;
  } cases[] = {
      {u"Orv News acknowledge", m.orvNewsAcknowledge},
      {u"Orv News exit", m.orvNewsExit},
      {u"48D1000C-0D36-4050-915D-F045C740F3C5", m.viewStateChanged},
      {u"59F06DBC-9A67-4573-B630-3250852ED285", m.updateNow},
      {u"7179BB91-60E6-4b2f-8D1B-A443CAD6A1FA", m.isInterfaceOpen},
      {u"8C95A4BA-B836-4105-AD6D-07F6549355C4", m.showInterface},
      {u"postponed invalidate", m.postponedInvalidate},
      {u"MyUpdateManagerChanged", m.updateManagerChanged},
      {u"HtmlCtrlReload", m.htmlCtrlReload},
      {u"MyImageLoaded", m.imageLoaded},
      {u"MyPrevNextArticle", m.prevNextArticle},
      {u"MyCurrentArticleChanged", m.currentArticleChanged},
      {u"OrvSmartScrolling_TapTimeoutMessage", m.smartScrollingTapTimeout},
      {u"ODLCInvalidateRect", m.odlcInvalidateRect[0]},
      {u"ODLCInvalidateRect", m.odlcInvalidateRect[1]},
      {u"ODLCInvalidateRect", m.odlcInvalidateRect[2]},
      {u"ODLCInvalidateAll", m.odlcInvalidateAll[0]},
      {u"ODLCInvalidateAll", m.odlcInvalidateAll[1]},
      {u"ODLCInvalidateAll", m.odlcInvalidateAll[2]},
  };
  std::vector<plat::UINT> distinct;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name, c.name + std::char_traits<char16_t>::length(c.name)));
    EXPECT_NE(c.number, 0u);
    EXPECT_EQ(c.number, plat::RegisterWindowMessageW(c.name));
    if (std::find(distinct.begin(), distinct.end(), c.number) == distinct.end()) distinct.push_back(c.number);
  }
  EXPECT_EQ(distinct.size(), 15u);  // ODLC names are the same number each time
}

// Records the order in which the counted services go.
struct Service : CRefCounted {
  Service(std::vector<int>& log, int id) : log(log), id(id) {}
  ~Service() override { log.push_back(id); }
  std::vector<int>& log;
  int id;
};

TEST_F(ProcessGlobalsTest, ReleasedInReverseOrder) {
  std::vector<int> gone;
  CProcessGlobals globals;
  const std::vector<std::u16string> built = globals.GetBuildOrder();
  ASSERT_FALSE(built.empty());
  EXPECT_EQ(built.front(), u"Orv News acknowledge");
  EXPECT_EQ(built.back(), u"global options");
  for (int i = 0; i < CProcessGlobals::kLayoutServiceCount; ++i)
    globals.SetLayoutService(static_cast<CProcessGlobals::LayoutService>(i), new Service(gone, i));
  EXPECT_NE(globals.GetLayoutService(CProcessGlobals::kPluginFactory), nullptr);

  globals.Release();
  EXPECT_FALSE(globals.IsBuilt());
  std::vector<std::u16string> reversed(built.rbegin(), built.rend());
  EXPECT_EQ(globals.GetReleaseOrder(), reversed);
  EXPECT_EQ(gone, (std::vector<int>{3, 2, 1, 0}));
  EXPECT_EQ(globals.GetMessages().imageLoaded, 0u);
  EXPECT_EQ(globals.GetLayoutService(CProcessGlobals::kPluginEnvironment), nullptr);

  globals.Build();  // a second build registers the same numbers again
  EXPECT_EQ(globals.GetMessages().imageLoaded, plat::RegisterWindowMessageW(u"MyImageLoaded"));
  EXPECT_EQ(globals.GetBuildOrder(), built);
}

// The process moves to another device, where the names were given other
// numbers: the set answers that device's numbers.
TEST_F(ProcessGlobalsTest, AnotherDeviceGivesItsOwnNumbers) {
  CProcessGlobals globals;
  const plat::UINT first = globals.GetMessages().isInterfaceOpen;
  ASSERT_NE(first, 0u);
  orvtest::ScopedTempDevice other;
  for (int i = 0; i < 5; ++i) plat::RegisterWindowMessageW((u"taken first " + std::u16string(1, u'a' + i)).c_str());
  const plat::UINT there = plat::RegisterWindowMessageW(u"7179BB91-60E6-4b2f-8D1B-A443CAD6A1FA");
  ASSERT_NE(there, first);
  EXPECT_EQ(globals.GetMessages().isInterfaceOpen, there);
  EXPECT_EQ(globals.GetMessages().odlcInvalidateAll[2], plat::RegisterWindowMessageW(u"ODLCInvalidateAll"));
}

TEST_F(ProcessGlobalsTest, ReplacingAServiceReleasesTheOldOne) {
  std::vector<int> gone;
  CProcessGlobals globals;
  globals.SetLayoutService(CProcessGlobals::kLayoutProvider, new Service(gone, 1));
  globals.SetLayoutService(CProcessGlobals::kLayoutProvider, new Service(gone, 2));
  EXPECT_EQ(gone, std::vector<int>{1});
  globals.SetLayoutService(CProcessGlobals::kLayoutProvider, nullptr);
  EXPECT_EQ(gone, (std::vector<int>{1, 2}));
}

}  // namespace
