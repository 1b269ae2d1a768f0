// The program's process-wide services end as the program ends them: the
// update manager's worker is stopped and joined before the process exits.
// The internet library is set up once on the main thread first, so that its
// one-time set-up (and what the TLS library keeps of it) belongs to the
// thread that lives to the end, not to the update worker.
#include <gtest/gtest.h>

#include "platform/inet/Inet.h"
#include "update/UpdateManager.h"

namespace {

class AppTestEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (plat::HINTERNET session = plat::InternetOpenW(u"test", 0, nullptr, nullptr, 0))
      plat::InternetCloseHandle(session);
  }
  void TearDown() override { CUpdateManager::GetInstance()->Shutdown_(); }
};

::testing::Environment* const g_environment = ::testing::AddGlobalTestEnvironment(new AppTestEnvironment);

}  // namespace
