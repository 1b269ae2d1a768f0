#include "app/AppState.h"

namespace {
plat::HINSTANCE g_instance = nullptr;
}

AppState& GetAppState() {
  static AppState state;
  return state;
}

void SetAppInstance(plat::HINSTANCE instance) { g_instance = instance; }
plat::HINSTANCE GetAppInstance() { return g_instance; }
