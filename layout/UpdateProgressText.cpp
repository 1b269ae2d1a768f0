#include "layout/UpdateProgressText.h"

#include <atomic>

#include "core/Localizer.h"
#include "platform/base/Format.h"
#include "update/jobs/UpdateManager.h"

namespace {

// String table entries of the progress lines.
constexpr plat::UINT kIdsUpToDate = 299;
constexpr plat::UINT kIdsUpdatingOf = 300;

void ReadManagerState(UpdateProgressState* out) {
  UpdateManagerState state;
  CUpdateManager::GetInstance()->GetState(&state);
  out->updating = state.updating != 0;
  out->bytes = state.bytes;
  out->percent = state.percent;
  out->count = state.count;
  out->position = state.position;
}

std::atomic<UpdateProgressText::StateReader> g_reader{&ReadManagerState};

}  // namespace

void UpdateProgressText::SetStateReader(StateReader reader) { g_reader = reader ? reader : &ReadManagerState; }

void UpdateProgressText::Update() {
  UpdateProgressState state;
  g_reader.load()(&state);
  Update(state);
}

void UpdateProgressText::Update(const UpdateProgressState& state) {
  if (!state.updating) {
    percent = -1;
    status = LocalizeResourceString(kIdsUpToDate);
    message.clear();
    return;
  }
  const std::int64_t done = (static_cast<std::int64_t>(state.position) - 1) * 100 + state.percent;
  percent = state.count < 1 ? 0 : static_cast<std::int32_t>(done / state.count);
  const std::u16string format = LocalizeResourceString(kIdsUpdatingOf);
  status = plat::FormatString(format.c_str(), state.position, state.count);
  const std::uint32_t kb = static_cast<std::uint32_t>((static_cast<std::uint64_t>(state.bytes) + 512) / 1024);
  message = plat::FormatString(u"%d/%d | %d kb", state.position, state.count, static_cast<int>(kb));
}
