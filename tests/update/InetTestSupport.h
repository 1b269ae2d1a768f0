// A connection manager of the test's own with a scripted provider, and a
// listener that records the HTTP layer's events.
#pragma once

#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/base/Text.h"
#include "platform/inet/ConnMgr.h"
#include "core/FileUtils.h"
#include "database/ChannelSet.h"
#include "database/GlobalOptions.h"
#include "tests/support/TempDevice.h"
#include "update/http/InetJob.h"
#include "update/http/InetManager.h"
#include "update/http/InetSession.h"

namespace orvtest {

class RecordingListener : public IInetEventListener {
 public:
  void OnInetEvent(int code, CInetJob* job) override {
    std::lock_guard<std::mutex> g(lock_);
    codes_.push_back(code);
  }
  std::vector<int> Codes() {
    std::lock_guard<std::mutex> g(lock_);
    return codes_;
  }
  int Count(int code) {
    std::lock_guard<std::mutex> g(lock_);
    int n = 0;
    for (int c : codes_) n += c == code;
    return n;
  }

 private:
  std::mutex lock_;
  std::vector<int> codes_;
};

class InetTest : public DeviceTest {
 protected:
  void SetUp() override {
    // Loopback servers are reached directly, whatever proxy the host names.
    for (const char* v : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
      unsetenv(v);
    }
    plat::RegisterInternetModules();
    provider_ = std::make_shared<plat::ScriptedConnectionProvider>(plat::ScriptedConnectionProvider::Script{});
    plat::SetConnectionProvider(provider_);
    manager_ = std::make_unique<CInetManager>();
  }
  void TearDown() override {
    session_.reset();
    manager_.reset();
    plat::SetConnectionProvider(nullptr);
  }

  // For the tests of updates: requests time out after 3 s and the channel
  // set is open on the content folder "\Content".
  ::testing::AssertionResult OpenContentForUpdates() {
    manager_->GetWinInet().SetTimeout(3000);
    if (!CreateFolderTree(u"\\Content")) return ::testing::AssertionFailure() << "no content folder";
    if (!GetGlobalOptions().SetContentFolder(u"\\Content", u""))
      return ::testing::AssertionFailure() << "content folder not set";
    if (!GetChannelSet()->Open()) return ::testing::AssertionFailure() << "channel set not opened";
    return ::testing::AssertionSuccess();
  }

  // Runs one download in a connected session; the job is kept for inspection.
  std::unique_ptr<CInetJob> Fetch(const std::string& url, plat::DWORD timeoutMs = 3000,
                                   std::size_t maxBody = CInetJob::kDocumentMaxBody) {
    manager_->GetWinInet().SetTimeout(timeoutMs);
    if (!session_) {
      session_ = std::make_unique<CInetSession>(&listener_, true, manager_.get());
      EXPECT_TRUE(session_->WaitForConnection());
    }
    auto job = std::make_unique<CInetJob>(session_.get(), plat::Utf8ToUtf16(url));
    job->SetKeepInMemory(true);
    job->SetMaxBodySize(maxBody);
    job->Execute();
    return job;
  }

  // A connected session on the test's manager; requests time out after timeoutMs.
  bool ConnectSession(plat::DWORD timeoutMs = 3000) {
    session_ = std::make_unique<CInetSession>(&listener_, true, manager_.get());
    manager_->GetWinInet().SetTimeout(timeoutMs);
    return session_->WaitForConnection();
  }
  // The same on a connection manager of its own: nothing an earlier session
  // left behind is ever waited on.
  bool FreshSession(plat::DWORD timeoutMs = 3000) {
    session_.reset();
    manager_ = std::make_unique<CInetManager>();
    return ConnectSession(timeoutMs);
  }

  std::shared_ptr<plat::ScriptedConnectionProvider> provider_;
  std::unique_ptr<CInetManager> manager_;
  RecordingListener listener_;
  std::unique_ptr<CInetSession> session_;
};

}  // namespace orvtest
