// The program's updater: chooses the job that updates an item by the item's
// kind and, for a channel, its "@type" property (compared ignoring case):
//   "@RSS"                                  -> CRSSChannelJob (channel, 0)
//   otherwise "channel#type" equal to "RSS" -> CRSSChannelJob (channel, 1)
//   otherwise "@type" empty, missing or "@Ridudo" -> CChannelJob (channel)
//   any other "@type"                       -> none
// An article gets a CArticleJob, a binary a CBinaryJob, anything else none.
#pragma once

#include "update/jobs/UpdateJob.h"

class CJSPlugin : public IUpdater {
 public:
  // The one process-wide instance.
  static CJSPlugin* GetInstance();

  CUpdateJob* CreateJob(IUpdateItem* item) override;
};

// Adds the process-wide CJSPlugin to the updaters registry (start-up), and
// removes it (shut-down).
void RegisterScriptUpdater();
void UnregisterScriptUpdater();
