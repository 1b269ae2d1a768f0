// Every test runs on a device of its own in a temporary folder.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace orvtest {

// Makes a fresh temporary folder, points HOME and ORVNEWS_DEVICE at folders
// inside it and makes it this process's device. Removed again on destruction.
class ScopedTempDevice {
 public:
  ScopedTempDevice();
  ~ScopedTempDevice();
  ScopedTempDevice(const ScopedTempDevice&) = delete;
  ScopedTempDevice& operator=(const ScopedTempDevice&) = delete;

  const std::string& Root() const { return root_; }       // the device folder
  std::string FsRoot() const { return root_ + "/fs"; }    // host folder of device "\"
  const std::string& Scratch() const { return scratch_; } // a host folder for the test's own files

 private:
  std::string base_;
  std::string root_;
  std::string scratch_;
};

// Fixture base: each test gets its own device.
class DeviceTest : public ::testing::Test {
 protected:
  ScopedTempDevice device_;
};

// Makes a unique temporary host folder (removed by RemoveTree).
std::string MakeTempDir(const std::string& prefix = "orvtest");
void RemoveTree(const std::string& hostPath);

// Writes and reads whole host files (for fixtures).
void WriteHostFile(const std::string& hostPath, const std::string& bytes);
std::string ReadHostFile(const std::string& hostPath);

}  // namespace orvtest
