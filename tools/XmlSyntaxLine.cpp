#include "tools/XmlSyntaxLine.h"

#include <vector>

#include "platform/base/Text.h"

namespace {

bool IsNameChar(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_' || c == u':' ||
         c == u'-' || c == u'.' || c > 0x7F;
}

class Scanner {
 public:
  explicit Scanner(const std::u16string& text) : t_(text) {}

  int Run() {
    while (i_ < t_.size()) {
      if (t_[i_] != u'<') {
        Advance();
        continue;
      }
      const int start = line_;
      if (Starts(u"<!--")) {
        if (!SkipPast(u"-->")) return start;
      } else if (Starts(u"<![CDATA[")) {
        if (!SkipPast(u"]]>")) return start;
      } else if (Starts(u"<?") || Starts(u"<!")) {
        if (!SkipPast(u">")) return start;
      } else if (int bad = Tag(); bad) {
        return bad;
      }
    }
    return open_.empty() ? 0 : line_;
  }

 private:
  bool Starts(const char16_t* s) const { return t_.compare(i_, std::char_traits<char16_t>::length(s), s) == 0; }
  void Advance() {
    if (t_[i_] == u'\n') ++line_;
    ++i_;
  }
  bool SkipPast(const char16_t* end) {
    const std::size_t n = std::char_traits<char16_t>::length(end);
    while (i_ < t_.size() && !Starts(end)) Advance();
    if (i_ >= t_.size()) return false;
    i_ += n;
    return true;
  }
  std::u16string Name() {
    std::u16string name;
    while (i_ < t_.size() && IsNameChar(t_[i_])) name.push_back(t_[i_++]);
    return name;
  }
  void Spaces() {
    while (i_ < t_.size() && plat::IsXmlSpace(t_[i_])) Advance();
  }

  // A start or end tag at '<'; the line of its error, else 0.
  int Tag() {
    const int start = line_;
    ++i_;
    const bool end = i_ < t_.size() && t_[i_] == u'/';
    if (end) ++i_;
    const std::u16string name = Name();
    if (name.empty()) return start;
    if (end) {
      Spaces();
      if (i_ >= t_.size() || t_[i_] != u'>') return line_;
      ++i_;
      if (open_.empty() || open_.back() != name) return start;
      open_.pop_back();
      return 0;
    }
    for (;;) {
      Spaces();
      if (i_ >= t_.size()) return start;
      if (t_[i_] == u'>') {
        ++i_;
        open_.push_back(name);
        return 0;
      }
      if (t_[i_] == u'/' && i_ + 1 < t_.size() && t_[i_ + 1] == u'>') {
        i_ += 2;
        return 0;
      }
      if (Name().empty()) return line_;
      Spaces();
      if (i_ >= t_.size() || t_[i_] != u'=') return line_;
      ++i_;
      Spaces();
      if (i_ >= t_.size() || (t_[i_] != u'"' && t_[i_] != u'\'')) return line_;
      const char16_t quote = t_[i_++];
      const int valueLine = line_;
      while (i_ < t_.size() && t_[i_] != quote) {
        if (t_[i_] == u'<') return valueLine;  // the value runs into markup: its quote was left open
        Advance();
      }
      if (i_ >= t_.size()) return valueLine;
      ++i_;
    }
  }

  const std::u16string& t_;
  std::size_t i_ = 0;
  int line_ = 1;
  std::vector<std::u16string> open_;
};

}  // namespace

int FirstXmlSyntaxErrorLine(const std::u16string& text) { return Scanner(text).Run(); }
