// Typed property values: kinds, lists growing at the front, counting, lookup.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/FrameworkProperties.h"
#include "core/GuardedUse.h"
#include "core/PropertyValue.h"
#include "tests/support/TempDevice.h"

namespace {

class PropertyValueTest : public orvtest::DeviceTest {};

// A plain value that counts its destructions.
class CCountedValue : public CPropertyValue {
 public:
  CCountedValue(const CPropertyName& name, const CPropertyList& head, int* destroyed)
      : CPropertyValue(name, head), destroyed_(destroyed) {}
  ~CCountedValue() override { ++*destroyed_; }

 private:
  int* destroyed_;
};

struct Answers {
  std::int32_t i;
  std::u16string s;
  CPropertyPair pair;
  CPropertyRect rect;
  bool hasObject;
  bool hasList;
};

Answers Ask(const CPropertyValue& v) {
  return {v.GetInt(), v.GetString(), v.GetPair(), v.GetRect(), v.GetSharedObject() != nullptr,
          v.GetNestedList() != nullptr};
}

TEST_F(PropertyValueTest, EachKindAnswersItsOwnGetterAndDefaultsTheRest) {
  auto object = std::make_shared<int>(5);
  CPropertyList nestedList;
  ASSERT_TRUE(PrependIntProperty(nestedList, u"inner", 1));

  struct Case {
    const char* kind;
    std::function<bool(CPropertyList&)> make;
    Answers expected;
  };
  const std::vector<Case> cases = {
      {"plain",
       [](CPropertyList& h) { return PrependValue(h, new CPropertyValue(u"n", h)); },
       {0, u"", {0, 0}, {0, 0, 0, 0}, false, false}},
      {"integer", [](CPropertyList& h) { return PrependIntProperty(h, u"n", -7); },
       {-7, u"", {0, 0}, {0, 0, 0, 0}, false, false}},
      {"pair", [](CPropertyList& h) { return PrependPairProperty(h, u"n", 3, 4); },
       {0, u"", {3, 4}, {0, 0, 0, 0}, false, false}},
      {"rectangle", [](CPropertyList& h) { return PrependRectProperty(h, u"n", 1, 2, 30, 40); },
       {0, u"", {0, 0}, {1, 2, 30, 40}, false, false}},
      {"text", [](CPropertyList& h) { return PrependStringProperty(h, u"n", u"hello"); },
       {0, u"hello", {0, 0}, {0, 0, 0, 0}, false, false}},
      {"object", [&](CPropertyList& h) { return PrependObjectProperty(h, u"n", object); },
       {0, u"", {0, 0}, {0, 0, 0, 0}, true, false}},
      {"link", [&](CPropertyList& h) { return PrependNestedList(h, nestedList); },
       {0, u"", {0, 0}, {0, 0, 0, 0}, false, true}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kind);
    CPropertyList head;
    ASSERT_TRUE(c.make(head));
    ASSERT_TRUE(head);
    const Answers got = Ask(*head);
    EXPECT_EQ(c.expected.i, got.i);
    EXPECT_EQ(c.expected.s, got.s);
    EXPECT_EQ(c.expected.pair, got.pair);
    EXPECT_EQ(c.expected.rect, got.rect);
    EXPECT_EQ(c.expected.hasObject, got.hasObject);
    EXPECT_EQ(c.expected.hasList, got.hasList);
  }
}

TEST_F(PropertyValueTest, NamesAreNumbersOrOwnCopiesOfText) {
  CPropertyList head;
  ASSERT_TRUE(PrependIntProperty(head, 200, 1));
  EXPECT_TRUE(head->GetName().IsNumber());
  EXPECT_EQ(200u, head->GetName().GetNumber());
  EXPECT_TRUE(head->GetName().GetText().empty());

  // A pointer value below 0x10000 is an identifier, not a text.
  ASSERT_TRUE(PrependIntProperty(head, reinterpret_cast<const char16_t*>(std::uintptr_t{300}), 2));
  EXPECT_TRUE(head->GetName().IsNumber());
  EXPECT_EQ(300u, head->GetName().GetNumber());

  char16_t buffer[] = u"Color";
  ASSERT_TRUE(PrependIntProperty(head, buffer, 3));
  buffer[0] = u'X';
  EXPECT_TRUE(head->GetName().IsText());
  EXPECT_EQ(u"Color", head->GetName().GetText());
}

TEST_F(PropertyValueTest, ListsGrowAtTheFrontAndCountEveryHolder) {
  int destroyed = 0;
  CPropertyList head;
  ASSERT_TRUE(PrependValue(head, new CCountedValue(u"first", head, &destroyed)));
  CPropertyValue* first = head.Get();
  EXPECT_EQ(1, first->GetRefCount());  // the head only
  EXPECT_EQ(nullptr, first->GetNext());

  ASSERT_TRUE(PrependValue(head, new CCountedValue(u"second", head, &destroyed)));
  CPropertyValue* second = head.Get();
  EXPECT_EQ(first, second->GetNext());
  EXPECT_EQ(nullptr, first->GetNext());
  EXPECT_EQ(1, second->GetRefCount());
  EXPECT_EQ(1, first->GetRefCount());  // now held by the second value's link alone
  EXPECT_EQ(0, destroyed);

  {
    CPropertyList keep(first);  // a caller holding the older value
    EXPECT_EQ(2, first->GetRefCount());
    head.Reset();
    EXPECT_EQ(1, destroyed);  // the second one went; the first lives on
    EXPECT_EQ(1, first->GetRefCount());
  }
  EXPECT_EQ(2, destroyed);
}

TEST_F(PropertyValueTest, ReleasingTheHeadFreesTheWholeChain) {
  int destroyed = 0;
  {
    CPropertyList head;
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(PrependValue(head, new CCountedValue(i + 1, head, &destroyed)));
    int n = 0;
    for (CPropertyValue* v = head.Get(); v; v = v->GetNext()) ++n;
    EXPECT_EQ(5, n);
    EXPECT_EQ(5u, head->GetName().GetNumber());  // newest first
    ReleaseRefPtr(head.Get());                   // drops the head's count; the pointer stays as it was
    EXPECT_EQ(5, destroyed);
    head.Detach();
  }
  EXPECT_EQ(5, destroyed);
}

TEST_F(PropertyValueTest, AVeryLongChainIsFreedWithoutRecursion) {
  int destroyed = 0;
  CPropertyList head;
  constexpr int kCount = 200000;
  for (int i = 0; i < kCount; ++i) ASSERT_TRUE(PrependValue(head, new CCountedValue(1, head, &destroyed)));
  head.Reset();
  EXPECT_EQ(kCount, destroyed);
}

TEST_F(PropertyValueTest, ObjectValuesShareTheirObject) {
  struct Tracked {
    explicit Tracked(int* d) : destroyed(d) {}
    ~Tracked() { ++*destroyed; }
    int* destroyed;
  };
  int destroyed = 0;
  std::weak_ptr<void> watch;
  CPropertyList head;
  {
    auto object = std::make_shared<Tracked>(&destroyed);
    watch = object;
    ASSERT_TRUE(PrependObjectProperty(head, u"font", object));
    EXPECT_EQ(2, object.use_count());
  }
  EXPECT_EQ(1, watch.use_count());
  {
    std::shared_ptr<void> got = head->GetSharedObject();
    EXPECT_EQ(2, watch.use_count());  // the caller's copy counts
  }
  EXPECT_EQ(0, destroyed);
  head.Reset();
  EXPECT_EQ(1, destroyed);
  EXPECT_TRUE(watch.expired());
}

TEST_F(PropertyValueTest, LookupFindsTheNewestMatchAndSearchesNestedLists) {
  CPropertyList nested;
  ASSERT_TRUE(PrependIntProperty(nested, u"Inner", 11));
  ASSERT_TRUE(PrependIntProperty(nested, u"Shadowed", 12));

  CPropertyList head;
  ASSERT_TRUE(PrependIntProperty(head, u"Shadowed", 1));
  ASSERT_TRUE(PrependIntProperty(head, u"Size", 10));
  ASSERT_TRUE(PrependIntProperty(head, 7, 70));
  ASSERT_TRUE(PrependNestedList(head, nested));
  ASSERT_TRUE(PrependIntProperty(head, u"Size", 20));  // hides the older Size
  ASSERT_TRUE(PrependIntProperty(head, u"7", 77));

  struct Case {
    CPropertyName key;
    bool found;
    std::int32_t value;
  };
  const Case cases[] = {
      {u"Size", true, 20},     {u"Inner", true, 11},  {u"Shadowed", true, 12},  // the nested list comes first
      {7, true, 70},           {u"7", true, 77},      {u"size", false, 0},
      {8, false, 0},           {u"Missing", false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key.IsText() ? std::string(c.key.GetText().begin(), c.key.GetText().end())
                                : std::to_string(c.key.GetNumber()));
    CPropertyList found = FindProperty(head, c.key);
    EXPECT_EQ(c.found, static_cast<bool>(found));
    std::int32_t value = -1;
    EXPECT_EQ(c.found, GetIntProperty(head, c.key, value));
    EXPECT_EQ(c.found ? c.value : -1, value);  // untouched on a miss
  }
  CPropertyList empty;
  EXPECT_FALSE(FindProperty(empty, u"Size"));
}

class CFakeSource {
 public:
  plat::HRESULT answer = plat::S_OK;
  int calls = 0;
  plat::HRESULT GetPair(const char16_t* name, CPropertyPair* out) {
    ++calls;
    lastName = name;
    out->first = 100;
    out->second = 200;
    return answer;
  }
  plat::HRESULT GetRect(const char16_t* name, CPropertyRect* out) {
    ++calls;
    lastName = name;
    *out = {1, 2, 3, 4};
    return answer;
  }
  std::u16string lastName;
};

TEST_F(PropertyValueTest, SourceAnswersOtherThanOkGiveTheDefaults) {
  struct Case {
    plat::HRESULT answer;
    CPropertyPair pair;
    CPropertyRect rect;
  };
  const Case cases[] = {
      {plat::S_OK, {100, 200}, {1, 2, 3, 4}},
      {plat::S_FALSE, {-1, -2}, {-1, -2, -3, -4}},
      {plat::E_FAIL, {-1, -2}, {-1, -2, -3, -4}},
  };
  for (const auto& c : cases) {
    CFakeSource source;
    source.answer = c.answer;
    EXPECT_EQ(c.pair, GetPairPropertyOr(&source, u"Offset", -1, -2));
    EXPECT_EQ(u"Offset", source.lastName);
    EXPECT_EQ(c.rect, GetRectPropertyOr(&source, u"Bounds", -1, -2, -3, -4));
    EXPECT_EQ(u"Bounds", source.lastName);
    EXPECT_EQ(c.pair, GetPairPropertyChecked(&source, u"Offset", -1, -2));
    EXPECT_EQ(c.rect, GetRectPropertyChecked(&source, u"Bounds", -1, -2, -3, -4));
    EXPECT_EQ(4, source.calls);
  }
}

TEST_F(PropertyValueTest, CheckedReadsRaiseFailOnAnEmptyHolder) {
  std::shared_ptr<CFakeSource> empty;
  try {
    GetPairPropertyChecked(empty, u"Offset", 1, 2);
    FAIL() << "no exception";
  } catch (const COrvException& e) {
    EXPECT_EQ(plat::E_FAIL, e.GetCode());
  }
  EXPECT_THROW(GetRectPropertyChecked(empty, u"Bounds", 1, 2, 3, 4), COrvException);
  auto source = std::make_shared<CFakeSource>();
  EXPECT_EQ((CPropertyPair{100, 200}), GetPairPropertyChecked(source, u"Offset", 1, 2));
}

class CFakeInterface : public plat::IUnknown {
 public:
  plat::HRESULT QueryInterface(plat::REFIID, void**) override { return plat::E_NOINTERFACE; }
  plat::ULONG AddRef() override { return ++refs; }
  plat::ULONG Release() override {
    --refs;
    if (throwOnRelease) throw std::runtime_error("release failed");
    return refs;
  }
  int refs = 1;
  bool throwOnRelease = false;
};

TEST_F(PropertyValueTest, LastGuardedUseReleasesTheInterface) {
  CFakeInterface object;
  CGuardedUse use;
  plat::InitializeCriticalSection(&use.section);
  use.useCount = 2;
  use.open = true;
  use.object = &object;

  ReleaseGuardedUse(use);
  EXPECT_EQ(1, use.useCount);
  EXPECT_TRUE(use.open);
  EXPECT_EQ(1, object.refs);

  ReleaseGuardedUse(use);
  EXPECT_EQ(0, use.useCount);
  EXPECT_FALSE(use.open);
  EXPECT_EQ(0, object.refs);
  EXPECT_EQ(nullptr, use.object);
  EXPECT_FALSE(plat::IsCriticalSectionOwnedByCurrentThread(&use.section));
  plat::DeleteCriticalSection(&use.section);
}

TEST_F(PropertyValueTest, GuardedUseLeavesItsSectionWhenTheReleaseThrows) {
  CFakeInterface object;
  object.throwOnRelease = true;
  CGuardedUse use;
  plat::InitializeCriticalSection(&use.section);
  use.useCount = 1;
  use.open = true;
  use.object = &object;
  EXPECT_THROW(ReleaseGuardedUse(use), std::runtime_error);
  EXPECT_FALSE(use.open);
  EXPECT_FALSE(plat::IsCriticalSectionOwnedByCurrentThread(&use.section));
  EXPECT_EQ(0, use.section.RecursionCount.load());
  plat::DeleteCriticalSection(&use.section);
}

}  // namespace
