// A service library for the service host's tests whose thread does not end
// when it is stopped: it runs on until the file named by
// ORV_STUCK_SERVICE_RELEASE exists, then writes the file named by
// ORV_STUCK_SERVICE_ENDED and ends. Its deinit answers that the thread still
// runs while it is not released; once it is, the deinit waits for the thread
// to end and answers a clean stop. Plain C++ only: it takes nothing from its
// host.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

std::thread g_thread;

bool Released() {
  const char* release = std::getenv("ORV_STUCK_SERVICE_RELEASE");
  return !release || ::access(release, F_OK) == 0;
}

void Run() {
  const char* ended = std::getenv("ORV_STUCK_SERVICE_ENDED");
  while (!Released()) ::usleep(10000);
  if (ended) {
    if (std::FILE* f = std::fopen(ended, "w")) {
      std::fputs("ended\n", f);
      std::fclose(f);
    }
  }
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) unsigned NEW_Init(unsigned) {
  g_thread = std::thread(Run);
  return 1;
}
__attribute__((visibility("default"))) int NEW_Deinit(unsigned) {
  if (!g_thread.joinable()) return 0;
  if (!Released()) {
    g_thread.detach();
    return 1;
  }
  g_thread.join();
  return 0;
}
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
