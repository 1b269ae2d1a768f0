// The layout packer: checks every layout document of a folder with the
// program's own reader, checks that the pictures they and the package index
// name are there, and writes the folder as a layout package (a zip archive
// whose members are encrypted with the package password).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ZipMemberSource {
  std::string name;  // member name inside the archive
  std::vector<std::uint8_t> bytes;
};

// A zip archive of the members: deflated where that is smaller, stored
// otherwise, each encrypted with the traditional PKWARE cipher when a
// password is given. Deterministic: the same input gives the same bytes.
std::vector<std::uint8_t> BuildZipArchive(const std::vector<ZipMemberSource>& members, const char* password);

// Checks one layout document (UTF-8 bytes) named file against the set of
// member names of its package: an empty answer when it is good, else
// "file:line: what is wrong".
std::string CheckLayoutDocument(const std::string& file, const std::vector<std::uint8_t>& bytes,
                                const std::vector<std::string>& members);
// The same for "Index.xml": every "Bitmap" element's "Image" and "Mask".
std::string CheckPackageIndex(const std::string& file, const std::vector<std::uint8_t>& bytes,
                              const std::vector<std::string>& members);

// Packs every file of the host folder (sub-folders included, names with "/")
// into the package file at the host path, after checking each ".xml" file.
// False with the messages (one per line) when a check fails or a file cannot
// be read or written; nothing is written then.
bool PackLayoutFolder(const std::string& folder, const std::string& packageFile, std::string& messages);
