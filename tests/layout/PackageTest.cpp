// Layout packages built with the project's packer, read back through the
// package provider, the package resources and the layout provider.
#include <cstdlib>

#include "core/OrvException.h"
#include "layout/DefaultLayoutServices.h"
#include "layout/LayoutDocument.h"
#include "layout/LayoutPackage.h"
#include "layout/ContentInterfaces.h"
#include "layout/PackagePassword.h"
#include "tests/layout/LayoutFixture.h"

namespace layouttest {
namespace {

const char kMain[] = R"(<?xml version="1.0" encoding="utf-8"?>
<Layouts>
  <Layout Name="Main">
    <Plugins>
      <Plugin Name="title" Class="Orv.LSP.Text" BoundRect="0,0,100,20" Skin="skin"/>
    </Plugins>
  </Layout>
  <Rules><Default><UseLayout Name="Main"/></Default></Rules>
</Layouts>)";

const char kIndex[] = R"(<Index><item>
  <Color Name="TextColor" Value="ff00"/>
  <Int Name="Count" Value="7"/>
  <Bitmap Name="Icon" Image="icon.bmp" Mask="icon_m.bmp"/>
  <Bitmap Name="NoMask" Image="icon.bmp" Mask="broken_m.bmp"/>
</item></Index>)";

Files BasicFiles() {
  return Files{{"Main.xml", kMain},
               {"Index.xml", kIndex},
               {"icon.bmp", MakeBmp(2, 2, 16, {0xF800, 0x07E0, 0x001F, 0xFFFF})},
               {"icon_m.bmp", MakeBmp(2, 2, 8, {0, 255, 128, 64})},
               {"broken_m.bmp", "BMnot a picture"}};
}

class PackageTest : public LayoutTest {
 protected:
  void SetUp() override {
    LayoutTest::SetUp();
    SetLayoutFolder(u"\\Layouts");
  }
  void TearDown() override {
    SetLayoutFolder(u"");
    LayoutTest::TearDown();
  }
  CRefPtr<PackageResources> Package(const std::u16string& name = kLayoutPackageName) {
    ResourcePackageProvider provider;
    return provider.GetPackage(name);
  }
};

TEST_F(PackageTest, LayoutsLoadFromThePackageOfTheScreenSizeAndAreCachedIgnoringCase) {
  ASSERT_EQ(Pack(BasicFiles(), "480_news_layouts.dat"), "");
  InstallLayoutServices();
  CRefPtr<LayoutDocument> main = GetLayoutProvider()->GetLayout(u"Main");
  ASSERT_TRUE(main);
  EXPECT_EQ(GetLayoutProvider()->GetLayout(u"main").Get(), main.Get());
  CRefPtr<LayoutDefinition> selected = SelectLayout(*main);
  ASSERT_TRUE(selected);
  EXPECT_EQ(selected->GetName(), u"Main");
  ASSERT_EQ(selected->GetEntries().size(), 1u);
  EXPECT_EQ(FindProperty(selected->GetEntries()[0]->GetProperties(), kKeyClass)->GetString(), u"Orv.LSP.Text");
}

TEST_F(PackageTest, PackagePathUsesTheShorterScreenSideThenThePlainName) {
  struct Case {
    int width, height;
    const char16_t* expected;
  } cases[] = {{240, 320, u"\\Layouts\\240_news_layouts.dat"},
               {320, 240, u"\\Layouts\\240_news_layouts.dat"},
               {480, 640, u"\\Layouts\\480_news_layouts.dat"}};
  for (const Case& c : cases) {
    SetScreen(c.width, c.height, 96);
    ResourcePackageProvider provider;
    EXPECT_EQ(provider.GetSizedPackagePath(u"news_layouts.dat"), c.expected);
  }
  // Only the plain file exists: it is used.
  SetScreen(240, 320, 96);
  ASSERT_EQ(Pack(BasicFiles(), "news_layouts.dat"), "");
  CRefPtr<PackageResources> package = Package();
  ResourceLock use(package.Get(), false, true);
  PackageBlob blob;
  EXPECT_TRUE(package->GetTextResource(u"Main.xml", blob));
}

TEST_F(PackageTest, MissingArchiveFailsAndLeavesNoUseCounted) {
  CRefPtr<PackageResources> package = Package();
  try {
    ResourceLock use(package.Get(), false, true);
    FAIL() << "opened a missing package";
  } catch (const COrvException& e) {
    EXPECT_EQ(e.GetCode(), ORV_E_LAYOUT);
  }
  EXPECT_EQ(package->GetLockCount(), 0);
  EXPECT_FALSE(package->IsOpened());

  InstallLayoutServices();
  try {
    GetLayoutProvider()->GetLayout(u"Main");
    FAIL() << "loaded a layout without a package";
  } catch (const COrvException& e) {
    EXPECT_EQ(e.GetCode(), ORV_E_LAYOUT);
  }
}

TEST_F(PackageTest, ArchiveWithAnotherPasswordFailsToOpen) {
  std::vector<ZipMemberSource> members{{"Main.xml", Bytes(kMain)}};
  const auto archive = BuildZipArchive(members, "Wrong123");
  std::filesystem::create_directories(device_.FsRoot() + "/Layouts");
  orvtest::WriteHostFile(device_.FsRoot() + "/Layouts/480_news_layouts.dat", std::string(archive.begin(), archive.end()));
  CRefPtr<PackageResources> package = Package();
  EXPECT_THROW(ResourceLock(package.Get(), true, true), COrvException);
  EXPECT_EQ(package->GetLockCount(), 0);
  InstallLayoutServices();
  try {
    GetLayoutProvider()->GetLayout(u"Main");
    FAIL() << "read a member with the wrong password";
  } catch (const COrvException& e) {
    EXPECT_EQ(e.GetCode(), ORV_E_LAYOUT);
  }
}

TEST_F(PackageTest, PackerWritesArchivesThatZipToolsRead) {
  ASSERT_EQ(Pack(BasicFiles(), "480_news_layouts.dat"), "");
  if (std::system("command -v unzip >/dev/null 2>&1") != 0) GTEST_SKIP() << "unzip is not installed";
  const std::string out = device_.Scratch() + "/unzipped.xml";
  const std::string command = std::string("unzip -p -P ") + layout_package::GetPackagePassword() + " '" +
                              device_.FsRoot() + "/Layouts/480_news_layouts.dat' Main.xml > '" + out + "'";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(orvtest::ReadHostFile(out), kMain);
}

TEST_F(PackageTest, PackerRefusesBadDocumentsWithFileAndLine) {
  Files bad = BasicFiles();
  bad["Broken.xml"] = "<Layouts>\n<Layout Name=\"x\">\n<Plugins>\n<Plugin Name=\"a\" BoundRect=\"1,2,3\"/>\n</Plugins></Layout></Layouts>";
  bad["Pictures.xml"] = "<Layouts>\n<Layout Name=\"y\"><General>\n<String Name=\"ImageName\" Value=\"gone.bmp\"/></General></Layout></Layouts>";
  bad["Index.xml"] = "<Index><item>\n\n<Bitmap Name=\"b\" Image=\"icon.bmp\" Mask=\"nomask.bmp\"/></item></Index>";
  const std::string messages = Pack(bad, "480_news_layouts.dat");
  EXPECT_NE(messages.find("Broken.xml:4: the layout reader refuses"), std::string::npos) << messages;
  EXPECT_NE(messages.find("Pictures.xml:3: names the missing picture \"gone.bmp\""), std::string::npos) << messages;
  EXPECT_NE(messages.find("Index.xml:3: names the missing picture \"nomask.bmp\""), std::string::npos) << messages;
  EXPECT_FALSE(std::filesystem::exists(device_.FsRoot() + "/Layouts/480_news_layouts.dat"));
}

TEST_F(PackageTest, IndexValuesImagesAndMaskedImages) {
  ASSERT_EQ(Pack(BasicFiles(), "480_news_layouts.dat"), "");
  CRefPtr<PackageResources> package = Package();
  ResourceLock use(package.Get(), true, true);
  std::int32_t colour = 0;
  EXPECT_TRUE(GetIntProperty(package->GetValues(), CPropertyName(std::u16string_view(u"TextColor")), colour));
  EXPECT_EQ(colour, 0xff00);

  std::shared_ptr<CBitmapBuffer> first, second;
  ASSERT_TRUE(package->GetImage(u"ICON.bmp", first, true));
  ASSERT_TRUE(package->GetImage(u"icon.bmp", second, true));
  EXPECT_EQ(first.get(), second.get());  // decoded once, found ignoring case
  EXPECT_EQ(first->GetBitsPerPixel(), 16);
  EXPECT_EQ(reinterpret_cast<std::uint16_t*>(first->Row(0))[0], 0xF800);
  EXPECT_EQ(reinterpret_cast<std::uint16_t*>(first->Row(1))[1], 0xFFFF);
  EXPECT_FALSE(package->GetImage(u"absent.bmp", first, true));

  MaskedImage image;
  EXPECT_TRUE(package->GetMaskedImage(u"icon", image, true, 3));
  ASSERT_TRUE(image.mask);
  EXPECT_EQ(image.mask->Row(0)[1], 255);
  EXPECT_FALSE(package->GetMaskedImage(u"NoMask", image, true, 3));
  MaskedImage partial;
  EXPECT_TRUE(package->GetMaskedImage(u"nomask", partial, true, 1));
  EXPECT_TRUE(partial.picture);
  EXPECT_FALSE(partial.mask);
  EXPECT_FALSE(package->GetMaskedImage(u"unknown", partial, true, 0));
}

TEST_F(PackageTest, MissingIndexIsNoErrorAndIsNotReadAgain) {
  Files files = BasicFiles();
  files.erase("Index.xml");
  ASSERT_EQ(Pack(files, "480_news_layouts.dat"), "");
  CRefPtr<PackageResources> package = Package();
  ResourceLock use(package.Get(), true, true);
  EXPECT_FALSE(package->GetValues());
  package->LoadIndex();
  EXPECT_FALSE(package->GetValues());
}

TEST_F(PackageTest, UseCountClosesThePackageWithTheLastUse) {
  ASSERT_EQ(Pack(BasicFiles(), "480_news_layouts.dat"), "");
  CRefPtr<PackageResources> package = Package();
  {
    ResourceLock outer(package.Get(), false, true);
    {
      ResourceLock inner(package.Get(), false, true);
      EXPECT_EQ(package->GetLockCount(), 2);
    }
    EXPECT_TRUE(package->IsOpened());
  }
  EXPECT_EQ(package->GetLockCount(), 0);
  EXPECT_FALSE(package->IsOpened());
}

TEST_F(PackageTest, OversizedMemberDeclarationIsRefusedBeforeAllocation) {
  // A stored member whose directory claims 64 MiB.
  std::vector<ZipMemberSource> members{{"big.bin", Bytes("tiny")}};
  auto archive = BuildZipArchive(members, layout_package::GetPackagePassword());
  // The central directory's uncompressed size field of the only record.
  const std::size_t central = archive.size() - 22 - (46 + 7);
  ASSERT_EQ(archive[central], 'P');
  const std::uint32_t huge = 64u << 20;
  for (int i = 0; i < 4; ++i) archive[central + 24 + i] = static_cast<std::uint8_t>(huge >> (8 * i));
  std::filesystem::create_directories(device_.FsRoot() + "/Layouts");
  orvtest::WriteHostFile(device_.FsRoot() + "/Layouts/480_news_layouts.dat", std::string(archive.begin(), archive.end()));
  CRefPtr<PackageResources> package = Package();
  ResourceLock use(package.Get(), false, true);
  EXPECT_TRUE(package->GetPackage()->ReadFile(u"big.bin").Empty());
}

}  // namespace
}  // namespace layouttest

namespace layouttest {
namespace {

// A package in memory that counts its reads.
class CountingPackage : public ResourcePackage {
 public:
  explicit CountingPackage(Files files) : files_(std::move(files)) {}
  bool Open() override {
    ++opens;
    return true;
  }
  void Close() override { ++closes; }
  PackageBlob ReadFile(const std::u16string& name) override {
    ++reads[std::string(name.begin(), name.end())];
    auto it = files_.find(std::string(name.begin(), name.end()));
    if (it == files_.end()) return {};
    PackageBlob blob;
    blob.buffer = std::make_shared<std::vector<std::uint8_t>>(it->second.begin(), it->second.end());
    blob.data = blob.buffer->data();
    blob.size = blob.buffer->size();
    return blob;
  }
  int opens = 0, closes = 0;
  std::map<std::string, int> reads;

 private:
  Files files_;
};

class ResourcesTest : public LayoutTest {};

TEST_F(ResourcesTest, FailedReadsAreCachedAndTheIndexIsTriedOnce) {
  CRefPtr<CountingPackage> package(new CountingPackage({{"a.bmp", MakeBmp(1, 1, 16, {5})}, {"t.xml", "<x/>"}}));
  CRefPtr<PackageResources> resources(new PackageResources(CRefPtr<ResourcePackage>(package.Get())));
  std::shared_ptr<CBitmapBuffer> bitmap;
  EXPECT_TRUE(resources->GetImage(u"a.bmp", bitmap, true));
  EXPECT_TRUE(resources->GetImage(u"A.BMP", bitmap, true));
  EXPECT_FALSE(resources->GetImage(u"b.bmp", bitmap, true));
  EXPECT_FALSE(resources->GetImage(u"b.bmp", bitmap, true));
  EXPECT_EQ(package->reads["a.bmp"], 1);
  EXPECT_EQ(package->reads["b.bmp"], 1);
  PackageBlob blob;
  EXPECT_FALSE(resources->GetTextResource(u"missing.xml", blob));
  EXPECT_FALSE(resources->GetTextResource(u"missing.xml", blob));
  EXPECT_EQ(package->reads["missing.xml"], 1);
  EXPECT_TRUE(resources->GetTextResource(u"t.xml", blob));
  EXPECT_EQ(blob.size, 4u);
  resources->LoadIndex();
  resources->LoadIndex();
  EXPECT_EQ(package->reads["Index.xml"], 1);
  // Every use opened and closed the package again.
  EXPECT_EQ(package->opens, package->closes);
  EXPECT_THROW(new PackageResources(CRefPtr<ResourcePackage>()), COrvException);
}

TEST_F(ResourcesTest, ListItemStyleDefaults) {
  SetScreen(240, 320, 96);
  CRefPtr<CountingPackage> package(new CountingPackage({}));
  CRefPtr<PackageResources> resources(new PackageResources(CRefPtr<ResourcePackage>(package.Get())));
  CComRef<LayeredPropertySource> none(new LayeredPropertySource(nullptr, CPropertyList()));
  ListItemStyle style;
  style.Load(none.Get(), resources.Get());
  EXPECT_EQ(style.itemHeight, 48);
  EXPECT_EQ(style.icon, (CPropertyRect{0, 0, 48, 48}));
  EXPECT_EQ(style.textLeft, (CPropertyPair{48, 0}));
  EXPECT_EQ(style.textRight, (CPropertyPair{24, 0}));
  EXPECT_EQ(style.counterWidth, 48);
  EXPECT_EQ(style.textColor, 0xFFFFFF);
  EXPECT_EQ(style.selTextColor, 0xFFFFFF);
  SetScreen(480, 640, 192);
  style.Load(none.Get(), resources.Get());
  EXPECT_EQ(style.itemHeight, 96);
}

}  // namespace
}  // namespace layouttest
