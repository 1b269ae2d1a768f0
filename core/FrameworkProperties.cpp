#include "core/FrameworkProperties.h"

#include <new>
#include <vector>

namespace {

template <class Make>
bool PrependMade(CPropertyList& listHead, Make make) {
  try {
    return PrependValue(listHead, make());
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace

bool PrependRectProperty(CPropertyList& listHead, const CPropertyName& name, std::int32_t left, std::int32_t top,
                         std::int32_t right, std::int32_t bottom) {
  return PrependMade(listHead,
                     [&] { return new CRectPropertyValue(name, listHead, {left, top, right, bottom}); });
}

bool PrependObjectProperty(CPropertyList& listHead, const CPropertyName& name, std::shared_ptr<void> object) {
  return PrependMade(listHead, [&] { return new CObjectPropertyValue(name, listHead, std::move(object)); });
}

bool PrependStringProperty(CPropertyList& listHead, const CPropertyName& name, std::u16string value) {
  return PrependMade(listHead, [&] { return new CStringPropertyValue(name, listHead, std::move(value)); });
}

bool PrependNestedList(CPropertyList& listHead, CPropertyList nested) {
  return PrependMade(listHead, [&] { return new CListPropertyValue(listHead, std::move(nested)); });
}

CPropertyList FindProperty(const CPropertyList& listHead, const CPropertyName& key) {
  // Walks with a stack of the places to go on from after a nested list, so a
  // deep nesting costs no recursion.
  std::vector<CPropertyValue*> resume;
  CPropertyValue* node = listHead.Get();
  for (;;) {
    while (node) {
      if (node->GetName().IsEmpty()) {
        if (CPropertyValue* nested = node->GetNestedList()) {
          resume.push_back(node->GetNext());
          node = nested;
          continue;
        }
      } else if (node->GetName().Matches(key)) {
        return CPropertyList(node);
      }
      node = node->GetNext();
    }
    if (resume.empty()) return {};
    node = resume.back();
    resume.pop_back();
  }
}

bool GetIntProperty(const CPropertyList& listHead, const CPropertyName& key, std::int32_t& value) {
  CPropertyList found = FindProperty(listHead, key);
  if (!found) return false;
  value = found->GetInt();
  return true;
}
