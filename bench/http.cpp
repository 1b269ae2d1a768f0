// Downloads 200 documents of 50 KB from a loopback server through the HTTP
// layer, plain and gzipped, in one session; prints documents per second and
// the CPU time used.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/base/Device.h"
#include "platform/base/Text.h"
#include "platform/inet/ConnMgr.h"
#include "update/http/InetJob.h"
#include "update/http/InetManager.h"
#include "update/http/InetSession.h"

// The loopback server of the tests.
#include "tools/loopback/HttpTestServer.h"

namespace {

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

std::string Document(std::size_t size) {
  std::string s;
  s.reserve(size);
  static const char* kWords[] = {"<item>", "news ", "feed ", "reader ", "</item>\n", "title ", "2026 "};
  for (std::size_t i = 0; s.size() < size; ++i) s += kWords[(i * 5 + i / 3) % 7];
  s.resize(size);
  return s;
}

}  // namespace

int main() {
  for (const char* v : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
    unsetenv(v);
  }
  std::string root = (std::filesystem::temp_directory_path() / ("bench_http." + std::to_string(getpid()))).string();
  std::filesystem::create_directories(root);
  plat::SetDeviceRoot(root);
  int status = 0;
  {
    orvtest::HttpTestServer server;
    std::string doc = Document(50 * 1024);
    server.Serve("/plain", doc);
    server.Route("/gzip", [&](const orvtest::HttpRequest&) {
      orvtest::HttpResponse r;
      r.body = doc;
      r.gzip = true;
      return r;
    });
    plat::SetConnectionProvider(std::make_shared<plat::HostNetworkProvider>(true));
    CInetManager& manager = CInetManager::GetInstance();
    CInetSession session(nullptr, true, &manager);
    if (!session.WaitForConnection()) {
      std::fprintf(stderr, "no connection\n");
      return 1;
    }
    const int kDocuments = 200;
    for (const char* path : {"/plain", "/gzip"}) {
      std::u16string url = plat::Utf8ToUtf16(server.Url(path));
      double cpu0 = CpuSeconds();
      auto t0 = std::chrono::steady_clock::now();
      std::size_t bytes = 0;
      for (int i = 0; i < kDocuments; ++i) {
        CInetJob job(&session, url);
        job.SetKeepInMemory(true);
        job.Execute();
        if (job.GetResult() != CInetJob::RESULT_SUCCESS || job.GetDeliveredLength() != doc.size()) {
          std::fprintf(stderr, "%s: download %d failed: %s\n", path, i, plat::Utf16ToUtf8(job.GetErrorText()).c_str());
          status = 1;
          break;
        }
        bytes += job.GetRawBytes();
      }
      double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
      double cpu = CpuSeconds() - cpu0;
      std::printf("%-6s %d documents of 50 KB: %.1f documents/s, %.3f s wall, %.3f s CPU, %.1f KB on the wire each\n",
                  path + 1, kDocuments, kDocuments / wall, wall, cpu, bytes / 1024.0 / kDocuments);
      std::fflush(stdout);
    }
  }
  std::filesystem::remove_all(root);
  return status;
}
