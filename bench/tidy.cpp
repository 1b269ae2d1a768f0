// Parsing speed of a generated 5 MB RSS 2.0 feed: HTML Tidy's parse alone
// (library document created, parsed, released), and the whole parse into a
// Tidy::Document (encoding, nesting check, library parse and the copy into
// the document's own tree), so the cost of the copy shows.
#include <stdlib.h>
#include <tidy/tidy.h>
#include <tidy/tidybuffio.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/base/Device.h"
#include "update/tidy/TidyDocument.h"

namespace {

std::string GenerateFeed(std::size_t targetBytes) {
  std::string feed =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<rss version=\"2.0\" "
      "xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n<channel>\n<title>Generated &amp; big</title>\n"
      "<link>http://bench.example.com/</link>\n<description>A feed for measuring</description>\n";
  for (int i = 0; feed.size() < targetBytes; ++i) {
    std::string n = std::to_string(i);
    feed += "<item>\n<title>Article number " + n + ": caf\xC3\xA9 &amp; more</title>\n<link>http://bench.example.com/a/" + n +
            ".html</link>\n<guid isPermaLink=\"false\">id-" + n + "</guid>\n<pubDate>Tue, 10 Jun 2003 04:00:00 GMT</pubDate>\n"
            "<dc:creator>Writer " + n + "</dc:creator>\n<description>&lt;p&gt;Paragraph of text for item " + n +
            " with &lt;b&gt;bold&lt;/b&gt; words and a link &lt;a href=\"/x/" + n +
            "\"&gt;here&lt;/a&gt;.&lt;/p&gt; Some more plain words to fill the line.</description>\n"
            "<enclosure url=\"http://bench.example.com/m/" + n + ".mp3\" length=\"1000\" type=\"audio/mpeg\"/>\n</item>\n";
  }
  return feed + "</channel>\n</rss>\n";
}

void TIDY_CALL Discard(void*, byte) {}

bool LibraryParse(const std::string& feed) {
  TidyOutputSink sink = {nullptr, Discard};
  TidyDoc doc = tidyCreate();
  tidySetErrorSink(doc, &sink);
  tidyOptSetBool(doc, TidyQuiet, yes);
  tidyOptSetBool(doc, TidyXmlTags, yes);
  tidySetInCharEncoding(doc, "utf8");
  TidyBuffer input;
  tidyBufInit(&input);
  tidyBufAttach(&input, reinterpret_cast<byte*>(const_cast<char*>(feed.data())), static_cast<uint>(feed.size()));
  int status = tidyParseBuffer(doc, &input);
  tidyBufDetach(&input);
  tidyRelease(doc);
  return status >= 0;
}

bool DocumentParse(const std::string& feed) {
  Tidy::Document doc;
  return Tidy::ParseBuffer(feed.data(), feed.size(), &doc, u"", u"") == 1 && doc.GetRoot();
}

template <class F>
double MegabytesPerSecond(const std::string& feed, F parse, int* rounds) {
  *rounds = 0;
  auto start = std::chrono::steady_clock::now();
  double seconds = 0;
  do {
    if (!parse(feed)) return 0;
    ++*rounds;
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  } while (seconds < 2.0 && *rounds < 50);
  return static_cast<double>(feed.size()) * *rounds / (1024.0 * 1024.0) / seconds;
}

}  // namespace

int main() {
  std::string base = std::filesystem::temp_directory_path().string() + "/orvbench.XXXXXX";
  if (!mkdtemp(base.data())) return 1;
  plat::SetDeviceRoot(base + "/device");

  std::string feed = GenerateFeed(5u << 20);
  int libraryRounds = 0, documentRounds = 0;
  double library = MegabytesPerSecond(feed, LibraryParse, &libraryRounds);
  double document = MegabytesPerSecond(feed, DocumentParse, &documentRounds);

  Tidy::Document doc;
  Tidy::ParseBuffer(feed.data(), feed.size(), &doc, u"", u"");
  std::size_t nodes = 0;
  for (Tidy::Node* n = doc.GetRoot(); n; n = n->NextInSubtree(doc.GetRoot())) ++nodes;

  std::printf("feed %.2f MB, %zu nodes, tree %.2f MB\n", feed.size() / (1024.0 * 1024.0), nodes,
              doc.GetMemoryUsed() / (1024.0 * 1024.0));
  std::printf("library parse alone        %8.2f MB/s  (%d parses)\n", library, libraryRounds);
  std::printf("parse into Tidy::Document  %8.2f MB/s  (%d parses)\n", document, documentRounds);
  if (library > 0 && document > 0)
    std::printf("tree copy and checks cost  %8.1f %% of the library parse\n", (library / document - 1.0) * 100.0);
  std::filesystem::remove_all(base);
  return 0;
}
