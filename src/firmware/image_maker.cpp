#include "firmware/image_maker.h"

#include <algorithm>
#include <cstring>

#include "firmware/package.h"
#include "transport/byte_order.h"
#include "transport/message.h"

namespace zorv::firmware {

namespace {


class Random {
 public:
  explicit Random(uint64_t seed) : s_(seed) {}
  uint64_t next() {
    uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  uint32_t below(uint32_t n) { return static_cast<uint32_t>(next() % n); }

 private:
  uint64_t s_;
};

uint64_t deriveSeed(const ImageSpec& s) {
  uint64_t h = 1469598103934665603ull;
  auto mix = [&](uint8_t b) { h = (h ^ b) * 1099511628211ull; };
  mix(static_cast<uint8_t>(s.usModelClass));
  for (uint8_t b : s.hwid) mix(b);
  for (char c : s.version) mix(static_cast<uint8_t>(c));
  for (int i = 0; i < 8; ++i) mix(static_cast<uint8_t>(s.size >> (8 * i)));
  return h;
}

// Writes code-like bytes into [begin, end): functions of 16-bit instruction
// words drawn from a small repertoire with few register fields, calls to
// earlier functions, literal pools, message strings and lookup tables. Real
// firmware compresses to about half or two thirds; so does this.
void fillCode(uint8_t* image, size_t begin, size_t end, Random& rnd) {
  static const uint16_t kOps[] = {0xB500, 0xBD00, 0x4600, 0x6800, 0x6000, 0x2000, 0x3000, 0x1C00, 0xE000,
                                  0xD000, 0xD100, 0x4280, 0x4000, 0x4300, 0x0000, 0x0800, 0x7800, 0x7000,
                                  0x8800, 0x8000, 0x4770, 0xF000, 0x2800, 0x1800};
  static const char* const kStrings[] = {"NAND init fail\r\n", "FTL rebuild %d\r\n", "Read retry ch%d ce%d\r\n",
                                         "ECC uncorrectable at %08X\r\n", "SMART update\r\n", "Power on\r\n",
                                         "Bad block %04X marked\r\n", "Vendor cmd %02X\r\n", "Thermal throttle\r\n",
                                         "GC start blk %d\r\n", "Wear level swap\r\n", "Link up Gen%d\r\n"};
  std::vector<uint32_t> constants;
  for (int i = 0; i < 48; ++i) {
    uint32_t base = (rnd.below(4) == 0) ? 0x20000000u : (rnd.below(2) ? 0x40000000u : 0x00000000u);
    constants.push_back(base | (rnd.below(0x4000) << 2));
  }
  std::vector<size_t> functions;
  std::vector<uint16_t> common;  // sequences that recur, as inlined helpers do
  for (int i = 0; i < 24; ++i) common.push_back(static_cast<uint16_t>(kOps[rnd.below(std::size(kOps))] | rnd.below(64)));

  size_t p = begin;
  auto room = [&](size_t n) { return p + n <= end; };
  auto put16 = [&](uint16_t v) {
    if (room(2)) {
      putLe16(image + p, v);
      p += 2;
    } else {
      p = end;
    }
  };
  while (p < end) {
    uint32_t kind = rnd.below(20);
    if (kind < 14) {
      // A function: prologue, body, epilogue, sometimes a literal pool.
      functions.push_back(p);
      put16(static_cast<uint16_t>(0xB500 | rnd.below(256)));
      uint32_t body = 12 + rnd.below(120);
      for (uint32_t i = 0; i < body && p < end; ++i) {
        uint32_t what = rnd.below(16);
        if (what < 3) {
          size_t at = rnd.below(static_cast<uint32_t>(common.size() - 4));
          for (size_t k = 0; k < 4; ++k) put16(common[at + k]);
        } else if (what == 3 && functions.size() > 1) {
          // Call: a 32-bit branch-with-link to an earlier function.
          size_t target = functions[rnd.below(static_cast<uint32_t>(functions.size()))];
          uint32_t off = static_cast<uint32_t>((p - target) / 2) & 0x3FFFFF;
          put16(static_cast<uint16_t>(0xF000 | (off >> 11)));
          put16(static_cast<uint16_t>(0xF800 | (off & 0x7FF)));
        } else {
          uint16_t op = kOps[rnd.below(std::size(kOps))];
          uint16_t regs = static_cast<uint16_t>(rnd.below(8) | (rnd.below(8) << 3));
          if (what > 12) regs = static_cast<uint16_t>(rnd.below(256));
          put16(static_cast<uint16_t>(op | regs));
        }
      }
      put16(static_cast<uint16_t>(0xBD00 | rnd.below(256)));
      if (rnd.below(3) == 0) {
        if ((p & 1) != 0 && p < end) image[p++] = 0;
        if ((p & 3) != 0) put16(0x46C0);
        uint32_t words = 2 + rnd.below(10);
        for (uint32_t i = 0; i < words && room(4); ++i) {
          putLe32(image + p, constants[rnd.below(static_cast<uint32_t>(constants.size()))]);
          p += 4;
        }
      }
    } else if (kind < 16) {
      // Strings.
      uint32_t count = 1 + rnd.below(6);
      for (uint32_t i = 0; i < count; ++i) {
        const char* s = kStrings[rnd.below(std::size(kStrings))];
        size_t len = std::strlen(s) + 1;
        if (!room(len)) {
          p = end;
          break;
        }
        std::memcpy(image + p, s, len);
        p += len;
      }
      while ((p & 1) != 0 && p < end) image[p++] = 0;
    } else if (kind < 18) {
      // A lookup table of 16-bit values with a steady step.
      uint32_t count = 8 + rnd.below(56);
      uint16_t v = static_cast<uint16_t>(rnd.below(4096));
      uint16_t step = static_cast<uint16_t>(1 + rnd.below(64));
      for (uint32_t i = 0; i < count; ++i) {
        put16(v);
        v = static_cast<uint16_t>(v + step + (rnd.below(8) == 0 ? rnd.below(4) : 0));
      }
    } else {
      // Initialised data: small random values.
      uint32_t count = 16 + rnd.below(64);
      for (uint32_t i = 0; i < count && p < end; ++i) image[p++] = static_cast<uint8_t>(rnd.below(rnd.below(2) ? 16 : 256));
      if ((p & 1) != 0 && p < end) image[p++] = 0;
    }
  }
}

}  // namespace

std::optional<std::vector<uint8_t>> parseHex(std::string_view text) {
  std::vector<uint8_t> out;
  int half = -1;
  for (char c : text) {
    int v;
    if (c >= '0' && c <= '9') v = c - '0';
    else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
    else if ((c == ' ' || c == ':' || c == '-') && half < 0) continue;
    else return std::nullopt;
    if (half < 0) {
      half = v;
    } else {
      out.push_back(static_cast<uint8_t>((half << 4) | v));
      half = -1;
    }
  }
  if (half >= 0 || out.empty()) return std::nullopt;
  return out;
}

MadeImage makeImage(const ImageSpec& recipe) {
  MadeImage r;
  const uint16_t cls = recipe.usModelClass;
  if (cls > 1) {
    r.error = "the model class must be 0 or 1";
    return r;
  }
  const size_t idLength = idLengthForClass(cls);
  if (recipe.hwid.size() != idLength) {
    r.error = formatText("model class %u needs a HWID of %zu bytes, %zu given", unsigned{cls}, idLength, recipe.hwid.size());
    return r;
  }
  auto printable = [](const std::string& s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
  };
  if (recipe.version.size() != kVersionLength || !printable(recipe.version)) {
    r.error = "the firmware version must be 6 printable ASCII characters";
    return r;
  }
  if (recipe.timeStamp.size() != 12 || recipe.extTimeStamp.size() != 8 || !printable(recipe.timeStamp) ||
      !printable(recipe.extTimeStamp)) {
    r.error = "time stamps must be 12 and 8 printable ASCII characters";
    return r;
  }
  if (recipe.size < kMinImageSize || recipe.size > kMaxImageSize || recipe.size % kImageUnit != 0) {
    r.error = formatText("the image size must be a multiple of 512 from %zu to %zu bytes", kMinImageSize, kMaxImageSize);
    return r;
  }

  Random rnd(recipe.seed ? recipe.seed : deriveSeed(recipe));
  std::vector<uint8_t>& img = r.image;
  img.assign(recipe.size, 0xFF);

  // Where the identity block goes and which bytes are code.
  size_t h;
  size_t codeBegin;
  size_t codeLimit;
  if (cls == 0) {
    h = 512;
    codeBegin = 1024;
    codeLimit = recipe.size;
  } else {
    h = recipe.size - 512;
    codeBegin = 0;
    codeLimit = h;
  }
  // Code fills 60 to 85 per cent of the room; the rest stays FFh.
  const size_t room = codeLimit - codeBegin;
  size_t codeEnd = codeBegin + (room * (60 + rnd.below(26)) / 100 & ~size_t{15});
  codeEnd = std::max(codeEnd, codeBegin + 64);

  if (cls == 0) {
    // Reset branch, then the identity block pointer, then vectors.
    putLe16(&img[0], 0xE000 | 0x0FE);
    putLe16(&img[2], 0x46C0);
    std::memcpy(&img[4], "ZVFW", 4);
    putLe32(&img[8], static_cast<uint32_t>(h - 48));
    for (size_t v = 12; v + 4 <= 48; v += 4) putLe32(&img[v], 0x00000400u + static_cast<uint32_t>(rnd.below(0x8000)) * 2 + 1);
    for (size_t v = 48; v + 4 <= h; v += 4) putLe32(&img[v], 0x00000401u + static_cast<uint32_t>(rnd.below(64)) * 0x40);
    std::fill(img.begin() + h, img.begin() + codeBegin, 0x00);
    const char* info = "Build info: controller main firmware";
    std::memcpy(&img[h + 128], info, std::strlen(info));
  }
  fillCode(img.data(), codeBegin, codeEnd - 1, rnd);

  // Main check byte: the last byte that is not FFh; it makes the code sum to
  // 0 modulo 256 (or 1 when that would be FFh).
  {
    uint32_t sum = 0;
    for (size_t i = codeBegin; i < codeEnd - 1; ++i) sum += img[i];
    uint8_t check = static_cast<uint8_t>(0x100 - (sum & 0xFF));
    if (check == 0xFF) check = 0xFE;
    img[codeEnd - 1] = check;
  }

  // Identity block.
  std::fill(img.begin() + h, img.begin() + h + kIdentityBlockSize, 0x00);
  std::copy(recipe.hwid.begin(), recipe.hwid.end(), img.begin() + h);
  std::memcpy(&img[h + identityVersionOffset(cls)], recipe.version.data(), kVersionLength);
  putLe32(&img[h + kIdentityLengthOffset], static_cast<uint32_t>(recipe.size));
  const size_t t = timeStampBase(h, cls);
  std::memcpy(&img[t + 48], recipe.timeStamp.data(), 12);
  std::memcpy(&img[t + 64], recipe.extTimeStamp.data(), 8);
  uint32_t sum = 0;
  for (size_t i = 0; i < kIdentityBlockSize - 1; ++i) sum += img[h + i];
  img[h + kIdentityBlockSize - 1] = static_cast<uint8_t>(0x100 - (sum & 0xFF));
  // The byte shown as the HWID check sum (for class 1 it lies past the block).
  img[t + 80] = img[h + kIdentityBlockSize - 1];
  r.ok = true;
  return r;
}

}  // namespace zorv::firmware
