#include "sim/obb_record_area.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "sim/flash_geometry.h"

namespace zorv::sim {

namespace {

constexpr size_t kAreaEnd = 0x1000;

struct Layout {
  uint32_t regionA, badCounts, regionB;
  uint32_t firstExtra, extraCount;
  int loops;
  size_t eccOverLength;
};
constexpr Layout kClass0{0x300, 0x400, 0x700, 0xB00, 3, 8, 2};
constexpr Layout kClass1{0x100, 0x800, 0x700, 0xA00, 6, 16, 6};

// Big-endian value in the last bytes of a field, zeros before it.
void putField(std::span<uint8_t> image, size_t at, size_t length, uint32_t value) {
  for (size_t i = 0; i < length; ++i) {
    size_t fromEnd = length - 1 - i;
    image[at + i] = fromEnd < 4 ? static_cast<uint8_t>(value >> (8 * fromEnd)) : 0;
  }
}

// The plane that column i of the bad-count and timing tables stands for.
std::optional<uint32_t> columnPlane(const FlashModel& flash, size_t i, bool tables) {
  const uint32_t n = static_cast<uint32_t>(i);
  PlaneAddress a;
  if (flash.modelClass() == 1) {
    a = tables ? PlaneAddress{(n >> 1) & 3, (n >> 3) & 7, (n >> 6) & 1, n & 1}
               : PlaneAddress{(n >> 1) % 4, (n >> 3) % 4, (n >> 5) % 2, n % 2};
  } else {
    a = tables ? PlaneAddress{(n >> 1) & 7, (n >> 4) & 3, (n >> 6) & 1, n & 1}
               : PlaneAddress{n % 8, (n >> 3) % 4, (n >> 5) % 2, (n >> 6) % 2};
  }
  return flash.planeIndex(a);
}

}  // namespace

void writeObbRecordArea(const FlashModel& flash, std::span<uint8_t> image) {
  if (image.size() < kAreaEnd) return;
  const bool tarn = flash.modelClass() == 1;
  const Layout& l = tarn ? kClass1 : kClass0;
  const uint64_t seed = flash.seed();
  auto jitter = [&](unsigned k, unsigned range) { return static_cast<uint32_t>((seed >> (k % 60)) % range); };

  // Burn-in stages: every stage done, no error code, passed.
  const size_t a = l.regionA;
  if (tarn) {
    putField(image, a + 4, 44, 0);     // RErrCode
    putField(image, a + 52, 44, 0);    // B_ErrCode
    putField(image, a + 100, 12, 0);   // F_ErrCode
    putField(image, a + 113, 1, 1);    // F_Done
    putField(image, a + 114, 1, 1);    // F_Pass
    putField(image, a + 115, 13, 1);   // B_Go
  } else {
    for (size_t stage : {size_t{4}, size_t{36}, size_t{68}}) {
      putField(image, a + stage, 1, 0);      // error code
      putField(image, a + stage + 1, 1, 1);  // done
    }
    putField(image, a + 6, 26, 1);   // R_Pass
    putField(image, a + 38, 26, 1);  // B_Pass
    putField(image, a + 70, 58, 1);  // F_Pass
    putField(image, a + 249, 1, 1);  // Age Byte
  }
  // Temperatures (degrees C) and currents (mA) of the stages, erase times (us).
  struct Reading {
    uint16_t offset;
    uint8_t length;
    uint32_t base;
  };
  const Reading readings[] = {
      {130, 2, 35},   {132, 2, 410},  {134, 2, 33},   {136, 2, 41},   {138, 22, 440}, {162, 2, 36},
      {164, 2, 420},  {166, 2, 34},   {168, 2, 45},   {170, 14, 455}, {186, 2, 3400}, {188, 2, 2},
      {190, 2, 3050}, {192, 2, 17},   {194, 2, 37},   {196, 2, 505},  {198, 2, 470},  {200, 2, 385},
      {202, 2, 515},  {204, 2, 4},    {206, 2, 44},   {208, 2, 510},  {210, 2, 475},  {212, 2, 390},
      {214, static_cast<uint8_t>(tarn ? 2 : 34), 520},
  };
  unsigned k = 0;
  for (const Reading& r : readings) putField(image, a + r.offset, r.length, r.base + jitter(k++ * 3, 8));

  // Early bad blocks per plane column.
  // Tarn's headings name each plane twice (bit 6 of the column is not part
  // of them); a plane's count goes to the first column that names it.
  std::vector<bool> counted(flash.planeCount(), false);
  uint32_t total = 0;
  for (size_t i = 0; i < 128; ++i) {
    std::optional<uint32_t> plane = columnPlane(flash, i, false);
    if (plane && counted[*plane]) plane.reset();
    if (plane) counted[*plane] = true;
    uint16_t count = plane ? static_cast<uint16_t>(std::min<uint32_t>(flash.earlyBadCount(*plane), 0xFFFE)) : 0xFFFF;
    if (plane) total += count;
    putField(image, l.badCounts + 2 * i, 2, count);
  }
  // Burn-in loops: each found the early bad blocks; a few blocks failed on the way.
  for (int n = 0; n < l.loops; ++n) {
    const size_t b = l.regionB + 16 * static_cast<size_t>(n);
    putField(image, b + 2, 2, total);
    putField(image, b + 4, 2, jitter(static_cast<unsigned>(n) + 1, 2));
    putField(image, b + 6, 2, jitter(static_cast<unsigned>(n) + 7, 2));
    putField(image, b + 8, 2, 0);
    putField(image, b + 10, l.eccOverLength, jitter(static_cast<unsigned>(n) + 13, 3));
  }
  // Per-plane timing tables (us): Pallo the 4K program time average, maximum
  // and minimum; Tarn SLC/TLC erase and page program times.
  const uint32_t bases0[] = {1450, 1700, 1250};
  const uint32_t bases1[] = {180, 1900, 210, 650, 1500, 2600};
  for (uint32_t e = 0; e < l.extraCount; ++e) {
    const uint32_t base = tarn ? bases1[e] : bases0[e];
    for (size_t i = 0; i < 128; ++i) {
      std::optional<uint32_t> plane = columnPlane(flash, i, true);
      uint32_t value = plane ? base + static_cast<uint32_t>((seed >> (*plane % 32)) % 40) : 0xFFFF;
      putField(image, l.firstExtra + 0x100 * e + 2 * i, 2, value);
    }
  }
}

}  // namespace zorv::sim
