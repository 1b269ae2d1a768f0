// Generated RSS 2.0 feeds for the feed benchmarks: feed f with items
// [first, first + count), newest first. Each item has a title, link, guid,
// date and an HTML description of about 4 KB with one image (300 feeds of 50
// items: about 65 MB); the same arguments always give the same bytes. A third
// of the feeds each is UTF-8 (declared in the document and the response),
// ISO-8859-1 (declared in the document only) and windows-1252 (declared in the
// response's charset only), with accented letters, quotes and currency signs.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/base/Device.h"

namespace benchfeeds {

constexpr int kFeeds = 300;
constexpr int kItemsPerFeed = 50;
constexpr int kNewItemsPerFeed = 5;
constexpr int kParagraphsPerItem = 16;

enum class Charset { Utf8, Latin1, Windows1252 };

inline Charset CharsetOf(int feed) { return static_cast<Charset>(feed % 3); }

// The response's Content-Type of feed f.
inline std::string ContentType(int feed) {
  switch (CharsetOf(feed)) {
    case Charset::Utf8: return "application/rss+xml; charset=utf-8";
    case Charset::Latin1: return "application/rss+xml";
    case Charset::Windows1252: return "application/rss+xml; charset=windows-1252";
  }
  return "application/rss+xml";
}

// The encoding a parser is told by the transport (empty: none).
inline const char16_t* TransportEncoding(int feed) {
  switch (CharsetOf(feed)) {
    case Charset::Utf8: return u"utf-8";
    case Charset::Latin1: return u"";
    case Charset::Windows1252: return u"windows-1252";
  }
  return u"";
}

// The benchmarks' shared start: no proxy from the environment, the feed count
// from BENCH_FEEDS_COUNT (fewer feeds for profiling) into feeds, and a fresh
// device under BENCH_FEEDS_DIR (a tmpfs shows the cost without the disk's
// flushes) or the temporary folder. Returns the device's host folder.
inline std::string SetUpBenchDevice(const std::string& name, int& feeds) {
  for (const char* v : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
    unsetenv(v);
  }
  if (const char* count = std::getenv("BENCH_FEEDS_COUNT"); count && std::atoi(count) > 0) feeds = std::atoi(count);
  const char* dir = std::getenv("BENCH_FEEDS_DIR");
  const std::filesystem::path parent = dir && *dir ? std::filesystem::path(dir) : std::filesystem::temp_directory_path();
  const std::string root = (parent / (name + "." + std::to_string(getpid()))).string();
  std::filesystem::create_directories(root);
  plat::SetDeviceRoot(root);
  return root;
}

inline std::string Paragraph(int feed, int item, int n) {
  static const char* kWords[] = {"harbour", "tide",  "ferry", "quay",   "storm",  "lighthouse", "pier",
                                 "cargo",   "crane", "dock",  "sailor", "beacon", "anchor",     "mast"};
  std::string text = "<p>";
  for (int w = 0; w < 28; ++w) {
    text += kWords[(feed * 7 + item * 3 + n * 5 + w) % 14];
    text += w % 9 == 8 ? ", " : " ";
  }
  text += "<b>update</b> &amp; <a href=\"/more\">more</a>.</p>";
  return text;
}

// Text beyond ASCII in each feed's own bytes (a hex escape is closed before a
// digit follows it, or the digit would join the escape).
inline const char* Accents(Charset charset) {
  switch (charset) {
    case Charset::Utf8: return " caf\xC3\xA9 \xE2\x80\x9Cna\xC3\xAFve\xE2\x80\x9D \xE2\x80\x93 \xE2\x82\xAC" "5 \xC2\xA3";
    case Charset::Latin1: return " caf\xE9 \xABna\xEFve\xBB \xB7 \xA3" "5 \xB0";
    case Charset::Windows1252: return " caf\xE9 \x93na\xEFve\x94 \x96 \x80" "5 \xA3";
  }
  return "";
}

// base: the server's address, without a final slash.
inline std::string MakeFeed(const std::string& base, int feed, int first, int count) {
  char line[512];
  const Charset charset = CharsetOf(feed);
  std::string xml = charset == Charset::Utf8     ? "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                    : charset == Charset::Latin1 ? "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
                                                 : "<?xml version=\"1.0\"?>\n";
  xml += "<rss version=\"2.0\"><channel>\n";
  std::snprintf(line, sizeof line,
                "<title>Feed %d</title><link>%s/site/%d/</link><description>Generated feed %d</description>\n", feed,
                base.c_str(), feed, feed);
  xml += line;
  for (int i = first + count - 1; i >= first; --i) {
    const int day = 1 + i % 28, hour = i % 24, minute = (i * 7) % 60;
    std::snprintf(line, sizeof line,
                  "<item><title>Feed %d item %d: news of the day%s</title><link>%s/site/%d/item/%d</link>"
                  "<guid isPermaLink=\"false\">feed-%d-item-%d</guid>"
                  "<pubDate>Sun, %02d Nov 2026 %02d:%02d:00 GMT</pubDate><description><![CDATA[",
                  feed, i, Accents(charset), base.c_str(), feed, i, feed, i, day, hour, minute);
    xml += line;
    std::snprintf(line, sizeof line, "<img src=\"%s/img/%d/%d.jpg\" alt=\"\">", base.c_str(), feed, i);
    xml += line;
    for (int p = 0; p < kParagraphsPerItem; ++p) {
      xml += Paragraph(feed, i, p);
      xml.insert(xml.size() - 4, Accents(charset));  // before the closing "</p>"
    }
    xml += "]]></description></item>\n";
  }
  xml += "</channel></rss>\n";
  return xml;
}

}  // namespace benchfeeds
