// A service library for the service host's tests whose thread does not end
// when it is stopped: it runs on until the file named by
// ORV_STUCK_SERVICE_RELEASE exists, then writes the file named by
// ORV_STUCK_SERVICE_ENDED and ends. Its deinit answers that the thread still
// runs while it does. Plain C++ only: it takes nothing from its host.
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

std::atomic<bool> g_running{false};

void Run() {
  const char* release = std::getenv("ORV_STUCK_SERVICE_RELEASE");
  const char* ended = std::getenv("ORV_STUCK_SERVICE_ENDED");
  while (release && ::access(release, F_OK) != 0) ::usleep(10000);
  if (ended) {
    if (std::FILE* f = std::fopen(ended, "w")) {
      std::fputs("ended\n", f);
      std::fclose(f);
    }
  }
  g_running = false;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) unsigned NEW_Init(unsigned) {
  g_running = true;
  std::thread(Run).detach();
  return 1;
}
__attribute__((visibility("default"))) int NEW_Deinit(unsigned) { return g_running ? 1 : 0; }
__attribute__((visibility("default"))) unsigned NEW_Open(unsigned, unsigned, unsigned) { return 0; }
__attribute__((visibility("default"))) int NEW_Close(unsigned) { return 0; }
__attribute__((visibility("default"))) unsigned NEW_Read(unsigned, void*, unsigned) { return 0; }
__attribute__((visibility("default"))) unsigned NEW_Write(unsigned, const void*, unsigned) { return 0; }
__attribute__((visibility("default"))) unsigned NEW_Seek(unsigned, long, unsigned) { return 0; }
__attribute__((visibility("default"))) int NEW_IOControl(unsigned, unsigned, unsigned char*, unsigned, unsigned char*,
                                                         unsigned, unsigned*) {
  return 1;
}

}  // extern "C"
