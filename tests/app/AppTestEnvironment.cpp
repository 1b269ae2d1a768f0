// The program's process-wide services end as the program ends them: the
// update manager's worker is stopped and joined before the process exits.
#include <gtest/gtest.h>

#include "update/jobs/UpdateManager.h"

namespace {

class AppTestEnvironment : public ::testing::Environment {
 public:
  void TearDown() override { CUpdateManager::GetInstance()->Shutdown_(); }
};

::testing::Environment* const g_environment = ::testing::AddGlobalTestEnvironment(new AppTestEnvironment);

}  // namespace
