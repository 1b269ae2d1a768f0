#include "hosts/ServiceHost.h"

namespace plat::hosts {

namespace {
template <typename F>
bool Bind(HMODULE module, const std::string& name, F* out, std::string* missing) {
  FARPROC p = GetProcAddress(module, name.c_str());
  if (!p) {
    if (missing && missing->empty()) *missing = name;
    return false;
  }
  *out = reinterpret_cast<F>(p);
  return true;
}
}  // namespace

bool BindServiceEntryPoints(HMODULE module, const std::string& prefix, ServiceEntryPoints* out,
                            std::string* missing) {
  if (!module || !out) return false;
  ServiceEntryPoints e;
  bool ok = Bind(module, prefix + "_Init", &e.init, missing);
  ok = Bind(module, prefix + "_Deinit", &e.deinit, missing) && ok;
  ok = Bind(module, prefix + "_Open", &e.open, missing) && ok;
  ok = Bind(module, prefix + "_Close", &e.close, missing) && ok;
  ok = Bind(module, prefix + "_Read", &e.read, missing) && ok;
  ok = Bind(module, prefix + "_Write", &e.write, missing) && ok;
  ok = Bind(module, prefix + "_Seek", &e.seek, missing) && ok;
  ok = Bind(module, prefix + "_IOControl", &e.ioControl, missing) && ok;
  if (ok) *out = e;
  return ok;
}

}  // namespace plat::hosts
