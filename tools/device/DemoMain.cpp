// orv-demo: serves the demo feeds and pictures (the project's demo/ folder) on
// the loopback while the program runs, so a device without a network shows
// channels, articles and pictures.
//
//   orv-demo --root DIR [--device DIR] [--subscribe]
//
// Every file below the root is served under "/orv-demo/", with "@BASE@" in
// feeds and pages replaced by the server's address. The device's demo
// channels (those whose address is such a loopback address) are pointed at
// this run's address. "/orv-demo/catalog" answers the add-channels
// wizard's catalogue requests from "catalog.opml", and the device's
// "OnlineCatalogUrl" names it unless it names another catalogue. With
// --subscribe the channels of "channels.txt" (one "title|file" a line) are
// added when missing and updated once, so their articles and pictures are
// stored before the program starts. Then it
// prints "serving <address>" and serves until its standard input closes.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/Application.h"
#include "app/wizard/CatalogRequest.h"
#include "core/Localizer.h"
#include "core/Synchronized.h"
#include "core/VORegistry.h"
#include "database/Channel.h"
#include "database/ChannelSet.h"
#include "platform/base/Device.h"
#include "platform/base/Text.h"
#include "tools/device/DemoCatalog.h"
#include "tools/loopback/HttpTestServer.h"
#include "update/jobs/UpdateManager.h"
#include "update/script/JSPlugin.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kPrefix = "/orv-demo";

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string ContentType(const fs::path& path) {
  const std::string ext = path.extension().string();
  if (ext == ".png") return "image/png";
  if (ext == ".jpg" || ext == ".jpeg") return "image/jpeg";
  if (ext == ".html") return "text/html; charset=utf-8";
  if (ext == ".xml") return "text/xml; charset=utf-8";
  return "text/plain; charset=utf-8";
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
}

// A demo channel's address: served under the prefix by a loopback server.
bool IsDemoAddress(const std::u16string& url) {
  return url.rfind(u"http://127.0.0.1:", 0) == 0 && url.find(plat::Utf8ToUtf16(std::string(kPrefix) + "/")) != std::u16string::npos;
}

// The part of a demo address after the prefix ("landscapes.xml").
std::u16string DemoFile(const std::u16string& url) {
  const std::u16string prefix = plat::Utf8ToUtf16(std::string(kPrefix) + "/");
  return url.substr(url.find(prefix) + prefix.size());
}

}  // namespace

int main(int argc, char** argv) {
  std::string root;
  bool subscribe = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--root" && i + 1 < argc) root = argv[++i];
    else if (a == "--device" && i + 1 < argc) plat::SetDeviceRoot(argv[++i]);
    else if (a == "--subscribe") subscribe = true;
    else root.clear(), i = argc;
  }
  if (root.empty() || !fs::is_directory(root)) {
    std::fprintf(stderr, "usage: orv-demo --root DIR [--device DIR] [--subscribe]\n");
    return 2;
  }

  orvtest::HttpTestServer server;
  const std::string base = server.Url(kPrefix);
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    std::string body = ReadFile(entry.path());
    const std::string type = ContentType(entry.path());
    if (type.rfind("text/", 0) == 0) ReplaceAll(body, "@BASE@", base);
    server.Serve(std::string(kPrefix) + "/" + fs::relative(entry.path(), root).generic_string(), body, type);
  }
  // The demo catalogue: "catalog.opml" answered by language or search text.
  const std::string catalogAddress = base + "/catalog";
  {
    std::string catalog = ReadFile(fs::path(root) / "catalog.opml");
    ReplaceAll(catalog, "@BASE@", base);
    server.Route(std::string(kPrefix) + "/catalog", [catalog](const orvtest::HttpRequest& request) {
      orvtest::HttpResponse response;
      response.body = AnswerDemoCatalog(catalog, request.target);
      response.headers.push_back({"Content-Type", "text/xml; charset=utf-8"});
      return response;
    });
  }

  CChannelSet* set = GetChannelSet();
  std::vector<IChannel*> demo;
  {
    CSyncLock lock(set);
    set->LoadContentFolder();
    // The wizard's catalogue pages ask the demo catalogue, unless the device
    // names a catalogue of its own.
    {
      CVORegistry key = OpenSettingsKey();
      const std::u16string current = key.GetString(kOnlineCatalogUrlValue, nullptr);
      if (current.empty() || IsDemoAddress(current)) {
        key.SetString(kOnlineCatalogUrlValue, plat::Utf8ToUtf16(catalogAddress).c_str());
      }
    }
    // This run's address for the demo channels subscribed before.
    for (int i = 0; i < set->GetCount(); ++i) {
      IChannel* channel = set->GetAt(i);
      const auto& props = channel->GetProperties();
      auto url = props.find(kPropUrl);
      if (url == props.end() || !IsDemoAddress(url->second)) continue;
      const std::u16string now = plat::Utf8ToUtf16(base + "/") + DemoFile(url->second);
      if (now != url->second) channel->SetProperty(kPropUrl, now);
    }
    if (subscribe) {
      std::ifstream list(fs::path(root) / "channels.txt");
      std::string line;
      while (std::getline(list, line)) {
        const std::size_t bar = line.find('|');
        if (line.empty() || line[0] == '#' || bar == std::string::npos) continue;
        const std::u16string title = plat::Utf8ToUtf16(line.substr(0, bar));
        if (!set->FindByName(title)) AddDefaultChannel(plat::Utf8ToUtf16(base + "/" + line.substr(bar + 1)), title);
        if (IChannel* channel = set->FindByName(title)) demo.push_back(channel);
      }
    }
  }
  if (!demo.empty()) {
    // Store the articles and pictures now, so the program shows them at once.
    RegisterScriptUpdater();
    CUpdateManager* updates = CUpdateManager::GetInstance();
    {
      CSyncLock lock(set);
      for (IChannel* channel : demo) updates->UpdateChannel(channel, 0);
    }
    // The run starts when the worker takes the first request, and ends when
    // the feeds and their pictures are stored.
    auto updating = [&] {
      CSyncLock lock(set);
      return updates->IsUpdating();
    };
    auto waitFor = [](const std::function<bool()>& done, int seconds) {
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
      while (!done() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    };
    waitFor(updating, 5);
    waitFor([&] { return !updating(); }, 60);
    updates->Shutdown_();
    UnregisterScriptUpdater();
    std::printf("subscribed %zu demo channels\n", demo.size());
  }
  std::printf("serving %s\n", base.c_str());
  std::fflush(stdout);
  char byte;
  while (::read(STDIN_FILENO, &byte, 1) > 0) {
  }
  return 0;
}
