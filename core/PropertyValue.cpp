#include "core/PropertyValue.h"

#include <new>

CPropertyName::CPropertyName(const char16_t* text) {
  const auto word = reinterpret_cast<std::uintptr_t>(text);
  if (word < kPropertyNumberLimit) {
    m_number = static_cast<std::uint32_t>(word);
    return;
  }
  m_text = text;
  m_isText = true;
}

bool CPropertyName::Matches(const CPropertyName& key) const {
  if (key.IsNumber()) return IsNumber() && m_number == key.m_number;
  return IsText() && m_text == key.m_text;
}

CPropertyValue::CPropertyValue(const CPropertyName& name, const CPropertyList& listHead)
    : m_name(name), m_next(listHead.Get()) {
  if (m_next) m_next->AddRef();
}

CPropertyValue::~CPropertyValue() {
  // Release the chain behind this value one link at a time: each value whose
  // count reaches zero hands its own link over before it is deleted, so its
  // destructor has nothing left to release.
  CPropertyValue* next = m_next;
  m_next = nullptr;
  while (next) {
    if (next->DropRef() != 0) break;
    CPropertyValue* after = next->m_next;
    next->m_next = nullptr;
    delete next;
    next = after;
  }
}

bool PrependValue(CPropertyList& listHead, CPropertyValue* value) {
  if (!value) return false;
  listHead = CPropertyList(value);
  return true;
}

bool PrependIntProperty(CPropertyList& listHead, const CPropertyName& name, std::int32_t value) {
  try {
    return PrependValue(listHead, new CIntPropertyValue(name, listHead, value));
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool PrependPairProperty(CPropertyList& listHead, const CPropertyName& name, std::int32_t first,
                         std::int32_t second) {
  try {
    return PrependValue(listHead, new CPairPropertyValue(name, listHead, {first, second}));
  } catch (const std::bad_alloc&) {
    return false;
  }
}
