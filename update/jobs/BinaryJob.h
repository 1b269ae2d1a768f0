// The job that downloads one binary (an article image, an enclosure, a
// channel's icon) into its local file in the channel's "bin" folder and gives
// the file the extension that matches what the server sent.
#pragma once

#include <memory>
#include <string>

#include "core/Synchronized.h"
#include "database/DBEventListener.h"
#include "update/jobs/UpdateJob.h"

class CInetJob;
class IBinary;
class IBinarySet;

class CBinaryJob : public CUpdateJob, public CDBEventListener, public CSynchronized {
 public:
  // Longest extension a file takes from an address.
  static constexpr std::size_t kMaxAddressExtension = 8;

  explicit CBinaryJob(IBinary* binary);
  ~CBinaryJob() override;

  void Run() override;
  void Stop() override;
  IUpdateItem* GetItem() override;

  // A binary taken out of its set stops the job.
  void OnDBEvent(CDBEvent* record) override;

  // The local file's extension: from the content type's table row ("bin" for
  // a type the table does not list), or without a type from the last path
  // segment of the address (letters and digits only, at most
  // kMaxAddressExtension of them), else "bin".
  static std::u16string ExtensionFor(const std::u16string& address, const std::u16string& contentType);

  // Where the body is written while it downloads: beside the target, renamed
  // over it only when the download succeeded.
  static std::u16string TemporaryPathFor(const std::u16string& target);

 private:
  void Starting();
  void Finishing();
  // Under the database lock, then the job lock.
  void StopLocked();

  IBinary* binary_ = nullptr;
  IBinarySet* set_ = nullptr;
  std::unique_ptr<CInetJob> download_;
  std::u16string target_;
  std::u16string temporary_;
};
