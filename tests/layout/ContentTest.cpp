// Dialog content: building and laying out items, hit tests and the pointer,
// key navigation by direction and by the navigation properties, the data
// source asked first, and scrolling with glides on an injected clock.
#include <algorithm>

#include "platform/base/Time.h"
#include "tests/layout/ContentFixture.h"

namespace layouttest {
namespace {

using XmlLayouts::CDialogContent;

class ContentTest : public ScreenTest {
 protected:
  CRefPtr<CDialogContent> Show(const std::u16string& text, plat::IUnknown* owner = nullptr) {
    AddLayout(u"L", text);
    EXPECT_TRUE(manager_->ShowLayout(u"L", kShowReplace, owner));
    return manager_->GetContent();
  }
  static std::u16string SelectedName(CDialogContent& content) {
    const auto index = content.GetSelectedIndex();
    return index < 0 ? u"" : content.GetItems()[static_cast<std::size_t>(index)].name;
  }
  static bool SelectNamed(CDialogContent& content, const std::u16string& name) {
    return content.GetOutsideView()->SelectByName(name.c_str()) == plat::S_OK;
  }
};

TEST_F(ContentTest, BuildLaysItemsOutAndKeepsPluginsAndSelectionAcrossARebuild) {
  CComRef<RecordingSource> source(new RecordingSource());
  source->measures[u"b"] = 10;
  auto content = Show(OneLayout(u"L", Box(u"a", 0, 0, 100, 50, IntValue(u"Grow", 30)) +
                                          Box(u"b", 0, 60, 100, 50, u"", u" ID=\"5\"") +
                                          Box(u"c", 200, 0, 30, 30)),
                      source.Get());
  ASSERT_TRUE(content);
  ASSERT_EQ(content->GetItems().size(), 3u);
  EXPECT_EQ(content->GetItems()[1].id, 5);
  EXPECT_EQ(content->GetItems()[0].id, -1);
  // "a" grows by 30 and pushes every later item down; the source measures "b".
  plat::RECT b{};
  ASSERT_EQ(content->GetItems()[1].placed->GetBoundRect(&b, 0), plat::S_OK);
  EXPECT_EQ(b.top, 90);
  EXPECT_EQ(content->GetExtent().bottom, 150);  // b: 90 + 50 + 10
  EXPECT_EQ(content->GetExtent().right, 230);
  EXPECT_EQ(source->phases, (std::vector<std::int32_t>{0, 1, 2}));
  EXPECT_EQ(BoxNamed(u"a")->lastView.width, kWidth);
  EXPECT_EQ(BoxNamed(u"a")->lastView.height, kHeight);

  ASSERT_TRUE(SelectNamed(*content, u"b"));
  manager_->Relayout();
  EXPECT_EQ(factory_->made.size(), 3u) << "same-named plug-ins survive a rebuild";
  EXPECT_EQ(SelectedName(*content), u"b");
  EXPECT_EQ(BoxNamed(u"a")->layoutPasses, 2);
}

TEST_F(ContentTest, AnExplicitContentRectangleReplacesTheExtentOnce) {
  auto content = Show(OneLayout(u"L", Box(u"a", 0, 0, 100, 50, u"<DialogRect X=\"0\" Y=\"0\" Width=\"480\" Height=\"1000\"/>") +
                                          Box(u"b", 0, 900, 100, 50, IntValue(u"Grow", 40))));
  EXPECT_EQ(content->GetExtent().bottom, 1040);
  EXPECT_EQ(content->GetExtent().right, 480);
}

TEST_F(ContentTest, PressSelectsTheTopmostItemThatTakesThePointer) {
  auto content = Show(OneLayout(u"L", Box(u"under", 0, 0, 200, 200) + Box(u"over", 50, 50, 100, 100) +
                                          Box(u"glass", 0, 0, 480, 640, IntValue(u"Kind", 0)) +
                                          Box(u"proud", 300, 300, 50, 50, IntValue(u"Refuse", 1))));
  EXPECT_TRUE(content->PointerDown(60, 60));
  EXPECT_EQ(SelectedName(*content), u"over");
  EXPECT_EQ(BoxNamed(u"over")->lastFocusPoint.x, 60);
  EXPECT_TRUE(content->PointerDown(10, 10));
  EXPECT_EQ(SelectedName(*content), u"under");
  // A refusal leaves the press unhandled and the selection where it was.
  EXPECT_FALSE(content->PointerDown(310, 310));
  EXPECT_EQ(SelectedName(*content), u"under");
  EXPECT_FALSE(content->PointerDown(400, 10));

  // The lift outside the selection does nothing; inside it taps and clears.
  content->PointerUp(300, 10);
  EXPECT_EQ(BoxNamed(u"under")->taps, 0);
  content->PointerUp(20, 20);
  EXPECT_EQ(BoxNamed(u"under")->taps, 1);
  EXPECT_EQ(content->GetSelectedIndex(), -1);

  // Window points are moved by the scroll origin.
  content->SetScrollOriginPoint(plat::POINT{0, 40});
  EXPECT_TRUE(content->PointerDown(60, 20));
  EXPECT_EQ(SelectedName(*content), u"over");
  EXPECT_EQ(BoxNamed(u"over")->lastFocusPoint.y, 60);
}

// Three rows of three boxes.
std::u16string Grid(const std::u16string& extraCentre = u"") {
  std::u16string plugins;
  const int xs[] = {20, 190, 360};
  const int ys[] = {20, 220, 420};
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) {
      const std::u16string name = u"r" + plat::Utf8ToUtf16(std::to_string(r)) + u"c" + plat::Utf8ToUtf16(std::to_string(c));
      plugins += Box(name, xs[c], ys[r], 100, 60, r == 1 && c == 1 ? extraCentre : u"");
    }
  }
  return OneLayout(u"L", plugins);
}

TEST_F(ContentTest, ArrowKeysMoveTheSelectionByDirection) {
  struct Case {
    const char16_t* from;
    std::int32_t key;
    bool noWrap;
    const char16_t* to;  // empty: cleared and not handled
  } cases[] = {
      {u"r1c1", kKeyRight, true, u"r1c2"}, {u"r1c1", kKeyLeft, true, u"r1c0"}, {u"r1c1", kKeyUp, true, u"r0c1"},
      {u"r1c1", kKeyDown, true, u"r2c1"},  {u"r0c0", kKeyDown, true, u"r1c0"},
      // Off the edge: wrapping finds the far item in the same band, else the
      // selection goes.
      {u"r1c2", kKeyRight, false, u"r1c0"}, {u"r1c2", kKeyRight, true, u""}, {u"r2c1", kKeyDown, false, u"r0c1"},
      {u"r1c0", kKeyLeft, true, u""},
  };
  auto content = Show(Grid());
  for (const Case& c : cases) {
    ASSERT_TRUE(SelectNamed(*content, c.from));
    bool handled = false;
    content->HandleKey(c.key, &handled, c.noWrap);
    EXPECT_EQ(SelectedName(*content), std::u16string(c.to)) << plat::Utf16ToUtf8(c.from) << " key " << c.key;
    EXPECT_EQ(handled, *c.to != 0) << plat::Utf16ToUtf8(c.from) << " key " << c.key;
  }
}

TEST_F(ContentTest, NavigationPropertiesNameTheNeighbourOrStopTheMove) {
  auto content = Show(Grid(u"<String Name=\"Right\" Value=\"r2c2\"/><String Name=\"Down\" Value=\"\"/>"));
  ASSERT_TRUE(SelectNamed(*content, u"r1c1"));
  bool handled = false;
  content->HandleKey(kKeyRight, &handled, false);
  EXPECT_TRUE(handled);
  EXPECT_EQ(SelectedName(*content), u"r2c2");
  ASSERT_TRUE(SelectNamed(*content, u"r1c1"));
  content->HandleKey(kKeyDown, &handled, false);
  EXPECT_FALSE(handled);
  EXPECT_EQ(content->GetSelectedIndex(), -1);
  // Without a selection a key is not handled at all.
  content->HandleKey(kKeyUp, &handled, false);
  EXPECT_FALSE(handled);
}

TEST_F(ContentTest, DirectionSearchScoresTiesBandsAndFarCoordinates) {
  // Rightwards from "a" at (0, 100, 50, 50); the others in paint order.
  struct Case {
    const char* what;
    std::u16string others;
    const char16_t* chosen;  // empty: nothing counts
  } cases[] = {
      {"same distance: the later in paint order wins", Box(u"b", 100, 52, 50, 50) + Box(u"c", 100, 150, 50, 50),
       u"c"},
      {"outside the band costs 800 but beats a farther item in it",
       Box(u"near", 100, 160, 50, 50) + Box(u"far", 300, 100, 50, 50), u"near"},
      {"scores beyond 32 bits still count", Box(u"distant", 4000, 100, 50, 50), u"distant"},
      {"behind the start or outside the cone, never", Box(u"behind", -200, 100, 50, 50) + Box(u"aside", 60, 400, 50, 50),
       u""},
  };
  for (const Case& c : cases) {
    auto content = Show(OneLayout(u"L", Box(u"a", 0, 100, 50, 50) + c.others));
    ASSERT_TRUE(SelectNamed(*content, u"a"));
    EXPECT_EQ(content->SelectPluginInDirection(plat::RECT{0, 100, 50, 150}, kKeyRight, false), *c.chosen != 0)
        << c.what;
    if (*c.chosen) {
      EXPECT_EQ(SelectedName(*content), std::u16string(c.chosen)) << c.what;
    }
  }
}

TEST_F(ContentTest, FirstSelectionComesFromTheMarkedEdgeOrTheOutermostItem) {
  {
    auto content = Show(OneLayout(u"L", Box(u"left", 0, 0, 50, 50) + Box(u"marked", 100, 0, 50, 50, IntValue(u"IsRight", 1)) +
                                            Box(u"right", 300, 0, 50, 50)));
    EXPECT_TRUE(content->SelectEdgePlugin(kKeyLeft));
    EXPECT_EQ(SelectedName(*content), u"marked");
  }
  auto content = Show(OneLayout(u"L", Box(u"left", 0, 100, 50, 50) + Box(u"right1", 300, 0, 50, 50) +
                                          Box(u"right2", 300, 200, 50, 50) + Box(u"top", 100, 0, 50, 50)));
  struct Case {
    std::int32_t key;
    const char16_t* name;
  } cases[] = {{kKeyLeft, u"right2"}, {kKeyRight, u"left"}, {kKeyDown, u"right1"}, {kKeyUp, u"right2"}};
  for (const Case& c : cases) {
    content->ClearSelection();
    EXPECT_TRUE(content->SelectEdgePlugin(c.key));
    EXPECT_EQ(SelectedName(*content), std::u16string(c.name)) << c.key;
  }
}

TEST_F(ContentTest, EnterActivatesAndReleasesTheSelection) {
  CComRef<RecordingSource> source(new RecordingSource());
  auto content = Show(OneLayout(u"L", Box(u"a", 0, 0, 50, 50) + Box(u"b", 100, 0, 50, 50, u"", u" ID=\"7\"")),
                      source.Get());
  ASSERT_TRUE(SelectNamed(*content, u"a"));
  bool handled = false;
  content->HandleKey(kKeyEnter, &handled, false);
  EXPECT_TRUE(handled);
  EXPECT_EQ(BoxNamed(u"a")->activations, 1);
  EXPECT_EQ(BoxNamed(u"a")->lastActivateFlag, 0);
  EXPECT_EQ(BoxNamed(u"a")->taps, 1);
  content->HandleKey(kKeyActivate, &handled, false);
  EXPECT_EQ(BoxNamed(u"a")->lastActivateFlag, 1);
  EXPECT_TRUE(source->activated.empty()) << "an item without an id is never offered to the source";

  // The source answers first for an item with an id.
  source->takeActivate = true;
  ASSERT_TRUE(SelectNamed(*content, u"b"));
  content->HandleKey(kKeyEnter, &handled, false);
  EXPECT_EQ(source->activated, (std::vector<std::u16string>{u"b"}));
  EXPECT_EQ(BoxNamed(u"b")->activations, 0);
  EXPECT_EQ(BoxNamed(u"b")->taps, 1);
}

TEST_F(ContentTest, TheDataSourceAnswersStateQueriesFirst) {
  CComRef<RecordingSource> source(new RecordingSource());
  source->stateAnswers[u"b"] = 0;
  auto content = Show(OneLayout(u"L", Box(u"a", 0, 0, 200, 200) + Box(u"b", 0, 0, 100, 100, u"", u" ID=\"2\"")),
                      source.Get());
  // "b" lies on top but its source says it takes no pointer.
  EXPECT_TRUE(content->PointerDown(10, 10));
  EXPECT_EQ(SelectedName(*content), u"a");
  for (const auto& s : source->states) EXPECT_EQ(s.substr(0, 2), u"b:");
  EXPECT_FALSE(source->states.empty());
}

TEST_F(ContentTest, SetScrollOriginAndEnsureVisible) {
  auto shortContent = Show(OneLayout(u"L", Box(u"a", 0, 0, 100, 100)));
  shortContent->SetScrollOriginPoint(plat::POINT{0, -50});
  EXPECT_EQ(shortContent->GetScroll().y, -50);
  auto tall = Show(OneLayout(u"L", Box(u"a", 0, 0, 100, 2000)));
  tall->SetScrollOriginPoint(plat::POINT{0, -50});
  EXPECT_EQ(tall->GetScroll().y, 0);
  tall->SetScrollOriginPoint(plat::POINT{0, 5000});
  EXPECT_EQ(tall->GetScroll().y, 2000 - kHeight);
  // A rectangle taller than the view: its top when the top lies above, else
  // its bottom.
  tall->SetScrollOriginPoint(plat::POINT{0, 500});
  tall->EnsureVisibleRect(plat::RECT{0, 300, 10, 1300});
  EXPECT_EQ(tall->GetScroll().y, 300);
  tall->EnsureVisibleRect(plat::RECT{0, 400, 10, 1400});
  EXPECT_EQ(tall->GetScroll().y, 1400 - kHeight);
}

// Scrolling runs on a clock of the test: every frame sleeps on it.
class ScrollTest : public ContentTest {
 protected:
  void SetUp() override {
    ContentTest::SetUp();
    plat::SetClock(&clock_);
    MakeWindow();
    content_ = Show(OneLayout(u"L", Box(u"page", 0, 0, 480, 2000, Fill(0x00FF00)),
                              u"<General><ScrollY Value=\"On\"/></General>"));
    ASSERT_TRUE(content_);
    plat::UpdateWindow(window_);
  }
  void TearDown() override {
    content_.Reset();
    ContentTest::TearDown();
    plat::SetClock(nullptr);
  }
  bool Drag(int fromY, int toY, int velocityY, bool released) {
    GestureRecord g;
    g.downY = g.previousY = fromY;
    g.currentY = toY;
    g.velocityY = velocityY;
    g.released = released ? 1 : 0;
    return content_->DispatchEvent(kContentEventDrag, 0, &g);
  }
  // The scrolls painted from now on.
  std::vector<std::int32_t>& Frames() {
    auto& frames = BoxNamed(u"page")->scrolls;
    frames.clear();
    return frames;
  }

  static constexpr std::int32_t kLimit = 2000 - kHeight;
  plat::ManualClock clock_;
  CRefPtr<CDialogContent> content_;
};

TEST_F(ScrollTest, DragScrollsAndAFlingGlidesPacedWithoutReversing) {
  EXPECT_TRUE(Drag(300, 200, 0, false));
  EXPECT_EQ(content_->GetScroll().y, 100);
  const plat::DWORD before = plat::GetTickCount();
  const plat::DWORD sleepsBefore = clock_.SleepCalls();
  auto& frames = Frames();
  // A fling upwards: the content moves on towards larger scroll positions.
  EXPECT_TRUE(Drag(200, 190, -500, true));
  plat::UpdateWindow(window_);
  const std::int32_t end = content_->GetScroll().y;
  EXPECT_GT(end, 110);
  EXPECT_LT(end, kLimit);
  ASSERT_GT(frames.size(), 10u);
  EXPECT_TRUE(std::is_sorted(frames.begin(), frames.end())) << "the glide never reverses: " << ::testing::PrintToString(std::vector<std::int32_t>(frames.end() - std::min<std::size_t>(frames.size(), 12), frames.end()));
  EXPECT_EQ(frames.back(), end);
  const plat::DWORD took = plat::GetTickCount() - before;
  EXPECT_LE(took, static_cast<plat::DWORD>(kGlideMaxMs));
  // Paced: at least one frame time per sleep, never a busy loop.
  const plat::DWORD sleeps = clock_.SleepCalls() - sleepsBefore;
  EXPECT_GT(sleeps, 10u);
  EXPECT_GE(took, sleeps * kGlideFrameMs);
}

TEST_F(ScrollTest, GlideNeverReversesAndStopsAtItsBounds) {
  std::int32_t position = 100;
  const std::int32_t left = content_->Glide(-3000, 20, 0, 600, &position);
  EXPECT_EQ(position, 600);
  EXPECT_NE(left, 0) << "reaching a bound while moving gives the velocity left";
  std::int32_t free = 100;
  EXPECT_EQ(content_->Glide(-300, 20, 0, 100000, &free), 0);
  // v t / 2000 with t = 100 |v| / decel: 300 * 1500 / 2000 = 225.
  EXPECT_NEAR(free, 100 + 225, 2);
  // Absurd velocities and decelerations are capped: the glide ends in time.
  const plat::DWORD before = plat::GetTickCount();
  std::int32_t wild = 0;
  EXPECT_EQ(content_->Glide(-2000000000, 1, -2000000000, 2000000000, &wild), 0);
  EXPECT_LE(plat::GetTickCount() - before, static_cast<plat::DWORD>(kGlideMaxMs + kGlideFrameMs));
  EXPECT_GT(wild, 0);
}

TEST_F(ScrollTest, AFlingPastTheEndOvershootsAndComesBackToTheEdge) {
  content_->SetScrollOriginPoint(plat::POINT{0, kLimit - 60});
  auto& frames = Frames();
  EXPECT_TRUE(Drag(300, 299, -6000, true));
  plat::UpdateWindow(window_);
  EXPECT_EQ(content_->GetScroll().y, kLimit);
  ASSERT_FALSE(frames.empty());
  const std::int32_t highest = *std::max_element(frames.begin(), frames.end());
  EXPECT_GT(highest, kLimit);
  EXPECT_LE(highest, kLimit + kHeight * 3 / 4);
  EXPECT_EQ(frames.back(), kLimit);
}

TEST_F(ScrollTest, AFlingThatEndsInsideStopsWhereTheGlideEnds) {
  EXPECT_TRUE(Drag(300, 299, -400, true));
  const std::int32_t end = content_->GetScroll().y;
  EXPECT_GT(end, 1);
  EXPECT_LT(end, kLimit);
}

TEST_F(ScrollTest, ElasticOvershootStaysWithinThreeQuartersOfTheView) {
  std::int32_t position = kLimit;
  const std::int32_t band = kHeight * 3 / 4;
  content_->Glide(-6000, 500, kLimit, kLimit + band, &position);
  EXPECT_GT(position, kLimit);
  EXPECT_LE(position, kLimit + band);
}

TEST_F(ScrollTest, AnimateToEndsAtTheTargetFromEitherSide) {
  struct Case {
    std::int32_t from, to, duration;
  } cases[] = {{500, 100, 400}, {100, 500, 400}, {1, 0, 4000}, {7, 3, 0}, {-80, 0, 400}};
  for (const Case& c : cases) {
    std::int32_t position = c.from;
    const plat::DWORD before = plat::GetTickCount();
    content_->AnimateTo(c.to, c.duration, &position);
    EXPECT_EQ(position, c.to) << c.from << " to " << c.to;
    EXPECT_LE(plat::GetTickCount() - before, static_cast<plat::DWORD>(c.duration + 2 * kGlideFrameMs));
  }
}

TEST_F(ScrollTest, ReleasedAboveTheTopReturnsToIt) {
  EXPECT_TRUE(Drag(100, 180, 0, false));
  EXPECT_EQ(content_->GetScroll().y, -80);
  EXPECT_TRUE(Drag(180, 181, 0, true));
  EXPECT_EQ(content_->GetScroll().y, 0);
  // A drag end clamps too.
  EXPECT_TRUE(Drag(100, 150, 0, false));
  content_->DispatchEvent(kContentEventDragEnd, 0, nullptr);
  EXPECT_EQ(content_->GetScroll().y, 0);
}

TEST_F(ScrollTest, APressWaitingStopsTheGlide) {
  plat::PostMessageW(window_, plat::WM_LBUTTONDOWN, 0, 0);
  std::int32_t position = 100;
  const plat::DWORD sleeps = clock_.SleepCalls();
  EXPECT_EQ(content_->Glide(-3000, 20, 0, 1000, &position), 0);
  EXPECT_EQ(clock_.SleepCalls(), sleeps) << "stopped at the first frame";
  EXPECT_GT(position, 100);
}

TEST_F(ContentTest, ContentThatMayNotScrollIgnoresDrags) {
  auto content = Show(OneLayout(u"L", Box(u"a", 0, 0, 480, 2000)));
  GestureRecord g;
  g.previousY = 300;
  g.currentY = 200;
  EXPECT_FALSE(content->DispatchEvent(kContentEventDrag, 0, &g));
  EXPECT_EQ(content->GetScroll().y, 0);
}

}  // namespace
}  // namespace layouttest
