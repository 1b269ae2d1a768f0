// A device of the fuzzing process's own in a temporary folder, removed when
// the process ends; for targets whose code reads or writes device files.
#pragma once

#include <cstddef>
#include <string>

namespace orvfuzz {

// Makes the device once (later calls return the same one). Returns the host
// folder of device "\".
const std::string& UseTempDevice();

// Writes bytes to a host file, replacing it.
void WriteHostFile(const std::string& hostPath, const void* data, std::size_t size);

}  // namespace orvfuzz
