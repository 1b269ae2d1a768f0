// The updaters registry: each updater listed once, asked in list order, the
// first job made wins.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "database/UpdateItem.h"
#include "update/jobs/UpdatersManager.h"

namespace {

class Job : public CUpdateJob {
 public:
  Job(IUpdateItem* item, int maker) : item_(item), maker_(maker) {}
  void Run() override {}
  void Stop() override {}
  IUpdateItem* GetItem() override { return item_; }
  int Maker() const { return maker_; }

 private:
  IUpdateItem* item_;
  int maker_;
};

// Makes a job for the items it handles and counts the questions.
class Updater : public IUpdater {
 public:
  Updater(int id, std::vector<IUpdateItem*> handles) : id_(id), handles_(std::move(handles)) {}
  CUpdateJob* CreateJob(IUpdateItem* item) override {
    ++asked;
    for (IUpdateItem* handled : handles_) {
      if (handled == item) return new Job(item, id_);
    }
    return nullptr;
  }
  int asked = 0;

 private:
  int id_;
  std::vector<IUpdateItem*> handles_;
};

int MakerOf(CUpdatersManager& registry, IUpdateItem* item) {
  std::unique_ptr<CUpdateJob> job(registry.CreateJob(item));
  if (job == nullptr) return 0;
  EXPECT_EQ(job->GetItem(), item);
  return static_cast<Job*>(job.get())->Maker();
}

TEST(UpdatersManager, ListsEachUpdaterOnceAtTheEnd) {
  CUpdatersManager registry;
  Updater first(1, {}), second(2, {});
  registry.AddUpdater(&first);
  registry.AddUpdater(&second);
  registry.AddUpdater(&first);  // listed already: moves to the end
  registry.AddUpdater(nullptr);
  ASSERT_EQ(registry.GetCount(), 2);
  EXPECT_EQ(registry.GetAt(0), &second);
  EXPECT_EQ(registry.GetAt(1), &first);
  EXPECT_EQ(registry.GetAt(2), nullptr);
  registry.RemoveUpdater(&second);
  registry.RemoveUpdater(&second);  // not listed: nothing
  ASSERT_EQ(registry.GetCount(), 1);
  EXPECT_EQ(registry.GetAt(0), &first);
}

TEST(UpdatersManager, TheFirstUpdaterThatMakesAJobWins) {
  CUpdateItem feed, article, unknown;
  Updater articlesOnly(1, {&article});
  Updater both(2, {&feed, &article});
  CUpdatersManager registry;
  EXPECT_EQ(registry.CreateJob(&feed), nullptr);  // nobody listed: every item is skipped
  registry.AddUpdater(&articlesOnly);
  registry.AddUpdater(&both);

  EXPECT_EQ(MakerOf(registry, &article), 1);
  EXPECT_EQ(both.asked, 0);  // not asked once a job was made
  EXPECT_EQ(MakerOf(registry, &feed), 2);
  EXPECT_EQ(MakerOf(registry, &unknown), 0);
  EXPECT_EQ(articlesOnly.asked, 3);
  EXPECT_EQ(both.asked, 2);

  registry.AddUpdater(&articlesOnly);  // now asked last
  EXPECT_EQ(MakerOf(registry, &article), 2);
  registry.RemoveUpdater(&both);
  EXPECT_EQ(MakerOf(registry, &article), 1);
}

TEST(UpdatersManager, OneRegistryPerProcess) {
  EXPECT_EQ(&CUpdatersManager::GetInstance(), &CUpdatersManager::GetInstance());
}

}  // namespace
