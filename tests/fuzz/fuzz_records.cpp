// Fuzzes the record readers: any input must be read or refused without a
// read past it, and whatever reads must write back and read again unchanged.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "core/RecordEncoding.h"
#include "core/Streams.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

bool EndsWithNul(const std::u16string& s) { return !s.empty() && s.back() == u'\0'; }

void RoundTripString(const std::u16string& value) {
  if (EndsWithNul(value)) return;  // a final NUL byte is dropped on reading by design
  CBufferWriter writer;
  Check(WriteString(writer, value));
  CBufferReader reader(writer.GetData(), writer.GetSize());
  std::u16string again;
  Check(ReadString(reader, again) || value.empty());
  Check(again == value);
}

template <class Container, class Write, class Read>
void RoundTripContainer(const Container& value, Write write, Read read) {
  CBufferWriter writer;
  if (!write(writer, value)) return;  // e.g. an item that cannot be written back
  CBufferReader reader(writer.GetData(), writer.GetSize());
  Container again;
  Check(read(reader, again));
  Check(again == value);
  Check(reader.Remaining() == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Each reader alone over the whole input.
  {
    CBufferReader r(data, size);
    std::u16string s;
    if (ReadString(r, s)) RoundTripString(s);
  }
  {
    CBufferReader r(data, size);
    std::u16string d;
    if (ReadDigest(r, d)) {
      Check(d.size() == 32);
      CBufferWriter w;
      Check(WriteDigest(w, d));
      Check(w.GetSize() == 16 && std::equal(data, data + 16, w.GetData()));
    }
  }
  {
    CBufferReader r(data, size);
    CStringSet set;
    const bool ok = ReadStringSet(r, set);
    Check(ok || set.empty());
    bool clean = true;
    for (const auto& item : set) clean = clean && !EndsWithNul(item);
    if (ok && clean) RoundTripContainer(set, WriteStringSet, ReadStringSet);
  }
  {
    CBufferReader r(data, size);
    CStringSet set;
    const bool ok = ReadDigestSet(r, set);
    Check(ok || set.empty());
    if (ok) RoundTripContainer(set, WriteDigestSet, ReadDigestSet);
  }
  {
    CBufferReader r(data, size);
    CStringToStringMap map;
    const bool ok = ReadStringMap(r, map);
    Check(ok || map.empty());
    bool clean = true;
    for (const auto& [k, v] : map) clean = clean && !EndsWithNul(k) && !EndsWithNul(v);
    if (ok && clean) RoundTripContainer(map, WriteStringMap, ReadStringMap);
  }
  // A sequence of records chosen by the input itself, as the file formats mix them.
  {
    CBufferReader r(data, size);
    for (int step = 0; step < 64; ++step) {
      std::uint8_t kind = 0;
      if (!ReadByte(r, kind)) break;
      bool ok = false;
      switch (kind % 8) {
        case 0: {
          std::int32_t v;
          ok = ReadInt32(r, v);
          break;
        }
        case 1: {
          std::int64_t v;
          ok = ReadInt64(r, v);
          break;
        }
        case 2: {
          std::u16string v;
          ok = ReadString(r, v);
          break;
        }
        case 3: {
          std::u16string v;
          ok = ReadDigest(r, v);
          break;
        }
        case 4: {
          CStringSet v;
          ok = ReadStringSet(r, v);
          break;
        }
        case 5: {
          CStringSet v;
          ok = ReadDigestSet(r, v);
          break;
        }
        case 6: {
          CStringToStringMap v;
          ok = ReadStringMap(r, v);
          break;
        }
        default: {
          std::uint8_t v;
          ok = ReadByte(r, v);
          break;
        }
      }
      if (!ok) break;
    }
    Check(r.GetPosition() <= size);
  }
  return 0;
}
