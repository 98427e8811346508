#include "discovery/identify_strings.h"

#include <algorithm>

#include "transport/byte_order.h"
#include "transport/message.h"

namespace zorv {

std::string swappedField(const IdentifyData& id, size_t offset, size_t len) {
  std::string out;
  if (offset >= id.size()) return out;
  len = std::min(len, id.size() - offset) & ~size_t{1};
  out.resize(len);
  for (size_t i = 0; i < len; i += 2) {
    out[i] = static_cast<char>(id[offset + i + 1]);
    out[i + 1] = static_cast<char>(id[offset + i]);
  }
  return out;
}

std::string cutAtNul(std::string text) {
  size_t nul = text.find('\0');
  if (nul != std::string::npos) text.resize(nul);
  return text;
}

std::string modelField(const IdentifyData& id) { return cutAtNul(swappedField(id, 54, 40)); }

std::string modelText(const IdentifyData& id) {
  std::string text = modelField(id);
  std::erase(text, ' ');
  return text;
}

std::string serialText(const IdentifyData& id) {
  std::string text = cutAtNul(swappedField(id, 20, 20));
  // Pairs are removed left to right, so an odd run keeps one space.
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == ' ' && i + 1 < text.size() && text[i + 1] == ' ') {
      ++i;
      continue;
    }
    out.push_back(text[i]);
  }
  return out;
}

std::string firmwareText(const IdentifyData& id) { return cutAtNul(swappedField(id, 46, 8)); }

namespace {
uint32_t dword(const IdentifyData& id, size_t word) {
  return le32(&id[word * 2]);
}
}  // namespace

uint32_t sectorsLo(const IdentifyData& id) { return dword(id, 100); }
uint32_t sectorsHi(const IdentifyData& id) { return dword(id, 102); }

std::string capacityText(uint32_t lo, uint32_t hi) {
  auto gib = static_cast<int32_t>((hi << 11) | (lo >> 21));
  return formatText("%dG", gib);
}

uint64_t capacityDecimalGB(uint64_t sectors) {
  // 10^9 / 512 = 1953125 exactly, so this is sectors x 512 / 10^9 without overflow.
  return sectors / 1953125;
}

std::string word135Text(const IdentifyData& id) { return cutAtNul(swappedField(id, 270, 2)); }

}  // namespace zorv
