// The build packs the layout sources with tools/orvpack; a source that does
// not parse, holds a bad value or names a missing picture stops the build
// with the file and line, and no package is written.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>

#include "tests/support/TempDevice.h"

namespace {

class PackerRefusalTest : public orvtest::DeviceTest {
 protected:
  // Runs the packer on a folder holding one shipped document with a line
  // replaced; the packer's exit code and its messages.
  int Pack(const std::string& file, const std::string& from, const std::string& to, std::string& messages) {
    const std::string source = device_.Scratch() + "/source";
    std::filesystem::create_directories(source);
    std::string text = orvtest::ReadHostFile(std::string(ORV_RESOURCES_DIR) + "/layouts/news_layouts/" + file);
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    changedLine_ = 1 + static_cast<int>(std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(at == std::string::npos ? 0 : at), '\n'));
    if (at != std::string::npos) text.replace(at, from.size(), to);
    orvtest::WriteHostFile(source + "/" + file, text);
    out_ = device_.Scratch() + "/out.dat";
    const std::string log = device_.Scratch() + "/messages.txt";
    const std::string command = std::string("'") + ORV_PACKER + "' '" + source + "' '" + out_ + "' 2>'" + log + "'";
    const int status = std::system(command.c_str());
    messages = orvtest::ReadHostFile(log);
    return status;
  }
  std::string out_;
  int changedLine_ = 0;  // the line the change stands on
};

TEST_F(PackerRefusalTest, BadDocumentsStopTheBuildWithFileAndLine) {
  struct Case {
    const char* file;
    const char* from;
    const char* to;
    const char* message;  // what the packer says, after "file:line: "
  } cases[] = {
      // A rectangle with three numbers.
      {"news_channels.xml", "BoundRect=\"0,0,240,44\"", "BoundRect=\"0,0,240\"", ""},
      // A font without a face.
      {"progress.xml", "<DefaultFont Face=\"Tahoma\" HeightPxl=\"11\" Bold=\"y\"", "<DefaultFont Face=\"\" HeightPxl=\"11\" Bold=\"y\"", ""},
      // A picture the package lacks.
      {"news_blank.xml", "<String Name=\"ImageName\" Value=\"empty_db\"/>",
       "<String Name=\"ImageName\" Value=\"empty_db\"/><String Name=\"Extra\" Value=\"nothere.bmp\"/>",
       "names the missing picture \"nothere.bmp\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.file) + ": " + c.to);
    std::filesystem::remove_all(device_.Scratch() + "/source");
    std::string messages;
    EXPECT_NE(Pack(c.file, c.from, c.to, messages), 0);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(messages, m, std::regex(std::string(c.file) + ":([0-9]+): (.*)"))) << messages;
    EXPECT_EQ(std::stoi(m[1].str()), changedLine_) << messages;
    EXPECT_NE(m[2].str().find(c.message), std::string::npos) << messages;
    EXPECT_FALSE(std::filesystem::exists(out_));
  }
}

TEST_F(PackerRefusalTest, TextThatIsNoXmlStopsTheBuild) {
  // An attribute value left open: the document does not parse at all.
  std::string messages;
  EXPECT_NE(Pack("news_blank.xml", "<Layout Name=\"news_blank\">", "<Layout Name=\"news_blank>", messages), 0);
  EXPECT_NE(messages.find("news_blank.xml:" + std::to_string(changedLine_) + ": "), std::string::npos) << messages;
  EXPECT_FALSE(std::filesystem::exists(out_));
  // Faults the program's parser forgives stop the packing too: a comment left
  // open is found at its start, an end tag closing another element at itself.
  EXPECT_NE(Pack("news_blank.xml", "<Rules>", "<!-- <Rules>", messages), 0);
  EXPECT_NE(messages.find("news_blank.xml:" + std::to_string(changedLine_) + ": "), std::string::npos) << messages;
  EXPECT_NE(Pack("news_blank.xml", "</Rules>", "</Layout>", messages), 0);
  EXPECT_NE(messages.find("news_blank.xml:" + std::to_string(changedLine_) + ": "), std::string::npos) << messages;
}

TEST_F(PackerRefusalTest, TheShippedDocumentsPack) {
  // The same run on an unchanged document succeeds, so the refusals above
  // come from the changes alone.
  std::string messages;
  EXPECT_EQ(Pack("news_blank.xml", "<Layouts>", "<Layouts>", messages), 0) << messages;
  EXPECT_TRUE(std::filesystem::exists(out_));
}

}  // namespace
