// The demo's catalogue answers by language and by search text.
#include <gtest/gtest.h>

#include "tools/device/DemoCatalog.h"

namespace {

const std::string kCatalog =
    "<?xml version=\"1.0\"?>\n<opml version=\"1.1\">\n<body>\n"
    "<outline text=\"Night Cities\" language=\"en\" xmlUrl=\"http://d/cities.xml\"/>\n"
    "<outline text=\"Nachtst\xC3\xA4" "dte\" language=\"de\" xmlUrl=\"http://d/cities.xml\"/>\n"
    "<outline text=\"Everywhere\" xmlUrl=\"http://d/all.xml\"/>\n"
    "</body>\n</opml>\n";

TEST(DemoCatalog, AnswersByLanguageOrSearchText) {
  const struct {
    const char* target;
    std::vector<std::string> titles;
  } cases[] = {
      {"/orv-demo/catalog?lang=en;", {"Night Cities", "Everywhere"}},
      {"/orv-demo/catalog?lang=de;en;", {"Night Cities", "Nachtst\xC3\xA4" "dte", "Everywhere"}},
      {"/orv-demo/catalog?developer=1&lang=fr;", {"Everywhere"}},
      {"/orv-demo/catalog", {"Night Cities", "Nachtst\xC3\xA4" "dte", "Everywhere"}},
      {"/orv-demo/catalog?q=%6E%69%67%68%74", {"Night Cities"}},  // "night", any case
      {"/orv-demo/catalog?q=%C3%A4", {"Nachtst\xC3\xA4" "dte"}},
      {"/orv-demo/catalog?lang=en;&q=%7A%7A%7A", {}},
  };
  for (const auto& c : cases) {
    const std::string answer = AnswerDemoCatalog(kCatalog, c.target);
    std::size_t outlines = 0;
    for (std::size_t at = answer.find("<outline"); at != std::string::npos; at = answer.find("<outline", at + 1)) {
      ++outlines;
    }
    EXPECT_EQ(outlines, c.titles.size()) << c.target;
    for (const std::string& title : c.titles) {
      EXPECT_NE(answer.find("text=\"" + title + "\""), std::string::npos) << c.target << " " << title;
    }
    // The document around the outlines stays whole.
    EXPECT_EQ(answer.rfind("<?xml", 0), 0u);
    EXPECT_NE(answer.find("</opml>"), std::string::npos);
  }
}

}  // namespace
