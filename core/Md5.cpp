#include "core/Md5.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

inline std::uint32_t RotateLeft(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

// One step of a round: F is the round's function, k its message word, s its
// shift. The steps are written out in full (no loop with a switch on the
// round), which lets the compiler keep the state in registers: feed bodies
// of several megabytes are hashed on every update.
inline std::uint32_t F(std::uint32_t b, std::uint32_t c, std::uint32_t d) { return d ^ (b & (c ^ d)); }
inline std::uint32_t G(std::uint32_t b, std::uint32_t c, std::uint32_t d) { return c ^ (d & (b ^ c)); }
inline std::uint32_t H(std::uint32_t b, std::uint32_t c, std::uint32_t d) { return b ^ c ^ d; }
inline std::uint32_t I(std::uint32_t b, std::uint32_t c, std::uint32_t d) { return c ^ (b | ~d); }

template <std::uint32_t (*Round)(std::uint32_t, std::uint32_t, std::uint32_t)>
inline void Step(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d, std::uint32_t x,
                 std::uint32_t t, int s) {
  a = b + RotateLeft(a + Round(b, c, d) + x + t, s);
}

void Transform(std::uint32_t state[4], const std::uint8_t block[64]) {
  std::uint32_t x[16];
  for (int i = 0; i < 16; ++i) {
    x[i] = static_cast<std::uint32_t>(block[i * 4]) | (static_cast<std::uint32_t>(block[i * 4 + 1]) << 8) |
           (static_cast<std::uint32_t>(block[i * 4 + 2]) << 16) | (static_cast<std::uint32_t>(block[i * 4 + 3]) << 24);
  }
  std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  const std::uint32_t* t = kSine;
  // Round 1: words in order.
  for (int i = 0; i < 16; i += 4, t += 4) {
    Step<F>(a, b, c, d, x[i], t[0], 7);
    Step<F>(d, a, b, c, x[i + 1], t[1], 12);
    Step<F>(c, d, a, b, x[i + 2], t[2], 17);
    Step<F>(b, c, d, a, x[i + 3], t[3], 22);
  }
  // Round 2: word 5i + 1.
  for (int i = 0; i < 16; i += 4, t += 4) {
    Step<G>(a, b, c, d, x[(5 * i + 1) & 15], t[0], 5);
    Step<G>(d, a, b, c, x[(5 * i + 6) & 15], t[1], 9);
    Step<G>(c, d, a, b, x[(5 * i + 11) & 15], t[2], 14);
    Step<G>(b, c, d, a, x[(5 * i + 16) & 15], t[3], 20);
  }
  // Round 3: word 3i + 5.
  for (int i = 0; i < 16; i += 4, t += 4) {
    Step<H>(a, b, c, d, x[(3 * i + 5) & 15], t[0], 4);
    Step<H>(d, a, b, c, x[(3 * i + 8) & 15], t[1], 11);
    Step<H>(c, d, a, b, x[(3 * i + 11) & 15], t[2], 16);
    Step<H>(b, c, d, a, x[(3 * i + 14) & 15], t[3], 23);
  }
  // Round 4: word 7i.
  for (int i = 0; i < 16; i += 4, t += 4) {
    Step<I>(a, b, c, d, x[(7 * i) & 15], t[0], 6);
    Step<I>(d, a, b, c, x[(7 * i + 7) & 15], t[1], 10);
    Step<I>(c, d, a, b, x[(7 * i + 14) & 15], t[2], 15);
    Step<I>(b, c, d, a, x[(7 * i + 21) & 15], t[3], 21);
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
}

}  // namespace

void Md5Init(Md5Context& ctx) {
  ctx.count[0] = ctx.count[1] = 0;
  ctx.state[0] = 0x67452301;
  ctx.state[1] = 0xefcdab89;
  ctx.state[2] = 0x98badcfe;
  ctx.state[3] = 0x10325476;
  std::memset(ctx.buffer, 0, sizeof ctx.buffer);
}

void Md5Update(Md5Context& ctx, const void* data, std::size_t length) {
  if (length == 0) return;
  const auto* in = static_cast<const std::uint8_t*>(data);
  std::size_t used = (ctx.count[0] >> 3) & 63;
  const std::uint64_t bits =
      ((static_cast<std::uint64_t>(ctx.count[1]) << 32) | ctx.count[0]) + (static_cast<std::uint64_t>(length) << 3);
  ctx.count[0] = static_cast<std::uint32_t>(bits);
  ctx.count[1] = static_cast<std::uint32_t>(bits >> 32);

  if (used) {
    const std::size_t take = std::min<std::size_t>(64 - used, length);
    std::memcpy(ctx.buffer + used, in, take);
    used += take;
    in += take;
    length -= take;
    if (used < 64) return;
    Transform(ctx.state, ctx.buffer);
  }
  for (; length >= 64; in += 64, length -= 64) Transform(ctx.state, in);
  if (length) std::memcpy(ctx.buffer, in, length);
}

void Md5Final(Md5Context& ctx, std::uint8_t digest[16]) {
  std::uint8_t bits[8];
  for (int i = 0; i < 4; ++i) {
    bits[i] = static_cast<std::uint8_t>(ctx.count[0] >> (8 * i));
    bits[i + 4] = static_cast<std::uint8_t>(ctx.count[1] >> (8 * i));
  }
  static const std::uint8_t padding[64] = {0x80};
  const std::size_t used = (ctx.count[0] >> 3) & 63;
  Md5Update(ctx, padding, used < 56 ? 56 - used : 120 - used);
  Md5Update(ctx, bits, 8);
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) digest[i * 4 + j] = static_cast<std::uint8_t>(ctx.state[i] >> (8 * j));
  }
  std::memset(&ctx, 0, sizeof ctx);
}

Md5Digest Md5Bytes(const void* data, std::size_t length) {
  Md5Context ctx;
  Md5Init(ctx);
  Md5Update(ctx, data, length);
  Md5Digest out;
  Md5Final(ctx, out.data());
  return out;
}

std::u16string GetMd5Hex(std::u16string_view text) {
  Md5Context ctx;
  Md5Init(ctx);
  // Feed the code units in little-endian order a block at a time.
  std::uint8_t chunk[512];
  std::size_t n = 0;
  for (char16_t c : text) {
    chunk[n++] = static_cast<std::uint8_t>(c & 0xFF);
    chunk[n++] = static_cast<std::uint8_t>(c >> 8);
    if (n == sizeof chunk) {
      Md5Update(ctx, chunk, n);
      n = 0;
    }
  }
  Md5Update(ctx, chunk, n);
  std::uint8_t digest[16];
  Md5Final(ctx, digest);
  static const char16_t kHex[] = u"0123456789abcdef";
  std::u16string out;
  out.reserve(32);
  for (std::uint8_t b : digest) {
    out.push_back(kHex[b >> 4]);
    out.push_back(kHex[b & 15]);
  }
  return out;
}
