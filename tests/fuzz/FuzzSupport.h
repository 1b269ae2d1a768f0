// What the fuzz targets share: a device of the process's own in a temporary
// folder (removed when the process ends) for code that reads or writes
// device files, and the check that ends the run with a message.
#pragma once

#include <cstddef>
#include <string>

namespace orvfuzz {

// Makes the device once (later calls return the same one). Returns the host
// folder of device "\".
const std::string& UseTempDevice();

// Ends the run (an abort libFuzzer reports with the input) unless condition
// holds; what names the broken rule.
void Check(bool condition, const char* what);

// Writes bytes to a host file, replacing it.
void WriteHostFile(const std::string& hostPath, const void* data, std::size_t size);

}  // namespace orvfuzz
