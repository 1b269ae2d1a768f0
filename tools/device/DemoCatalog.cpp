#include "tools/device/DemoCatalog.h"

#include <sstream>
#include <vector>

#include "core/StringUtils.h"

namespace {

std::string PercentDecode(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i] == '+' ? ' ' : text[i];
    }
  }
  return out;
}

std::string LowerAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// The value of a query parameter (decoded); empty when absent.
std::string Parameter(const std::string& query, const std::string& name) {
  std::size_t at = 0;
  while (at <= query.size()) {
    std::size_t end = query.find('&', at);
    if (end == std::string::npos) end = query.size();
    const std::string pair = query.substr(at, end - at);
    if (pair.rfind(name + "=", 0) == 0) return PercentDecode(pair.substr(name.size() + 1));
    at = end + 1;
  }
  return {};
}

// The value of an attribute written name="value" on the line; empty when absent.
std::string AttributeOf(const std::string& line, const std::string& name) {
  const std::string key = " " + name + "=\"";
  const std::size_t at = line.find(key);
  if (at == std::string::npos) return {};
  const std::size_t begin = at + key.size();
  const std::size_t end = line.find('"', begin);
  return end == std::string::npos ? std::string() : line.substr(begin, end - begin);
}

}  // namespace

std::string AnswerDemoCatalog(const std::string& opml, const std::string& query) {
  const std::size_t mark = query.find('?');
  const std::string parameters = mark == std::string::npos ? query : query.substr(mark + 1);
  const std::string search = LowerAscii(Parameter(parameters, "q"));
  std::vector<std::string> languages;
  {
    std::istringstream codes(Parameter(parameters, "lang"));
    std::string code;
    while (std::getline(codes, code, ';')) {
      if (!code.empty()) languages.push_back(LowerAscii(code));
    }
  }
  std::istringstream in(opml);
  std::string answer, line;
  while (std::getline(in, line)) {
    const bool channel = line.find("<outline") != std::string::npos && line.find("xmlUrl=") != std::string::npos;
    bool keep = true;
    if (channel && !search.empty()) {
      keep = LowerAscii(AttributeOf(line, "text")).find(search) != std::string::npos;
    } else if (channel && !languages.empty()) {
      const std::string language = LowerAscii(AttributeOf(line, "language"));
      keep = language.empty();
      for (const std::string& code : languages) keep = keep || code == language;
    }
    if (keep) answer += line + "\n";
  }
  return answer;
}
