// Reading catalogue answers that try to hurt into the catalogue tree: the
// parse and the read of each, their time and the memory the document held.
// Every case must stay well within 2 s and a few tens of MB.
#include <cstdio>
#include <filesystem>
#include <string>

#include "app/wizard/CatalogRequest.h"
#include "bench/BenchSupport.h"
#include "core/FileUtils.h"
#include "database/GlobalOptions.h"
#include "layout/UiKitModule.h"
#include "platform/controls/CommCtrl.h"
#include "platform/windows/Windows.h"
#include "update/tidy/TidyDocument.h"

namespace {

std::string Opml(const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?><opml version=\"1.1\"><head><title>Bench</title></head><body>" +
         body + "</body></opml>";
}

std::string Laughs() {
  std::string xml = "<?xml version=\"1.0\"?><!DOCTYPE opml [<!ENTITY a0 \"lol lol lol lol lol\">";
  for (int i = 1; i < 10; ++i) {
    xml += "<!ENTITY a" + std::to_string(i) + " \"";
    for (int j = 0; j < 10; ++j) xml += "&a" + std::to_string(i - 1) + ";";
    xml += "\">";
  }
  return xml + "]><opml version=\"1.0\"><body><outline text=\"&a9;\" xmlUrl=\"http://l.example.com/\"/></body></opml>";
}

std::string Many(int count) {
  std::string body;
  for (int i = 0; i < count; ++i) {
    body += "<outline text=\"Feed " + std::to_string(i) + "\" xmlUrl=\"http://f.example.com/" + std::to_string(i) +
            "\"/>";
  }
  return Opml(body);
}

std::string Deep(int levels) {
  std::string body;
  for (int i = 0; i < levels; ++i) body += "<outline text=\"g\">";
  body += "<outline text=\"Bottom\" xmlUrl=\"http://b.example.com/\"/>";
  for (int i = 0; i < levels; ++i) body += "</outline>";
  return Opml(body);
}

}  // namespace

int main() {
  const std::string root = bench::MakeTempDevice();
  if (root.empty()) return 1;
  plat::InitCommonControls();
  InitUiKit(nullptr);
  CreateFolderTree(u"\\Content");
  GetGlobalOptions().SetContentFolder(u"\\Content", u"");
  {
    CSyncLock lock(GetChannelSet());
    GetChannelSet()->Open();
  }
  plat::HWND tree = plat::CreateWindowExW(0, plat::WC_TREEVIEWW, u"", plat::WS_POPUP | plat::TVS_CHECKBOXES, 0, 0,
                                          480, 640, nullptr, nullptr, nullptr, nullptr);
  CatalogRequest request;
  request.SetTree(tree);
  const struct {
    const char* name;
    std::string xml;
  } cases[] = {
      {"billion laughs", Laughs()},
      {"1,000 outlines", Many(1000)},
      {"100,000 outlines", Many(100000)},
      {"900 levels", Deep(900)},
      {"10,000 levels", Deep(10000)},
  };
  std::printf("%-18s %10s %9s %9s %8s %8s %10s\n", "answer", "bytes", "parse s", "read s", "parsed", "entries",
              "doc KB");
  for (const auto& c : cases) {
    Tidy::Document document;
    document.Init();
    const auto start = bench::Clock::now();
    const int parsed = Tidy::ParseBuffer(c.xml.data(), c.xml.size(), &document, u"", u"");
    const double parseSeconds = bench::Seconds(start);
    const std::size_t memory = document.GetMemoryUsed();
    const auto readStart = bench::Clock::now();
    const bool read = parsed == 1 && request.ReadDocument(&document);
    const double readSeconds = bench::Seconds(readStart);
    std::printf("%-18s %10zu %9.3f %9.3f %8s %8zu %10zu\n", c.name, c.xml.size(), parseSeconds, readSeconds,
                parsed == 1 ? (read ? "yes" : "no body") : "refused", request.GetEntryCount(), memory / 1024);
  }
  std::printf("peak resident memory: %ld KB\n", bench::PeakKb());
  plat::DestroyWindow(tree);
  std::filesystem::remove_all(root);
  return 0;
}
