// Speed of the feed date parsers, of localizer lookups and of jobs through
// one queue, on a temporary device.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "core/DateUtils.h"
#include "core/Job.h"
#include "core/JobManager.h"
#include "core/Localizer.h"
#include "core/VORegistry.h"
#include "platform/base/Device.h"
#include "platform/base/Handle.h"
#include "platform/base/Text.h"
#include "platform/files/Files.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BenchParse(const char* label, const char16_t* text) {
  const int rounds = 500000;
  plat::FILETIME ft{};
  int parsed = 0;
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < rounds; ++i) parsed += ParseDateTime(text, ft) ? 1 : 0;
  double s = Seconds(start);
  std::printf("%-28s %8.1f ns per date (%d of %d parsed)\n", label, s * 1e9 / rounds, parsed, rounds);
}

class CountJob : public CJob {
 public:
  CountJob(std::atomic<int>& done, plat::HANDLE allDone, int total)
      : CJob(nullptr), done_(done), allDone_(allDone), total_(total) {}
  int GetQueue() override { return 0; }
  void Execute() override {
    if (done_.fetch_add(1) + 1 == total_) plat::SetEvent(allDone_);
  }
  void Stop() override {}

 private:
  std::atomic<int>& done_;
  plat::HANDLE allDone_;
  int total_;
};

}  // namespace

int main() {
  std::string base = std::filesystem::temp_directory_path().string() + "/orvbench.XXXXXX";
  if (!mkdtemp(base.data())) return 1;
  plat::SetDeviceRoot(base + "/device");

  BenchParse("RFC 822 with named zone", u"Tue, 10 Jun 2003 04:00:00 GMT");
  BenchParse("RFC 822 with numeric zone", u"Tue, 10 Jun 2003 04:00 +0200");
  BenchParse("ISO 8601 with zone", u"2003-06-10T04:00:00.25+02:00");
  BenchParse("unparsable", u"not a date at all");

  // A language file of 2000 entries.
  std::string text;
  for (int i = 0; i < 2000; ++i) {
    text += "English text number " + std::to_string(i) + "|Traduction numéro " + std::to_string(i) + "\r\n";
  }
  plat::HANDLE h = plat::CreateFileW(u"\\lang.txt", plat::GENERIC_WRITE, 0, nullptr, plat::CREATE_ALWAYS,
                                     plat::FILE_ATTRIBUTE_NORMAL, nullptr);
  plat::DWORD written = 0;
  plat::WriteFile(h, text.data(), static_cast<plat::DWORD>(text.size()), &written, nullptr);
  plat::CloseHandle(h);
  COrvLocalizerAPI loc;
  auto start = std::chrono::steady_clock::now();
  const int loads = 50;
  for (int i = 0; i < loads; ++i) loc.LoadFile(u"\\lang.txt");
  std::printf("%-28s %8.1f us per load (%u entries)\n", "language file load", Seconds(start) * 1e6 / loads,
              static_cast<unsigned>(loc.GetEntryCount()));
  std::u16string keys[2000];
  for (int i = 0; i < 2000; ++i) keys[i] = plat::Latin1ToUtf16("English text number " + std::to_string(i));
  const int lookups = 1000000;
  std::size_t length = 0;
  start = std::chrono::steady_clock::now();
  for (int i = 0; i < lookups; ++i) length += plat::StrLen(loc.Translate(keys[i % 2000].c_str()));
  std::printf("%-28s %8.1f ns per lookup (check %zu)\n", "localizer lookup", Seconds(start) * 1e9 / lookups,
              length & 0xFF);

  {
    CJobManager manager;
    const int jobs = 20000;
    std::atomic<int> done{0};
    plat::HANDLE allDone = plat::CreateLocalEvent(true, false);
    start = std::chrono::steady_clock::now();
    for (int i = 0; i < jobs; ++i) manager.AddJob(new CountJob(done, allDone, jobs));
    plat::WaitForSingleObject(allDone, 60000);
    std::printf("%-28s %8.1f us per job (%d ran)\n", "job through queue 0", Seconds(start) * 1e6 / jobs,
                done.load());
    plat::CloseHandle(allDone);
  }

  std::error_code ec;
  std::filesystem::remove_all(base, ec);
  return 0;
}
