// Resources: the script linked into this program at build time (strings, an
// icon, a bitmap, raw data, a menu and a dialog), and scripts compiled at run
// time, with their errors.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/imaging/Imaging.h"
#include "platform/resources/Resources.h"
#include "tests/platform/GdiTestSupport.h"
#include "tests/platform/ImagingTestFiles.h"
#include "tests/support/TempDevice.h"
#include "tools/rc/ResourceCompiler.h"
#include "tools/testdata/resource.h"

namespace {

using namespace plat;
using gditest::Fill;
using gditest::MakeDib;
using gditest::MemDc;

class ResourcesTest : public orvtest::DeviceTest {
 protected:
  void TearDown() override { BindModuleResources(Fake(), nullptr, 0); }
  static HINSTANCE Fake() { return reinterpret_cast<HINSTANCE>(static_cast<std::uintptr_t>(0x5150)); }

  // Compiles a script written into the scratch folder with its files.
  ResourceCompileResult Compile(const std::string& script) {
    return CompileResourceScript(script, device_.Scratch(), "test.rc");
  }
};

std::u16string Load(HINSTANCE module, UINT id, int cch = 256) {
  std::vector<WCHAR> buf(static_cast<std::size_t>(cch) + 1, u'#');
  int n = LoadStringW(module, id, buf.data(), cch);
  if (n == 0) return u"<none>";
  EXPECT_EQ(buf[static_cast<std::size_t>(n)], u'\0');
  return std::u16string(buf.data(), static_cast<std::size_t>(n));
}

TEST_F(ResourcesTest, StringsOfTheProgram) {
  struct Case {
    UINT id;
    int cch;
    std::u16string expect;
  } cases[] = {
      {IDS_HELLO, 256, u"Hello from the resources"},
      {IDS_HELLO, 6, u"Hello"},  // cut to cch - 1
      {IDS_ESCAPES, 256, u"Tab\there, \"quoted\", line\nbreak, caf\u00e9"},
      {IDS_SECOND_BLOCK, 256, u"Second block"},
      {IDS_HELLO + 5, 256, u"<none>"},  // in a block, not defined
      {9999, 256, u"<none>"},
  };
  for (const Case& c : cases) EXPECT_EQ(Load(nullptr, c.id, c.cch), c.expect) << c.id;
  // cch 0 hands out the read-only text itself.
  const WCHAR* text = nullptr;
  int n = LoadStringW(nullptr, IDS_HELLO, reinterpret_cast<WCHAR*>(&text), 0);
  ASSERT_EQ(n, 24);
  EXPECT_EQ(std::u16string(text, static_cast<std::size_t>(n)), u"Hello from the resources");
  // The program's own module handle finds the same resources.
  EXPECT_EQ(Load(GetModuleHandleW(nullptr), IDS_HELLO), u"Hello from the resources");
}

TEST_F(ResourcesTest, IconsOfTheProgramAtEachSize) {
  HICON exact = static_cast<HICON>(LoadImageW(nullptr, MAKEINTRESOURCEW(IDI_SAMPLE), IMAGE_ICON, 16, 16, 0));
  ASSERT_NE(exact, nullptr);
  EXPECT_EQ(GetIconSize(exact).cx, 16);
  MemDc m(MakeDib(16, 16, 24));
  Fill(m.dc(), 0, 0, 16, 16, RGB(0, 0, 255));
  ASSERT_TRUE(DrawIconEx(m.dc(), 0, 0, exact, 0, 0, 0, nullptr, DI_NORMAL));
  EXPECT_EQ(GetPixel(m.dc(), 0, 0), RGB(0, 0, 255));  // masked corner
  EXPECT_EQ(GetPixel(m.dc(), 5, 5), RGB(255, 255, 255));
  DestroyIcon(exact);

  HICON alpha = static_cast<HICON>(LoadImageW(nullptr, MAKEINTRESOURCEW(IDI_SAMPLE), IMAGE_ICON, 32, 32, 0));
  ASSERT_NE(alpha, nullptr);
  MemDc a(MakeDib(32, 32, 24));
  Fill(a.dc(), 0, 0, 32, 32, RGB(0, 0, 255));
  DrawIcon(a.dc(), 0, 0, alpha);
  EXPECT_EQ(GetPixel(a.dc(), 10, 10), RGB(128, 0, 127));
  DestroyIcon(alpha);

  // 20 pixels: the nearest larger image scaled down; 48: the largest scaled up.
  for (int size : {20, 48}) {
    HICON icon = static_cast<HICON>(LoadImageW(nullptr, MAKEINTRESOURCEW(IDI_SAMPLE), IMAGE_ICON, size, size, 0));
    ASSERT_NE(icon, nullptr) << size;
    EXPECT_EQ(GetIconSize(icon).cx, size);
    DestroyIcon(icon);
  }
  // The default size follows the screen: 32 at 96 DPI.
  SetScreenForTesting(240, 320, 96);
  HICON def = LoadIconW(nullptr, MAKEINTRESOURCEW(IDI_SAMPLE));
  ASSERT_NE(def, nullptr);
  EXPECT_EQ(GetIconSize(def).cx, 32);
  DestroyIcon(def);
  ResetScreenForTesting();
  EXPECT_EQ(LoadIconW(nullptr, MAKEINTRESOURCEW(IDB_SAMPLE)), nullptr);
}

TEST_F(ResourcesTest, BitmapAndRawDataOfTheProgram) {
  HBITMAP b = LoadBitmapW(nullptr, MAKEINTRESOURCEW(IDB_SAMPLE));
  ASSERT_NE(b, nullptr);
  DIBSECTION ds{};
  ASSERT_EQ(GetObjectW(b, sizeof(ds), &ds), static_cast<int>(sizeof(ds)));
  EXPECT_EQ(ds.dsBm.bmWidth, 4);
  EXPECT_EQ(ds.dsBm.bmHeight, 2);
  EXPECT_EQ(ds.dsBm.bmBitsPixel, 24);
  PixelImage px = ReadBitmapPixels(b);
  EXPECT_EQ(px.pixels, (std::vector<DWORD>{0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF, 0, 0, 0, 0}));
  DeleteObject(b);

  for (const char16_t* name : {u"SAMPLEDATA", u"sampleData"}) {
    HRSRC r = FindResourceW(nullptr, name, RT_RCDATA);
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(SizeofResource(nullptr, r), 4u);
    const void* data = LockResource(LoadResource(nullptr, r));
    EXPECT_EQ(std::memcmp(data, "abcd", 4), 0);
  }
  EXPECT_EQ(FindResourceW(nullptr, u"OTHER", RT_RCDATA), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
  EXPECT_EQ(FindResourceW(nullptr, u"SAMPLEDATA", MAKEINTRESOURCEW(99)), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_RESOURCE_TYPE_NOT_FOUND);
}

// Reads the platform's binary templates back.
struct Reader {
  const unsigned char* p;
  std::size_t size, pos = 0;
  unsigned Word() {
    EXPECT_LE(pos + 2, size);
    unsigned v = p[pos] | (p[pos + 1] << 8);
    pos += 2;
    return v;
  }
  std::uint32_t Dword() {
    std::uint32_t lo = Word();
    return lo | (static_cast<std::uint32_t>(Word()) << 16);
  }
  std::u16string Text() {
    std::u16string s;
    for (unsigned c = Word(); c != 0; c = Word()) s.push_back(static_cast<char16_t>(c));
    return s;
  }
  void Align4() { pos = (pos + 3) & ~std::size_t{3}; }
};

TEST_F(ResourcesTest, MenuTemplate) {
  HRSRC r = FindResourceW(nullptr, MAKEINTRESOURCEW(IDM_MAIN), RT_MENU);
  ASSERT_NE(r, nullptr);
  Reader in{static_cast<const unsigned char*>(LockResource(LoadResource(nullptr, r))), SizeofResource(nullptr, r)};
  EXPECT_EQ(in.Word(), 0u);  // version
  EXPECT_EQ(in.Word(), 0u);  // header size
  EXPECT_EQ(in.Word(), 0x10u | 0x80u);  // popup, last at its level
  EXPECT_EQ(in.Text(), u"&File");
  EXPECT_EQ(in.Word(), 0u);
  EXPECT_EQ(in.Word(), static_cast<unsigned>(IDM_FILE_OPEN));
  EXPECT_EQ(in.Text(), u"&Open");
  EXPECT_EQ(in.Word(), 0u);  // separator
  EXPECT_EQ(in.Word(), 0u);
  EXPECT_EQ(in.Text(), u"");
  EXPECT_EQ(in.Word(), 0x80u | 0x01u);  // last, grayed
  EXPECT_EQ(in.Word(), static_cast<unsigned>(IDM_FILE_EXIT));
  EXPECT_EQ(in.Text(), u"E&xit");
  EXPECT_EQ(in.pos, in.size);
}

TEST_F(ResourcesTest, DialogTemplate) {
  HRSRC r = FindResourceW(nullptr, MAKEINTRESOURCEW(IDD_ABOUT), RT_DIALOG);
  ASSERT_NE(r, nullptr);
  Reader in{static_cast<const unsigned char*>(LockResource(LoadResource(nullptr, r))), SizeofResource(nullptr, r)};
  std::uint32_t style = in.Dword();
  EXPECT_EQ(style, 0x80u | 0x80000000u | 0x00C00000u | 0x00080000u | 0x40u);  // DS_SETFONT added by FONT
  EXPECT_EQ(in.Dword(), 0u);
  EXPECT_EQ(in.Word(), 3u);
  EXPECT_EQ(in.Word(), 0u);
  EXPECT_EQ(in.Word(), 0u);
  EXPECT_EQ(in.Word(), 120u);
  EXPECT_EQ(in.Word(), 60u);
  EXPECT_EQ(in.Word(), 0u);  // no menu
  EXPECT_EQ(in.Word(), 0u);  // default class
  EXPECT_EQ(in.Text(), u"About");
  EXPECT_EQ(in.Word(), 8u);
  EXPECT_EQ(in.Text(), u"Tahoma");
  struct Item {
    std::uint32_t style;
    unsigned x, y, cx, cy, id, atom;
    std::u16string text;
  } items[] = {
      {0x50000000u | 0x00020000u, 4, 4, 40, 10, 0xFFFF, 0x82, u"Name:"},
      {0x50000000u | 0x00010000u | 0x00800000u | 0x80u, 48, 4, 60, 12, IDC_NAME, 0x81, u""},
      {0x50000000u | 0x00010000u | 0x1u, 35, 40, 50, 14, 1, 0x80, u"OK"},
  };
  for (const Item& it : items) {
    in.Align4();
    EXPECT_EQ(in.Dword(), it.style);
    EXPECT_EQ(in.Dword(), 0u);
    EXPECT_EQ(in.Word(), it.x);
    EXPECT_EQ(in.Word(), it.y);
    EXPECT_EQ(in.Word(), it.cx);
    EXPECT_EQ(in.Word(), it.cy);
    EXPECT_EQ(in.Word(), it.id);
    EXPECT_EQ(in.Word(), 0xFFFFu);
    EXPECT_EQ(in.Word(), it.atom);
    EXPECT_EQ(in.Text(), it.text);
    EXPECT_EQ(in.Word(), 0u);
  }
  EXPECT_EQ(in.pos, in.size);
}

TEST_F(ResourcesTest, ScriptCompiledAtRunTime) {
  orvtest::WriteHostFile(device_.Scratch() + "/ids.h", "#define IDS_A 1\n#define IDS_B 40 // comment\n#define IDI_X 7\n");
  orvtest::WriteHostFile(device_.Scratch() + "/x.ico",
                         imgtest::Ico({{24, 24, imgtest::Solid(24, 24, 0xFF00FF00)}}));
  orvtest::WriteHostFile(device_.Scratch() + "/pic.bmp",
                         imgtest::Bmp(3, 2, 8, imgtest::Solid(3, 2, 0xFF808080), true));
  ResourceCompileResult r = Compile(
      "#include \"ids.h\"\n"
      "/* a block\n comment */\n"
      "STRINGTABLE DISCARDABLE\n{\n IDS_A \"first\"\n IDS_B, L\"forty\"\n}\n"
      "IDI_X ICON DISCARDABLE \"x.ico\"\n"
      "Logo BITMAP pic.bmp\n"
      "#ifdef NOT_DEFINED\nIDS_C BROKEN\n#endif\n");
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.inputs.size(), 3u);
  ASSERT_TRUE(BindModuleResources(Fake(), std::move(r.image)));
  EXPECT_EQ(Load(Fake(), 1), u"first");
  EXPECT_EQ(Load(Fake(), 40), u"forty");
  EXPECT_EQ(Load(Fake(), 2), u"<none>");
  HICON icon = LoadIconW(Fake(), MAKEINTRESOURCEW(7));
  ASSERT_NE(icon, nullptr);
  DestroyIcon(icon);
  HBITMAP logo = LoadBitmapW(Fake(), u"logo");
  ASSERT_NE(logo, nullptr);
  BITMAP bm{};
  GetObjectW(logo, sizeof(bm), &bm);
  EXPECT_EQ(bm.bmBitsPixel, 8);
  EXPECT_EQ(ReadBitmapPixels(logo).pixels[0], 0x808080u);
  DeleteObject(logo);
  // Unbound again, the handle has no resources.
  BindModuleResources(Fake(), nullptr, 0);
  EXPECT_EQ(Load(Fake(), 1), u"<none>");
}

TEST_F(ResourcesTest, ScriptErrorsNameTheLine) {
  orvtest::WriteHostFile(device_.Scratch() + "/not.ico", "plain text");
  struct Case {
    const char* script;
    const char* expect;  // part of the message
  } cases[] = {
      {"STRINGTABLE\nBEGIN\n UNKNOWN_ID \"x\"\nEND\n", "test.rc:3: unknown name UNKNOWN_ID"},
      {"STRINGTABLE\nBEGIN\n 1 \"a\"\n 1 \"b\"\nEND\n", "test.rc:4: string 1 defined twice"},
      {"STRINGTABLE\nBEGIN\n 1 \"open\nEND\n", "test.rc:3: unterminated string"},
      {"STRINGTABLE\nBEGIN\n 1 \"a\"\n", "END expected"},
      {"5 ICON \"missing.ico\"\n", "test.rc:1: cannot read missing.ico"},
      {"5 ICON \"not.ico\"\n", "test.rc:1: not an icon file"},
      {"#include \"nothere.h\"\n", "test.rc:1: cannot read nothere.h"},
      {"1 RCDATA BEGIN 1 END\n1 RCDATA BEGIN 2 END\n", "resource 1 defined twice"},
      {"#ifdef X\n", "#if without #endif"},
      {"D DIALOG 0, 0, 10, 10\nBEGIN\n WIDGET 1, 2\nEND\n", "test.rc:3: control expected"},
  };
  for (const Case& c : cases) {
    ResourceCompileResult r = Compile(c.script);
    EXPECT_FALSE(r.ok) << c.script;
    EXPECT_TRUE(r.image.empty());
    EXPECT_NE(r.error.find(c.expect), std::string::npos) << r.error;
  }
}

TEST_F(ResourcesTest, MalformedImagesAreRefused) {
  ResourceCompileResult r = Compile("STRINGTABLE BEGIN 3 \"three\" END\n");
  ASSERT_TRUE(r.ok) << r.error;
  std::vector<unsigned char> image = r.image;
  for (std::size_t cut : {std::size_t{1}, std::size_t{5}, std::size_t{12}, image.size() - 1}) {
    std::vector<unsigned char> part(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(cut));
    EXPECT_FALSE(BindModuleResources(Fake(), part.data(), part.size())) << cut;
  }
  EXPECT_TRUE(BindModuleResources(Fake(), image.data(), image.size()));
  EXPECT_EQ(Load(Fake(), 3), u"three");
}

}  // namespace
