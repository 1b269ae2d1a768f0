// The update progress as the progress screens show it: the percent of the
// whole run (-1 when nothing is updating), a status line and a message line.
#pragma once

#include <cstdint>
#include <string>

// What the progress is made of: the update manager's state as GetState
// reports it.
struct UpdateProgressState {
  bool updating = false;
  std::uint32_t bytes = 0;    // downloaded in this run
  std::int32_t percent = 0;   // progress of the current channel
  std::int32_t count = 0;     // channels of the run
  std::int32_t position = 0;  // current channel + 1
};

class UpdateProgressText {
 public:
  // Where the state comes from; the default asks the program's update
  // manager.
  using StateReader = void (*)(UpdateProgressState* state);
  static void SetStateReader(StateReader reader);

  // Reads the state and fills the three values.
  void Update();
  // Fills the three values from a state: while updating the percent of the
  // whole run, "Updating %d of %d channels" and "%d/%d | %d kb"; otherwise
  // -1 and "All channels are up to date".
  void Update(const UpdateProgressState& state);

  std::int32_t percent = -1;
  std::u16string status;
  std::u16string message;
};
