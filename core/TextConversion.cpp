#include "core/TextConversion.h"

#include <cstdlib>
#include <cstring>
#include <string_view>

#include "core/PrivateHeap.h"
#include "platform/base/Text.h"

namespace {

void* AllocBuffer(std::size_t bytes, CPrivateHeap* heap) {
  return heap ? heap->Alloc(bytes) : std::malloc(bytes);
}

}  // namespace

bool Utf8ToWide(const char* utf8, char16_t** buffer, std::size_t* count, CPrivateHeap* heap) {
  if (buffer) *buffer = nullptr;
  if (count) *count = 0;
  if (!utf8 || !buffer || !count) return false;
  std::u16string wide = plat::Utf8ToUtf16(std::string_view(utf8));
  std::size_t units = wide.size() + 1;
  auto* out = static_cast<char16_t*>(AllocBuffer(units * sizeof(char16_t), heap));
  if (!out) return false;
  std::memcpy(out, wide.c_str(), units * sizeof(char16_t));
  *buffer = out;
  *count = units;
  return true;
}

char* WideToUtf8(const char16_t* text, std::ptrdiff_t length, CPrivateHeap* heap) {
  if (!text || length == 0 || length < -1) return nullptr;
  std::u16string_view source = length == -1 ? std::u16string_view(text, plat::StrLen(text) + 1)
                                            : std::u16string_view(text, static_cast<std::size_t>(length));
  std::string bytes = plat::Utf16ToUtf8(source);
  std::size_t n = bytes.size();
  if (n == 0) return nullptr;
  auto* out = static_cast<char*>(AllocBuffer(n + 1, heap));
  if (!out) return nullptr;
  std::memcpy(out, bytes.data(), n);
  out[n] = '\0';
  return out;
}

char* StringToUtf8(const std::u16string& text, CPrivateHeap* heap) {
  if (text.empty()) {
    auto* out = static_cast<char*>(AllocBuffer(1, heap));
    if (out) out[0] = '\0';
    return out;
  }
  return WideToUtf8(text.data(), static_cast<std::ptrdiff_t>(text.size()), heap);
}

std::u16string Utf8ToString(const char* utf8) {
  char16_t* buffer = nullptr;
  std::size_t count = 0;
  if (!Utf8ToWide(utf8, &buffer, &count, nullptr)) return std::u16string();
  std::u16string result(buffer, count - 1);
  std::free(buffer);
  return result;
}

void FreeConversionBuffer(void* buffer, CPrivateHeap* heap) {
  if (heap) heap->Free(buffer);
  else std::free(buffer);
}
