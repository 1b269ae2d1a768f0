#include "tools/LayoutPacker.h"
#include "tools/XmlSyntaxLine.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "core/OrvException.h"
#include "core/ZipCipher.h"
#include "core/XmlDom.h"
#include "layout/LayoutDocument.h"
#include "layout/PackagePassword.h"
#include "layout/ResourceValues.h"
#include "platform/base/Text.h"

namespace {

void Put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  Put16(out, v & 0xFFFFu);
  Put16(out, v >> 16);
}

bool Deflate(const std::vector<std::uint8_t>& in, std::vector<std::uint8_t>& out) {
  z_stream z;
  std::memset(&z, 0, sizeof z);
  if (deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY) != Z_OK) return false;
  out.resize(deflateBound(&z, static_cast<uLong>(in.size())) + 16);
  z.next_in = const_cast<Bytef*>(in.data());
  z.avail_in = static_cast<uInt>(in.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  const int result = deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return result == Z_STREAM_END;
}

}  // namespace

std::vector<std::uint8_t> BuildZipArchive(const std::vector<ZipMemberSource>& members, const char* password) {
  std::vector<std::uint8_t> archive;
  std::vector<std::uint8_t> directory;
  const bool encrypt = password && *password;
  std::uint32_t seed = 0x2545F491u;
  for (const ZipMemberSource& member : members) {
    const std::uint32_t crc =
        static_cast<std::uint32_t>(crc32(crc32(0L, Z_NULL, 0), member.bytes.data(), static_cast<uInt>(member.bytes.size())));
    std::vector<std::uint8_t> data;
    std::uint16_t method = 0;
    if (Deflate(member.bytes, data) && data.size() < member.bytes.size()) {
      method = 8;
    } else {
      data = member.bytes;
    }
    if (encrypt) {
      CZipCipher cipher(password);
      std::vector<std::uint8_t> sealed;
      sealed.reserve(data.size() + 12);
      for (int i = 0; i < 11; ++i) {
        seed = seed * 1664525u + 1013904223u + crc;
        sealed.push_back(cipher.Encrypt(static_cast<std::uint8_t>(seed >> 24)));
      }
      sealed.push_back(cipher.Encrypt(static_cast<std::uint8_t>(crc >> 24)));
      for (std::uint8_t b : data) sealed.push_back(cipher.Encrypt(b));
      data.swap(sealed);
    }
    const std::uint16_t flags = encrypt ? 1 : 0;
    const std::uint32_t offset = static_cast<std::uint32_t>(archive.size());
    const std::uint16_t dosTime = 0;
    const std::uint16_t dosDate = 0x21;  // 1980-01-01: the same bytes on every build
    // Local header.
    Put32(archive, 0x04034B50u);
    Put16(archive, 20);
    Put16(archive, flags);
    Put16(archive, method);
    Put16(archive, dosTime);
    Put16(archive, dosDate);
    Put32(archive, crc);
    Put32(archive, static_cast<std::uint32_t>(data.size()));
    Put32(archive, static_cast<std::uint32_t>(member.bytes.size()));
    Put16(archive, static_cast<std::uint32_t>(member.name.size()));
    Put16(archive, 0);
    archive.insert(archive.end(), member.name.begin(), member.name.end());
    archive.insert(archive.end(), data.begin(), data.end());
    // Central directory record.
    Put32(directory, 0x02014B50u);
    Put16(directory, 20);
    Put16(directory, 20);
    Put16(directory, flags);
    Put16(directory, method);
    Put16(directory, dosTime);
    Put16(directory, dosDate);
    Put32(directory, crc);
    Put32(directory, static_cast<std::uint32_t>(data.size()));
    Put32(directory, static_cast<std::uint32_t>(member.bytes.size()));
    Put16(directory, static_cast<std::uint32_t>(member.name.size()));
    Put16(directory, 0);
    Put16(directory, 0);
    Put16(directory, 0);
    Put16(directory, 0);
    Put32(directory, 0);
    Put32(directory, offset);
    directory.insert(directory.end(), member.name.begin(), member.name.end());
  }
  const std::uint32_t directoryOffset = static_cast<std::uint32_t>(archive.size());
  archive.insert(archive.end(), directory.begin(), directory.end());
  Put32(archive, 0x06054B50u);
  Put16(archive, 0);
  Put16(archive, 0);
  Put16(archive, static_cast<std::uint32_t>(members.size()));
  Put16(archive, static_cast<std::uint32_t>(members.size()));
  Put32(archive, static_cast<std::uint32_t>(directory.size()));
  Put32(archive, directoryOffset);
  Put16(archive, 0);
  return archive;
}

namespace {

bool HasMember(const std::vector<std::string>& members, const std::u16string& name) {
  for (const std::string& m : members) {
    if (plat::EqualsNoCase(std::u16string(m.begin(), m.end()), name)) return true;
  }
  return false;
}

bool EndsWithBmp(std::u16string_view v) {
  return v.size() > 4 && plat::EqualsNoCase(v.substr(v.size() - 4), u".bmp");
}

int LineAt(const std::u16string& text, const char16_t* base, const char16_t* at) {
  if (!at || at < base || at > base + text.size()) return 0;
  return 1 + static_cast<int>(std::count(text.begin(), text.begin() + (at - base), u'\n'));
}

std::string Narrow(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

std::string Located(const std::string& file, int line, const std::string& what) {
  std::ostringstream out;
  out << file << ":" << line << ": " << what;
  return out.str();
}

// Parses the text into a tree whose pointers lie in buffer; the error text
// when it is not well formed.
std::string ParseTree(const std::string& file, const std::u16string& text, std::unique_ptr<char16_t[]>& buffer,
                      CXmlDocument& document) {
  buffer.reset(new char16_t[text.size() + 1]);
  std::copy(text.begin(), text.end(), buffer.get());
  buffer[text.size()] = 0;
  const char16_t* stop = XmlDom::ParseDocument(document, buffer.get());
  if (stop) {
    for (const char16_t* p = stop; *p; ++p) {
      if (*p != u' ' && *p != u'\t' && *p != u'\r' && *p != u'\n')
        return Located(file, LineAt(text, buffer.get(), p), "not a well-formed XML document");
    }
  }
  return {};
}

// Every attribute value naming a ".bmp" picture must be a member.
std::string CheckPictures(const std::string& file, const std::u16string& text, const char16_t* base,
                          const CXmlNode& node, const std::vector<std::string>& members) {
  if (node.GetType() == XML_NODE_ELEMENT) {
    for (std::uint32_t i = 0; i < node.GetAttributeCount(); ++i) {
      const CXmlNode attribute = node.GetAttribute(i);
      const char16_t* value = attribute.GetAttributeValue();
      if (value && EndsWithBmp(value) && !HasMember(members, value))
        return Located(file, LineAt(text, base, node.GetName()), "names the missing picture \"" + Narrow(value) + "\"");
    }
  }
  for (std::uint32_t i = 0; i < node.GetChildCount(); ++i) {
    std::string error = CheckPictures(file, text, base, node.GetChild(i), members);
    if (!error.empty()) return error;
  }
  return {};
}

std::string Decode(const std::string& file, const std::vector<std::uint8_t>& bytes, std::u16string& text) {
  try {
    text = DecodeUtf8Resource(bytes.data(), bytes.size());
  } catch (const COrvException&) {
    return Located(file, 1, "not UTF-8 text");
  }
  return {};
}

// Well-formed text whose ".bmp" names are all members. The program's parser
// forgives some faults (an end tag closing another element, a comment left
// open at the end); the packer does not.
std::string CheckSyntaxAndPictures(const std::string& file, const std::u16string& text,
                                   const std::vector<std::string>& members) {
  if (const int line = FirstXmlSyntaxErrorLine(text)) return Located(file, line, "not a well-formed XML document");
  std::unique_ptr<char16_t[]> buffer;
  CXmlDocument document;
  const std::string error = ParseTree(file, text, buffer, document);
  if (!error.empty()) return error;
  return CheckPictures(file, text, buffer.get(), document.GetRoot(), members);
}

}  // namespace

std::string CheckLayoutDocument(const std::string& file, const std::vector<std::uint8_t>& bytes,
                                const std::vector<std::string>& members) {
  std::u16string text;
  std::string error = Decode(file, bytes, text);
  if (!error.empty()) return error;
  LayoutParseFailure failure;
  if (!ParseLayoutTextReporting(text, failure)) {
    // A document the parser rejects as a whole still gets a line.
    if (failure.line == 0) failure.line = FirstXmlSyntaxErrorLine(text);
    char code[32];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(failure.code));
    return Located(file, failure.line, std::string("the layout reader refuses the document (") + code + ")");
  }
  return CheckSyntaxAndPictures(file, text, members);
}

std::string CheckPackageIndex(const std::string& file, const std::vector<std::uint8_t>& bytes,
                              const std::vector<std::string>& members) {
  std::u16string text;
  std::string error = Decode(file, bytes, text);
  if (!error.empty()) return error;
  return CheckSyntaxAndPictures(file, text, members);
}

bool PackLayoutFolder(const std::string& folder, const std::string& packageFile, std::string& messages) {
  namespace fs = std::filesystem;
  messages.clear();
  std::vector<ZipMemberSource> members;
  std::error_code ec;
  std::vector<fs::path> files;
  for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->is_regular_file()) files.push_back(it->path());
  }
  if (ec) {
    messages = folder + ": cannot list the folder";
    return false;
  }
  std::sort(files.begin(), files.end());
  for (const fs::path& path : files) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      messages += path.string() + ": cannot read\n";
      continue;
    }
    ZipMemberSource member;
    member.name = fs::relative(path, folder).generic_string();
    member.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    members.push_back(std::move(member));
  }
  std::vector<std::string> names;
  for (const ZipMemberSource& m : members) names.push_back(m.name);
  for (const ZipMemberSource& m : members) {
    const std::string shown = (fs::path(folder) / m.name).string();
    const std::string lower = [&] {
      std::string s = m.name;
      for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      return s;
    }();
    if (lower.size() < 4 || lower.compare(lower.size() - 4, 4, ".xml") != 0) continue;
    const std::string error = lower == "index.xml" ? CheckPackageIndex(shown, m.bytes, names)
                                                   : CheckLayoutDocument(shown, m.bytes, names);
    if (!error.empty()) messages += error + "\n";
  }
  if (!messages.empty()) return false;
  const std::vector<std::uint8_t> archive = BuildZipArchive(members, layout_package::GetPackagePassword());
  const std::string temporary = packageFile + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(archive.data()), static_cast<std::streamsize>(archive.size()));
    if (!out.flush()) {
      messages = packageFile + ": cannot write";
      return false;
    }
  }
  fs::rename(temporary, packageFile, ec);
  if (ec) {
    messages = packageFile + ": cannot write";
    fs::remove(temporary, ec);
    return false;
  }
  return true;
}
