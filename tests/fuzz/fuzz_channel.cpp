// Fuzzes the loading of a channel file (".cnl"): any bytes load or are
// refused without a fault; a channel that loads keeps its state within the
// known ones, and once changed writes a file that loads again into the same
// state, options and properties.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "core/FileUtils.h"
#include "core/Streams.h"
#include "database/Channel.h"
#include "database/ChannelOptions.h"
#include "database/GlobalOptions.h"
#include "platform/base/Text.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

using orvfuzz::Check;

std::string OptionsBytes(CChannel& channel) {
  auto* options = dynamic_cast<CChannelOptions*>(channel.GetOptions());
  Check(options != nullptr, "a channel without options");
  CBufferWriter out;
  Check(options->Write(out), "the options could not be written");
  return std::string(reinterpret_cast<const char*>(out.GetData()), out.GetSize());
}

// The properties as a save and a load give them back: a string is written
// without its final zeros, and a property without a name or a value is none.
CStringToStringMap Stored(const CStringToStringMap& properties) {
  CStringToStringMap stored;
  for (const auto& [storedKey, storedValue] : properties) {
    std::u16string key = storedKey, value = storedValue;
    while (!key.empty() && key.back() == u'\0') key.pop_back();
    while (!value.empty() && value.back() == u'\0') value.pop_back();
    if (!key.empty() && !value.empty()) stored[key] = value;
  }
  return stored;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  orvfuzz::UseTempDevice();
  if (!CreateFolderTree(u"\\Content") || !GetGlobalOptions().SetContentFolder(u"\\Content", u"")) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string host = orvfuzz::UseTempDevice() + "/Content/Fuzz.cnl";
  const std::u16string path = u"\\Content\\Fuzz.cnl";
  orvfuzz::WriteHostFile(host, data, size);
  CChannel first;
  if (!first.OpenFromFile(path)) return 0;
  Check(first.GetOwnUpdateState() <= US_NEVER_UPDATED && first.GetOwnUpdateState() != US_UPDATING,
        "a loaded channel in an unknown or running state");
  CStringToStringMap properties = first.GetProperties();
  const std::string options = OptionsBytes(first);
  first.SetProperty(u"fuzz", u"changed");
  properties[u"fuzz"] = u"changed";
  properties = Stored(properties);
  Check(first.SaveChannelFile(), "a loaded channel could not be saved");

  CChannel second;
  Check(second.OpenFromFile(path), "a saved channel file did not load");
  CStringToStringMap loaded = second.GetProperties();
  std::erase_if(loaded, [](const auto& entry) { return entry.first.empty() || entry.second.empty(); });
  if (loaded != properties) {
    for (const auto& [key, value] : properties) {
      const auto it = loaded.find(key);
      std::fprintf(stderr, "[%s]=[%s] -> %s\n", plat::Utf16ToUtf8(key).c_str(), plat::Utf16ToUtf8(value).c_str(),
                   it == loaded.end() ? "missing" : plat::Utf16ToUtf8(it->second).c_str());
    }
    Check(false, "the properties changed on the way");
  }
  Check(OptionsBytes(second) == options, "the options changed on the way");
  Check(second.GetOwnUpdateState() == first.GetOwnUpdateState(), "the state changed on the way");
  return 0;
}
