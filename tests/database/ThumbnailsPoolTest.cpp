// Thumbnail pools: adding, looking up, removing, saving, compaction, reload,
// damaged files, the folder object of several sizes, and two processes
// writing the pools of one folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/BitmapBuffer.h"
#include "core/FileUtils.h"
#include "core/RecordEncoding.h"
#include "core/STScreenBuffer.h"
#include "core/Streams.h"
#include "database/ThumbnailsPool.h"
#include "platform/files/Files.h"
#include "platform/gdi/Gdi.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ImagingTestFiles.h"
#include "tests/support/TempDevice.h"

namespace {

using namespace plat;

const std::u16string kFolder = u"\\Content\\News\\bin";
constexpr int kS = 8;

std::u16string ImagePath(const std::string& tag) {
  return kFolder + u"\\" + std::u16string(tag.begin(), tag.end()) + u".jpg";
}

// Blue, green, red of the n-th test thumbnail.
struct Colour {
  std::uint8_t b, g, r;
};
Colour ColourOf(int n) {
  return {static_cast<std::uint8_t>(n * 7 + 1), static_cast<std::uint8_t>(250 - n * 3),
          static_cast<std::uint8_t>(n * 11 + 5)};
}

// A size x size 24-bit thumbnail of the n-th colour, with its top-left pixel
// black so that orientation mistakes show.
HBITMAP Thumb(int n, int width = kS, int height = kS) {
  CSTScreenBuffer buffer;
  if (!buffer.Create(width, height)) return nullptr;
  Colour c = ColourOf(n);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      std::uint8_t* p = buffer.Row(y) + x * 3;
      bool marker = x == 0 && y == 0;
      p[0] = marker ? 0 : c.b;
      p[1] = marker ? 0 : c.g;
      p[2] = marker ? 0 : c.r;
    }
  buffer.SetOwnsBitmap(false);
  buffer.DeleteDC();
  return buffer.GetBitmap();
}

// The pixel (x, y) of slot in a pool's strip.
Colour StripPixel(CThumbnailsPool& pool, int slot, int x, int y) {
  DIBSECTION ds{};
  EXPECT_EQ(GetObjectW(pool.GetStrip(), sizeof ds, &ds), static_cast<int>(sizeof ds));
  int row = ds.dsBmih.biHeight < 0 ? y : ds.dsBm.bmHeight - 1 - y;
  const std::uint8_t* p = static_cast<const std::uint8_t*>(ds.dsBm.bmBits) +
                          static_cast<std::ptrdiff_t>(row) * ds.dsBm.bmWidthBytes + (slot * pool.GetSize() + x) * 3;
  return {p[0], p[1], p[2]};
}

// The slot of key holds the n-th thumbnail.
void ExpectThumb(CThumbnailsPool& pool, const std::u16string& key, int n) {
  int slot = -1;
  ASSERT_TRUE(pool.Lookup(key, &slot)) << "missing key";
  ASSERT_GE(slot, 0);
  Colour want = ColourOf(n);
  Colour marker = StripPixel(pool, slot, 0, 0);
  EXPECT_EQ(marker.b + marker.g + marker.r, 0) << "slot " << slot;
  Colour got = StripPixel(pool, slot, pool.GetSize() - 1, pool.GetSize() - 1);
  EXPECT_EQ(got.b, want.b) << "slot " << slot;
  EXPECT_EQ(got.g, want.g);
  EXPECT_EQ(got.r, want.r);
}

std::string Bytes(const std::u16string& path) {
  std::string out;
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return out;
  char buf[4096];
  DWORD read = 0;
  while (ReadFile(h, buf, sizeof buf, &read, nullptr) && read > 0) out.append(buf, read);
  CloseHandle(h);
  return out;
}

void Put(const std::u16string& path, const std::string& bytes) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  if (!bytes.empty()) WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(h);
}

struct Index {
  std::int32_t size = 0;
  std::vector<std::u16string> keys;
};
Index ReadIndex(const std::u16string& path) {
  Index index;
  std::string bytes = Bytes(path);
  CBufferReader r(bytes.data(), bytes.size());
  std::int32_t n = 0;
  EXPECT_TRUE(ReadInt32(r, index.size) && ReadInt32(r, n));
  for (int i = 0; i < n; ++i) {
    std::u16string key;
    EXPECT_TRUE(ReadString(r, key));
    index.keys.push_back(key);
  }
  EXPECT_EQ(r.Remaining(), 0);
  return index;
}
// count: the slot count written, when it is not the number of keys.
std::string IndexBytes(std::int32_t size, const std::vector<std::u16string>& keys,
                       std::int64_t count = INT64_MIN) {
  CBufferWriter w;
  WriteInt32(w, size);
  WriteInt32(w, static_cast<std::int32_t>(count == INT64_MIN ? static_cast<std::int64_t>(keys.size()) : count));
  for (const auto& k : keys) WriteString(w, k);
  return std::string(reinterpret_cast<const char*>(w.GetData()), w.GetSize());
}

int UsedKeys(const Index& index) {
  int used = 0;
  for (const auto& k : index.keys) used += k.empty() ? 0 : 1;
  return used;
}

class ThumbnailsPoolTest : public orvtest::DeviceTest {
 protected:
  void SetUp() override { ASSERT_TRUE(CreateFolderTree(kFolder)); }
  std::u16string IndexFile() const { return ThumbnailsIndexPath(kFolder, kS); }
  std::u16string StripFile() const { return ThumbnailsStripPath(kFolder, kS); }
  // A saved pool holding thumbnails 0 .. count-1 under "a0", "a1", ...
  void MakeSavedPool(int count) {
    CThumbnailsPool pool(kFolder, kS);
    for (int i = 0; i < count; ++i) ASSERT_TRUE(pool.Add(ImagePath("a" + std::to_string(i)), Thumb(i)));
    ASSERT_TRUE(pool.Save());
  }
};

TEST_F(ThumbnailsPoolTest, FileNamesCarryTheEdgeLength) {
  EXPECT_EQ(ThumbnailsIndexPath(kFolder, 54), kFolder + u"\\tmbp.54.tdf");
  EXPECT_EQ(ThumbnailsStripPath(kFolder, 27), kFolder + u"\\tmbp.27.bmp");
}

TEST_F(ThumbnailsPoolTest, FirstThumbnailMakesATenSlotStripAndIndex) {
  {
    CThumbnailsPool pool(kFolder, kS);
    HBITMAP thumb = Thumb(3);
    ASSERT_TRUE(pool.Add(ImagePath("first"), thumb));
    EXPECT_EQ(pool.GetSlotCount(), 10);
    EXPECT_EQ(pool.GetFreeCount(), 9);
    EXPECT_FALSE(FileExists(IndexFile()));  // one change is not written yet
    ASSERT_TRUE(pool.Save());
  }
  Index index = ReadIndex(IndexFile());
  EXPECT_EQ(index.size, kS);
  ASSERT_EQ(index.keys.size(), 10u);
  EXPECT_EQ(index.keys[0], NormalizeThumbnailPath(ImagePath("first")));
  EXPECT_EQ(UsedKeys(index), 1);

  // The strip is a plain bottom-up 24-bit BMP, 10 * S by S.
  std::string bmp = Bytes(StripFile());
  ASSERT_GE(bmp.size(), 54u);
  auto u32 = [&](int at) {
    std::uint32_t v = 0;
    std::memcpy(&v, bmp.data() + at, 4);
    return v;
  };
  auto u16 = [&](int at) {
    std::uint16_t v = 0;
    std::memcpy(&v, bmp.data() + at, 2);
    return v;
  };
  const std::uint32_t stride = (10 * kS * 3 + 3) & ~3u;
  EXPECT_EQ(bmp.substr(0, 2), "BM");
  EXPECT_EQ(u32(2), bmp.size());
  EXPECT_EQ(u32(10), 54u);
  EXPECT_EQ(u32(14), 40u);
  EXPECT_EQ(static_cast<std::int32_t>(u32(18)), 10 * kS);
  EXPECT_EQ(static_cast<std::int32_t>(u32(22)), kS);
  EXPECT_EQ(u16(26), 1);
  EXPECT_EQ(u16(28), 24);
  EXPECT_EQ(u32(30), 0u);
  EXPECT_EQ(u32(34), stride * kS);
  EXPECT_EQ(bmp.size(), 54u + stride * kS);
  // The last file row is the top image row: slot 0's marker pixel is black.
  const std::size_t topRow = 54 + static_cast<std::size_t>(stride) * (kS - 1);
  EXPECT_EQ(bmp[topRow] | bmp[topRow + 1] | bmp[topRow + 2], 0);
  Colour c = ColourOf(3);
  EXPECT_EQ(static_cast<std::uint8_t>(bmp[54]), c.b);  // bottom-left pixel, slot 0
  EXPECT_FALSE(FileExists(StripFile() + u".ttmp"));
  EXPECT_FALSE(FileExists(IndexFile() + u".ttmp"));

  CThumbnailsPool reloaded;
  ASSERT_TRUE(reloaded.LoadIndex(IndexFile()));
  EXPECT_EQ(reloaded.GetSize(), kS);
  ExpectThumb(reloaded, ImagePath("first"), 3);
}

TEST_F(ThumbnailsPoolTest, AddLookupRemoveAndReload) {
  {
    CThumbnailsPool pool(kFolder, kS);
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(pool.Add(ImagePath("p" + std::to_string(i)), Thumb(i)));
    for (int i = 0; i < 4; ++i) ExpectThumb(pool, ImagePath("p" + std::to_string(i)), i);
    EXPECT_TRUE(pool.Remove(ImagePath("p1")));
    EXPECT_FALSE(pool.Remove(ImagePath("p1")));
    EXPECT_FALSE(pool.Lookup(ImagePath("p1"), nullptr));
    // A freed slot is taken again first; re-adding a key replaces its pixels in place.
    ASSERT_TRUE(pool.Add(ImagePath("p9"), Thumb(9)));
    int slot = -1;
    ASSERT_TRUE(pool.Lookup(ImagePath("p9"), &slot));
    EXPECT_EQ(slot, 1);
    ASSERT_TRUE(pool.Add(ImagePath("p0"), Thumb(7)));
    ASSERT_TRUE(pool.Lookup(ImagePath("p0"), &slot));
    EXPECT_EQ(slot, 0);
    EXPECT_EQ(pool.GetFreeCount(), 6);
  }  // the destructor saves
  CThumbnailsPool pool;
  ASSERT_TRUE(pool.LoadIndex(IndexFile()));
  ExpectThumb(pool, ImagePath("p0"), 7);
  ExpectThumb(pool, ImagePath("p9"), 9);
  ExpectThumb(pool, ImagePath("p2"), 2);
  ExpectThumb(pool, ImagePath("p3"), 3);
  EXPECT_FALSE(pool.Lookup(ImagePath("p1"), nullptr));
}

TEST_F(ThumbnailsPoolTest, KeysAreNormalisedPaths) {
  CThumbnailsPool pool(kFolder, kS);
  ASSERT_TRUE(pool.Add(u"\\Content\\News\\bin\\Photo.JPG", Thumb(1)));
  EXPECT_TRUE(pool.Lookup(u"/content//news/BIN/photo.jpg", nullptr));
  EXPECT_TRUE(pool.Remove(u"\\CONTENT\\news\\bin\\PHOTO.jpg"));
  EXPECT_EQ(NormalizeThumbnailPath(u"\\A//b\\\\C\\"), u"\\a\\b\\c");
  EXPECT_EQ(ThumbnailsPoolMutexName(u"\\Content\\News\\"), u"TP.\\content\\news");
  std::u16string deep = u"\\" + std::u16string(300, u'x');
  std::u16string name = ThumbnailsPoolMutexName(deep);
  EXPECT_LT(name.size(), static_cast<std::size_t>(MAX_PATH));
  EXPECT_EQ(name.substr(0, 3), u"TP.");
  EXPECT_NE(name, ThumbnailsPoolMutexName(deep + u"y"));
}

TEST_F(ThumbnailsPoolTest, ThumbnailOfAnotherSizeIsRefused) {
  CThumbnailsPool pool(kFolder, 48);
  HBITMAP wrong = Thumb(1, 48, 40);
  EXPECT_FALSE(pool.Add(ImagePath("x"), wrong));
  // Still the caller's: deleting it succeeds.
  EXPECT_TRUE(DeleteObject(wrong));
  EXPECT_EQ(pool.GetSlotCount(), 0);
  HBITMAP none = nullptr;
  EXPECT_FALSE(pool.Add(ImagePath("x"), none));
  HBITMAP square = Thumb(1, 48, 48);
  EXPECT_FALSE(pool.Add(u"", square));
  EXPECT_TRUE(DeleteObject(square));
}

TEST_F(ThumbnailsPoolTest, SixthChangeSavesAtOnce) {
  CThumbnailsPool pool(kFolder, kS);
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(pool.Add(ImagePath("s" + std::to_string(i)), Thumb(i)));
  EXPECT_FALSE(FileExists(IndexFile()));
  ASSERT_TRUE(pool.Add(ImagePath("s5"), Thumb(5)));
  EXPECT_TRUE(FileExists(IndexFile()));
  EXPECT_EQ(UsedKeys(ReadIndex(IndexFile())), 6);
  EXPECT_EQ(pool.GetChangeCount(), 0);
}

TEST_F(ThumbnailsPoolTest, CompactionAtTwentyFreeSlots) {
  CThumbnailsPool pool(kFolder, kS);
  for (int i = 0; i < 30; ++i) ASSERT_TRUE(pool.Add(ImagePath("c" + std::to_string(i)), Thumb(i)));
  ASSERT_TRUE(pool.Save());
  ASSERT_EQ(pool.GetSlotCount(), 30);
  // Remove 19, keeping every third one among the first 27 and the last three.
  std::vector<int> removed;
  for (int i = 0; i < 30 && removed.size() < 19; ++i)
    if (i % 3 != 0) removed.push_back(i);
  ASSERT_EQ(removed.size(), 19u);
  for (int i : removed) ASSERT_TRUE(pool.Remove(ImagePath("c" + std::to_string(i))));
  ASSERT_TRUE(pool.Save());
  EXPECT_EQ(ReadIndex(IndexFile()).keys.size(), 30u);
  EXPECT_EQ(pool.GetSlotCount(), 30);

  ASSERT_TRUE(pool.Remove(ImagePath("c0")));
  ASSERT_TRUE(pool.Save());
  Index index = ReadIndex(IndexFile());
  ASSERT_EQ(index.keys.size(), 10u);
  EXPECT_EQ(UsedKeys(index), 10);
  std::string bmp = Bytes(StripFile());
  std::int32_t width = 0;
  std::memcpy(&width, bmp.data() + 18, 4);
  EXPECT_EQ(width, 10 * kS);

  CThumbnailsPool reloaded;
  ASSERT_TRUE(reloaded.LoadIndex(IndexFile()));
  int survivors = 0;
  for (int i = 1; i < 30; ++i) {
    bool gone = i == 0 || std::find(removed.begin(), removed.end(), i) != removed.end();
    if (gone) {
      EXPECT_FALSE(reloaded.Lookup(ImagePath("c" + std::to_string(i)), nullptr)) << i;
      continue;
    }
    ++survivors;
    int slot = -1;
    ASSERT_TRUE(reloaded.Lookup(ImagePath("c" + std::to_string(i)), &slot)) << i;
    EXPECT_LT(slot, 10);
    ExpectThumb(reloaded, ImagePath("c" + std::to_string(i)), i);
  }
  EXPECT_EQ(survivors, 10);
}

TEST_F(ThumbnailsPoolTest, RemovingEveryThumbnailDeletesTheStrip) {
  MakeSavedPool(3);
  ASSERT_TRUE(FileExists(StripFile()));
  CThumbnailsPool pool;
  ASSERT_TRUE(pool.LoadIndex(IndexFile()));
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(pool.Remove(ImagePath("a" + std::to_string(i))));
  ASSERT_TRUE(pool.Save());
  EXPECT_FALSE(FileExists(StripFile()));
  Index index = ReadIndex(IndexFile());
  EXPECT_EQ(index.size, kS);
  EXPECT_TRUE(index.keys.empty());
}

TEST_F(ThumbnailsPoolTest, MissingFolderKeepsChangesUntilItExists) {
  const std::u16string folder = u"\\Content\\Later";
  CThumbnailsPool pool(folder, kS);
  ASSERT_TRUE(pool.Add(folder + u"\\x.png", Thumb(2)));
  EXPECT_FALSE(pool.Save());
  EXPECT_GT(pool.GetChangeCount(), 0);
  ASSERT_TRUE(CreateFolderTree(folder));
  EXPECT_TRUE(pool.Save());
  CThumbnailsPool reloaded;
  ASSERT_TRUE(reloaded.LoadIndex(ThumbnailsIndexPath(folder, kS)));
  ExpectThumb(reloaded, folder + u"\\x.png", 2);
}

TEST_F(ThumbnailsPoolTest, ClearDeletesBothFiles) {
  MakeSavedPool(2);
  CThumbnailsPool pool;
  ASSERT_TRUE(pool.LoadIndex(IndexFile()));
  pool.Clear();
  EXPECT_FALSE(FileExists(IndexFile()));
  EXPECT_FALSE(FileExists(StripFile()));
  EXPECT_EQ(pool.GetSlotCount(), 0);
  EXPECT_FALSE(pool.Lookup(ImagePath("a0"), nullptr));
}

// A strip that does not match its index makes the pool start over: nothing
// is looked up in it, and new thumbnails are stored in a fresh strip.
TEST_F(ThumbnailsPoolTest, DamagedStripIsRebuilt) {
  const int n = 10;  // slots of the saved pool
  imgtest::Pixels px10 = imgtest::Solid(n * kS, kS, 0xFF102030);
  struct Damage {
    const char* name;
    std::string strip;  // empty: no strip file
    int indexSlots;     // slot count written into the index (0: keep the saved index)
  };
  std::string good = imgtest::Bmp(n * kS, kS, 24, px10, false);
  std::string wrongSize = good;
  wrongSize[2] = static_cast<char>(wrongSize[2] + 1);
  std::string badCompression = good;
  badCompression[30] = 1;
  const Damage damages[] = {
      {"short file", good.substr(0, good.size() - 10), 0},
      {"headers only", good.substr(0, 54), 0},
      {"a few bytes", "BM\x10", 0},
      {"no strip", "", 0},
      {"wrong width", imgtest::Bmp((n - 1) * kS, kS, 24, imgtest::Solid((n - 1) * kS, kS, 0xFF102030), false), 0},
      {"wider than the index", imgtest::Bmp((n + 3) * kS, kS, 24, imgtest::Solid((n + 3) * kS, kS, 0xFF102030), false), 0},
      {"wrong height", imgtest::Bmp(n * kS, kS + 2, 24, imgtest::Solid(n * kS, kS + 2, 0xFF102030), false), 0},
      {"32 bits", imgtest::Bmp(n * kS, kS, 32, px10, false), 0},
      {"8 bits", imgtest::Bmp(n * kS, kS, 8, px10, false), 0},
      {"size field wrong", wrongSize, 0},
      {"compressed", badCompression, 0},
      {"index with more slots than the strip", good, 40},
      {"garbage", std::string(2000, '\x5a'), 0},
      {"png in disguise", imgtest::Png(n * kS, kS, px10), 0},
  };
  for (const Damage& d : damages) {
    SCOPED_TRACE(d.name);
    DeleteFileIfExists(IndexFile());
    DeleteFileIfExists(StripFile());
    MakeSavedPool(3);
    if (d.indexSlots) {
      std::vector<std::u16string> keys(d.indexSlots);
      for (int i = 0; i < d.indexSlots; ++i) keys[i] = NormalizeThumbnailPath(ImagePath("a" + std::to_string(i)));
      Put(IndexFile(), IndexBytes(kS, keys));
    }
    if (d.strip.empty())
      DeleteFileIfExists(StripFile());
    else
      Put(StripFile(), d.strip);

    CThumbnailsPool pool;
    ASSERT_TRUE(pool.LoadIndex(IndexFile()));
    EXPECT_GT(pool.GetSlotCount(), 0);
    EXPECT_FALSE(pool.Lookup(ImagePath("a0"), nullptr));
    EXPECT_FALSE(pool.Lookup(ImagePath("a2"), nullptr));
    EXPECT_FALSE(pool.Lookup(ImagePath("a25"), nullptr));
    EXPECT_EQ(pool.GetSlotCount(), 0);
    ASSERT_TRUE(pool.Add(ImagePath("fresh"), Thumb(4)));
    ASSERT_TRUE(pool.Save());

    CThumbnailsPool reloaded;
    ASSERT_TRUE(reloaded.LoadIndex(IndexFile()));
    EXPECT_EQ(reloaded.GetSlotCount(), 10);
    ExpectThumb(reloaded, ImagePath("fresh"), 4);
    EXPECT_FALSE(reloaded.Lookup(ImagePath("a0"), nullptr));
  }
}

TEST_F(ThumbnailsPoolTest, DamagedIndexYieldsNoPool) {
  const std::u16string key = NormalizeThumbnailPath(ImagePath("k"));
  std::string full = IndexBytes(kS, {key, u""});
  struct Case {
    const char* name;
    std::string bytes;
    std::u16string fileName;
  };
  const Case cases[] = {
      {"empty file", "", u"tmbp.8.tdf"},
      {"half a header", full.substr(0, 6), u"tmbp.8.tdf"},
      {"cut inside a key", full.substr(0, full.size() - 6), u"tmbp.8.tdf"},
      {"more keys than present", IndexBytes(kS, {key}, 3), u"tmbp.8.tdf"},
      {"negative count", IndexBytes(kS, {}, -1), u"tmbp.8.tdf"},
      {"huge count", IndexBytes(kS, {key}, 0x7FFFFFFF), u"tmbp.8.tdf"},
      {"zero edge", IndexBytes(0, {key}), u"tmbp.0.tdf"},
      {"negative edge", IndexBytes(-8, {key}), u"tmbp.8.tdf"},
      {"name of another size", full, u"tmbp.9.tdf"},
      {"wrong extension", full, u"tmbp.8.tdx"},
      {"garbage", std::string(64, '\xff'), u"tmbp.8.tdf"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::u16string path = kFolder + u"\\" + c.fileName;
    Put(path, c.bytes);
    CThumbnailsPool pool;
    EXPECT_FALSE(pool.LoadIndex(path));
    EXPECT_EQ(pool.GetSlotCount(), 0);
    EXPECT_FALSE(pool.Lookup(ImagePath("k"), nullptr));
    DeleteFileIfExists(path);
  }
  CThumbnailsPool pool;
  EXPECT_FALSE(pool.LoadIndex(kFolder + u"\\tmbp.8.tdf"));  // missing
}

TEST_F(ThumbnailsPoolTest, FailedStripWriteFailsTheSaveAndKeepsTheOldFiles) {
  MakeSavedPool(2);
  const std::string oldIndex = Bytes(IndexFile());
  const std::string oldStrip = Bytes(StripFile());
  CThumbnailsPool pool;
  ASSERT_TRUE(pool.LoadIndex(IndexFile()));
  ASSERT_TRUE(pool.Add(ImagePath("new"), Thumb(5)));
  // A folder where the side file would go makes the strip write fail.
  ASSERT_TRUE(CreateDirectoryW((StripFile() + u".ttmp").c_str(), nullptr));
  EXPECT_FALSE(pool.Save());
  EXPECT_EQ(Bytes(IndexFile()), oldIndex);
  EXPECT_EQ(Bytes(StripFile()), oldStrip);
  EXPECT_GT(pool.GetChangeCount(), 0);
  ASSERT_TRUE(RemoveDirectoryW((StripFile() + u".ttmp").c_str()));
  ASSERT_TRUE(pool.Save());
  CThumbnailsPool reloaded;
  ASSERT_TRUE(reloaded.LoadIndex(IndexFile()));
  ExpectThumb(reloaded, ImagePath("new"), 5);
  ExpectThumb(reloaded, ImagePath("a1"), 1);
}

TEST_F(ThumbnailsPoolTest, DrawsASlotIntoAScreenBuffer) {
  MakeSavedPool(3);
  CThumbnailsPool pool;
  ASSERT_TRUE(pool.LoadIndex(IndexFile()));
  int slot = -1;
  ASSERT_TRUE(pool.Lookup(ImagePath("a2"), &slot));
  CBitmapBuffer target;
  ASSERT_TRUE(target.Create(20, 12, CBitmapBuffer::kRgb565));
  const RECT r{4, 2, 4 + kS, 2 + kS};
  ASSERT_TRUE(pool.DrawThumbnail(target, r, slot, false));
  auto at = [&](int x, int y) { return reinterpret_cast<const std::uint16_t*>(target.Row(y))[x]; };
  Colour c = ColourOf(2);
  const std::uint16_t want = static_cast<std::uint16_t>(((c.r & 0xF8) << 8) | ((c.g & 0xFC) << 3) | (c.b >> 3));
  EXPECT_EQ(at(4, 2), 0);  // the thumbnail's black corner
  EXPECT_EQ(at(4 + kS - 1, 2 + kS - 1), want);
  EXPECT_EQ(at(5, 2), want);
  EXPECT_EQ(at(3, 5), 0);  // outside the rectangle nothing is drawn
  EXPECT_EQ(at(4 + kS, 5), 0);
  EXPECT_FALSE(pool.DrawThumbnail(target, r, pool.GetSlotCount(), false));
  EXPECT_FALSE(pool.DrawThumbnail(target, r, -1, false));

  // A rectangle larger than the cell gets the cell centred in it, and never
  // a strip of the next slot's thumbnail beside it.
  int first = -1;
  ASSERT_TRUE(pool.Lookup(ImagePath("a0"), &first));
  CBitmapBuffer wide;
  ASSERT_TRUE(wide.Create(kS + 6, kS + 4, CBitmapBuffer::kRgb565));
  ASSERT_TRUE(pool.DrawThumbnail(wide, RECT{0, 0, kS + 6, kS + 4}, first, false));
  auto wideAt = [&](int x, int y) { return reinterpret_cast<const std::uint16_t*>(wide.Row(y))[x]; };
  const Colour own = ColourOf(0);
  const std::uint16_t ownColour =
      static_cast<std::uint16_t>(((own.r & 0xF8) << 8) | ((own.g & 0xFC) << 3) | (own.b >> 3));
  EXPECT_EQ(wideAt(3, 2), 0);  // the cell's black corner, 3 in and 2 down
  EXPECT_EQ(wideAt(3 + kS - 1, 2 + kS - 1), ownColour);
  for (int y = 0; y < kS + 4; ++y) {
    for (int x : {0, 1, 2, kS + 3, kS + 4, kS + 5}) EXPECT_EQ(wideAt(x, y), 0) << x << "," << y;
  }
}

TEST_F(ThumbnailsPoolTest, FolderObjectKeepsOnePoolPerSize) {
  {
    CSizedThumbnailsPools pools(kFolder);
    EXPECT_TRUE(pools.Add(8, ImagePath("one"), Thumb(1, 8, 8)));
    EXPECT_TRUE(pools.Add(12, ImagePath("one"), Thumb(2, 12, 12)));
    EXPECT_TRUE(pools.Add(12, ImagePath("two"), Thumb(3, 12, 12)));
    HBITMAP small = Thumb(3, 8, 8);
    EXPECT_FALSE(pools.Add(12, ImagePath("bad"), small));
    EXPECT_TRUE(DeleteObject(small));
  }  // saved by the destructors
  EXPECT_TRUE(FileExists(ThumbnailsIndexPath(kFolder, 8)));
  EXPECT_TRUE(FileExists(ThumbnailsIndexPath(kFolder, 12)));

  CSizedThumbnailsPools pools(kFolder);
  ASSERT_TRUE(pools.Load());
  EXPECT_EQ(pools.GetPoolSizes(), (std::vector<int>{8, 12}));
  EXPECT_TRUE(pools.Contains(8, ImagePath("one")));
  EXPECT_TRUE(pools.Contains(12, ImagePath("two")));
  EXPECT_FALSE(pools.Contains(8, ImagePath("two")));
  CThumbnailsPool* pool = nullptr;
  EXPECT_FALSE(pools.GetPool(20, ImagePath("one"), &pool));
  ASSERT_NE(pool, nullptr);
  EXPECT_EQ(pool->GetSize(), 20);
  EXPECT_TRUE(pools.GetPool(12, ImagePath("one"), &pool));
  ExpectThumb(*pool, ImagePath("one"), 2);

  EXPECT_TRUE(pools.Remove(ImagePath("one")));
  EXPECT_FALSE(pools.Contains(8, ImagePath("one")));
  EXPECT_FALSE(pools.Contains(12, ImagePath("one")));
  EXPECT_FALSE(pools.Remove(ImagePath("one")));

  pools.DeletePool(12);
  EXPECT_FALSE(FileExists(ThumbnailsIndexPath(kFolder, 12)));
  EXPECT_FALSE(FileExists(ThumbnailsStripPath(kFolder, 12)));
  EXPECT_TRUE(FileExists(ThumbnailsIndexPath(kFolder, 8)));
  pools.DeletePool(-1);
  EXPECT_FALSE(FileExists(ThumbnailsIndexPath(kFolder, 8)));
  EXPECT_TRUE(pools.GetPoolSizes().empty());
}

TEST_F(ThumbnailsPoolTest, MissingFolderLoadsNothing) {
  CSizedThumbnailsPools pools(u"\\Content\\Nowhere");
  EXPECT_FALSE(pools.Load());
  EXPECT_EQ(pools.FindPool(8), nullptr);
}

// Each process adds thumbnails the other does not know of and saves: the
// files end up with all of them, and a removal by one reaches the other.
TEST_F(ThumbnailsPoolTest, TwoProcessesKeepEachOthersThumbnails) {
  MakeSavedPool(2);  // a0, a1 known to both
  CThumbnailsPool parent;
  ASSERT_TRUE(parent.LoadIndex(IndexFile()));
  ASSERT_TRUE(parent.LoadBitmap());
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(parent.Add(ImagePath("parent" + std::to_string(i)), Thumb(10 + i)));

  orvtest::ChildProcess child([&](orvtest::ChildContext&) {
    CThumbnailsPool pool;
    if (!pool.LoadIndex(IndexFile())) return 2;
    for (int i = 0; i < 12; ++i)
      if (!pool.Add(ImagePath("child" + std::to_string(i)), Thumb(20 + i))) return 3;
    if (!pool.Remove(ImagePath("a0"))) return 4;
    return pool.Save() ? 0 : 5;
  });
  ASSERT_EQ(child.Wait(), 0);
  ASSERT_TRUE(parent.Save());

  CThumbnailsPool merged;
  ASSERT_TRUE(merged.LoadIndex(IndexFile()));
  for (int i = 0; i < 3; ++i) ExpectThumb(merged, ImagePath("parent" + std::to_string(i)), 10 + i);
  for (int i = 0; i < 12; ++i) ExpectThumb(merged, ImagePath("child" + std::to_string(i)), 20 + i);
  ExpectThumb(merged, ImagePath("a1"), 1);
  EXPECT_FALSE(merged.Lookup(ImagePath("a0"), nullptr));
  EXPECT_EQ(UsedKeys(ReadIndex(IndexFile())), 16);
}

TEST_F(ThumbnailsPoolTest, TwoProcessesSavingAtTheSameTime) {
  constexpr int kEach = 24;
  auto writer = [this](const std::string& tag, int colourBase) {
    CSizedThumbnailsPools pools(kFolder);
    for (int i = 0; i < kEach; ++i) {
      if (!pools.Add(kS, ImagePath(tag + std::to_string(i)), Thumb(colourBase + i))) return false;
      if (i % 4 == 3 && !pools.SaveAll()) return false;
    }
    return pools.SaveAll();
  };
  orvtest::ChildProcess child([&](orvtest::ChildContext& ctx) {
    ctx.Ready();
    if (!ctx.WaitFor("go")) return 2;
    return writer("kid", 40) ? 0 : 3;
  });
  ASSERT_TRUE(child.WaitReady());
  child.Send("go");
  EXPECT_TRUE(writer("mom", 80));
  ASSERT_EQ(child.Wait(), 0);

  CThumbnailsPool merged;
  ASSERT_TRUE(merged.LoadIndex(IndexFile()));
  for (int i = 0; i < kEach; ++i) {
    ExpectThumb(merged, ImagePath("kid" + std::to_string(i)), 40 + i);
    ExpectThumb(merged, ImagePath("mom" + std::to_string(i)), 80 + i);
  }
}

}  // namespace
