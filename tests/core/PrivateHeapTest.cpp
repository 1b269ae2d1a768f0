#include "core/PrivateHeap.h"

#include <gtest/gtest.h>

#include <ostream>

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "core/DebugLog.h"
#include "core/FileUtils.h"
#include "core/VORegistry.h"
#include "platform/base/Text.h"
#include "tests/support/TempDevice.h"

namespace {

bool ThrowsFatalError(CPrivateHeap& heap, std::size_t size) {
  try {
    heap.Alloc(size);
  } catch (const char16_t* text) {
    return std::u16string(text) == u"Fatal error";
  }
  return false;
}

bool ReAllocThrowsFatalError(CPrivateHeap& heap, void* p, std::size_t size) {
  try {
    heap.ReAlloc(p, size);
  } catch (const char16_t* text) {
    return std::u16string(text) == u"Fatal error";
  }
  return false;
}

TEST(PrivateHeap, AllocationsAreUsableAndAccounted) {
  CPrivateHeap heap;
  auto* a = static_cast<unsigned char*>(heap.Alloc(100));
  auto* b = static_cast<unsigned char*>(heap.Alloc(0));
  auto* c = static_cast<unsigned char*>(heap.TryAlloc(33));
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(a) % alignof(std::max_align_t), 0u);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(c) % alignof(std::max_align_t), 0u);
  std::memset(a, 0xAB, 100);
  std::memset(c, 0xCD, 33);
  EXPECT_EQ(heap.GetUsedSize(), 133u);
  EXPECT_EQ(heap.GetBlockCount(), 3u);
  heap.Free(a);
  EXPECT_EQ(heap.GetUsedSize(), 33u);
  EXPECT_EQ(c[32], 0xCD);
  heap.Free(b);
  heap.Free(c);
  EXPECT_EQ(heap.GetUsedSize(), 0u);
  EXPECT_EQ(heap.GetBlockCount(), 0u);
  EXPECT_FALSE(heap.HasFailed());
}

TEST(PrivateHeap, ReAllocKeepsContents) {
  CPrivateHeap heap;
  auto* p = static_cast<char*>(heap.ReAlloc(nullptr, 8));  // no block yet: allocates
  ASSERT_NE(p, nullptr);
  std::memcpy(p, "abcdefg", 8);
  p = static_cast<char*>(heap.ReAlloc(p, 4096));
  ASSERT_NE(p, nullptr);
  EXPECT_STREQ(p, "abcdefg");
  EXPECT_EQ(heap.GetUsedSize(), 4096u);
  p = static_cast<char*>(heap.TryReAlloc(p, 16));
  ASSERT_NE(p, nullptr);
  EXPECT_STREQ(p, "abcdefg");
  EXPECT_EQ(heap.GetUsedSize(), 16u);
  EXPECT_EQ(heap.GetBlockCount(), 1u);
}

TEST(PrivateHeap, ForeignAndNullPointersAreIgnoredByFree) {
  CPrivateHeap a;
  CPrivateHeap b;
  void* pa = a.Alloc(10);
  b.Free(pa);
  b.Free(nullptr);
  EXPECT_EQ(a.GetBlockCount(), 1u);
  EXPECT_EQ(b.GetBlockCount(), 0u);
  a.Free(pa);
  EXPECT_EQ(a.GetBlockCount(), 0u);
}

struct LimitCase {
  const char* name;
  std::size_t maximum;
  std::size_t first;
  std::size_t second;
  bool secondFits;
};

// Names the case in test listings.
void PrintTo(const LimitCase& c, std::ostream* os) { *os << c.name; }

class PrivateHeapLimit : public ::testing::TestWithParam<LimitCase> {};

TEST_P(PrivateHeapLimit, MaximumBoundsLiveBytes) {
  const LimitCase& c = GetParam();
  CPrivateHeap heap(c.maximum);
  ASSERT_NE(heap.TryAlloc(c.first), nullptr);
  void* second = heap.TryAlloc(c.second);
  EXPECT_EQ(second != nullptr, c.secondFits);
  EXPECT_EQ(heap.HasFailed(), !c.secondFits);
  EXPECT_TRUE(heap.IsValid());  // the non-throwing entry never destroys the heap
}

INSTANTIATE_TEST_SUITE_P(Cases, PrivateHeapLimit,
                         ::testing::Values(LimitCase{"exactly_full", 1000, 600, 400, true},
                                           LimitCase{"one_over", 1000, 600, 401, false},
                                           LimitCase{"single_too_big", 1000, 0, 1001, false},
                                           LimitCase{"huge_request", 1000, 10, std::numeric_limits<std::size_t>::max(), false},
                                           LimitCase{"unlimited", 0, 1 << 20, 1 << 20, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PrivateHeap, FreedBytesCanBeAllocatedAgain) {
  CPrivateHeap heap(1000);
  void* a = heap.Alloc(800);
  heap.Free(a);
  EXPECT_NE(heap.Alloc(800), nullptr);
}

TEST(PrivateHeap, ThrowingAllocDestroysHeapAndKeepsFailing) {
  CPrivateHeap heap(1000);
  ASSERT_NE(heap.Alloc(500), nullptr);
  EXPECT_TRUE(ThrowsFatalError(heap, 600));
  EXPECT_FALSE(heap.IsValid());
  EXPECT_TRUE(heap.HasFailed());
  EXPECT_EQ(heap.GetUsedSize(), 0u);  // its memory was returned at once
  EXPECT_EQ(heap.GetBlockCount(), 0u);
  // The heap is gone: even a small allocation fails and throws again.
  EXPECT_TRUE(ThrowsFatalError(heap, 1));
  EXPECT_EQ(heap.TryAlloc(1), nullptr);
}

TEST(PrivateHeap, ThrowingReAllocDestroysHeap) {
  CPrivateHeap heap(1000);
  void* p = heap.Alloc(100);
  EXPECT_TRUE(ReAllocThrowsFatalError(heap, p, 2000));
  EXPECT_FALSE(heap.IsValid());
  EXPECT_EQ(heap.GetBlockCount(), 0u);
}

TEST(PrivateHeap, TryEntriesKeepLiveBlocksOnExhaustion) {
  CPrivateHeap heap(1000);
  auto* p = static_cast<char*>(heap.TryAlloc(900));
  ASSERT_NE(p, nullptr);
  std::memset(p, 'x', 900);
  EXPECT_EQ(heap.TryAlloc(200), nullptr);
  EXPECT_EQ(heap.TryReAlloc(p, 1001), nullptr);
  EXPECT_TRUE(heap.HasFailed());
  EXPECT_TRUE(heap.IsValid());
  // The block the caller still holds is untouched and can be freed.
  EXPECT_EQ(p[0], 'x');
  EXPECT_EQ(p[899], 'x');
  EXPECT_EQ(heap.GetUsedSize(), 900u);
  heap.Free(p);
  EXPECT_EQ(heap.GetUsedSize(), 0u);
}

TEST(PrivateHeap, ResetMakesADestroyedHeapUsableAgain) {
  CPrivateHeap heap(1000);
  EXPECT_TRUE(ThrowsFatalError(heap, 5000));
  heap.Reset();
  EXPECT_TRUE(heap.IsValid());
  EXPECT_FALSE(heap.HasFailed());
  void* p = heap.Alloc(1000);
  ASSERT_NE(p, nullptr);
  heap.Reset();  // releases live blocks too
  EXPECT_EQ(heap.GetBlockCount(), 0u);
  EXPECT_NE(heap.Alloc(1000), nullptr);
}

TEST(PrivateHeap, DestroyedHeapIgnoresFree) {
  CPrivateHeap heap;
  void* p = heap.Alloc(64);
  heap.Destroy();
  heap.Free(p);  // already released with the heap
  EXPECT_FALSE(heap.IsValid());
  EXPECT_EQ(heap.GetBlockCount(), 0u);
}

TEST(PrivateHeap, RequestBeyondDeviceMemoryFailsWithoutLimit) {
  CPrivateHeap heap;  // no limit of its own
  EXPECT_TRUE(ThrowsFatalError(heap, std::numeric_limits<std::size_t>::max() / 4));
}

TEST(PrivateHeap, SharedBetweenThreads) {
  CPrivateHeap heap;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&heap, t] {
      std::vector<unsigned char*> mine;
      for (int i = 0; i < 200; ++i) {
        auto* p = static_cast<unsigned char*>(heap.TryAlloc(16 + i));
        ASSERT_NE(p, nullptr);
        std::memset(p, t, 16 + i);
        mine.push_back(p);
      }
      for (std::size_t i = 0; i < mine.size(); ++i) {
        EXPECT_EQ(mine[i][15 + i], t);
        if (i % 2 == 0) heap.Free(mine[i]);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(heap.GetBlockCount(), 400u);  // the odd ones of every thread
  EXPECT_FALSE(heap.HasFailed());
}

class PrivateHeapLog : public orvtest::DeviceTest {};

TEST_F(PrivateHeapLog, ExhaustionIsLoggedWhenDeveloperModeIsOn) {
  ASSERT_TRUE(CreateFolderTree(GetModuleFolder()));
  ASSERT_TRUE(OpenSettingsKey().SetDWORD(u"DeveloperMode", 1));
  CDebugLog& log = CDebugLog::GetInstance();
  CPrivateHeap heap(1000);
  EXPECT_EQ(heap.TryAlloc(5000), nullptr);
  EXPECT_TRUE(ThrowsFatalError(heap, 4000));
  std::string text = orvtest::ReadHostFile(plat::HostPathFromDevicePath(log.GetPath()));
  EXPECT_NE(text.find("Not enough memory. Trying to allocate: 5000, Total: "), std::string::npos) << text;
  EXPECT_NE(text.find("Not enough memory. Trying to allocate: 4000, Total: "), std::string::npos) << text;
  EXPECT_NE(text.find(", Available: "), std::string::npos);
}

TEST(PrivateHeapCallbacks, TidyCallbacksWithoutHeapDoNothing) {
  EXPECT_EQ(TidyAllocCallback(10, nullptr), nullptr);
  EXPECT_EQ(TidyReallocCallback(nullptr, 10, nullptr), nullptr);
  CPrivateHeap heap;
  void* p = heap.Alloc(10);
  TidyFreeCallback(p, nullptr);  // no heap: the block stays
  EXPECT_EQ(heap.GetBlockCount(), 1u);
}

TEST(PrivateHeapCallbacks, TidyCallbacksUseTheDocumentHeap) {
  CPrivateHeap heap(100);
  void* p = TidyAllocCallback(10, &heap);
  ASSERT_NE(p, nullptr);
  p = TidyReallocCallback(p, 50, &heap);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(heap.GetUsedSize(), 50u);
  EXPECT_EQ(TidyAllocCallback(60, &heap), nullptr);  // exhausted: null, never a throw
  EXPECT_TRUE(heap.HasFailed());
  TidyFreeCallback(p, &heap);
  EXPECT_EQ(heap.GetBlockCount(), 0u);
}

TEST(PrivateHeapCallbacks, ScriptHooksChooseTheHeap) {
  ScriptHeapHooks slots;
  InstallScriptHeapHooks(slots);
  ASSERT_EQ(slots.alloc, &ScriptAllocHook);
  ASSERT_EQ(slots.realloc, &ScriptReallocHook);
  ASSERT_EQ(slots.free, &ScriptFreeHook);

  CPrivateHeap interpreterHeap;
  ScriptHostHeapRecord withHeap{&interpreterHeap};
  ScriptHostHeapRecord withoutHeap{};

  void* p = slots.alloc(&withHeap, 24);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(interpreterHeap.GetBlockCount(), 1u);
  p = slots.realloc(&withHeap, p, 48);
  EXPECT_EQ(interpreterHeap.GetUsedSize(), 48u);
  slots.free(&withHeap, p);
  EXPECT_EQ(interpreterHeap.GetBlockCount(), 0u);

  EXPECT_EQ(slots.alloc(&withoutHeap, 24), nullptr);

  CPrivateHeap& process = CPrivateHeap::GetProcessHeap();
  std::size_t before = process.GetBlockCount();
  void* q = slots.alloc(nullptr, 24);
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(process.GetBlockCount(), before + 1);
  slots.free(&withoutHeap, q);  // no heap named: nothing freed
  EXPECT_EQ(process.GetBlockCount(), before + 1);
  slots.free(nullptr, q);
  EXPECT_EQ(process.GetBlockCount(), before);
}

}  // namespace
