#include "firmware/lh5/huffman_code.h"

#include <algorithm>
#include <array>
#include <vector>

#include "firmware/lh5/lh5_format.h"

namespace zorv::lh5 {

namespace {

// Minimum-redundancy code lengths for ascending weights, in place (Moffat and
// Katajainen): w[i] becomes the length of the i-th lightest symbol.
void minimumRedundancy(uint32_t* w, int n) {
  if (n == 1) {
    w[0] = 1;
    return;
  }
  // Pass 1: combine, leaving parent indices in the internal nodes.
  w[0] += w[1];
  int root = 0;
  int leaf = 2;
  for (int next = 1; next < n - 1; ++next) {
    if (leaf >= n || w[root] < w[leaf]) {
      w[next] = w[root];
      w[root++] = static_cast<uint32_t>(next);
    } else {
      w[next] = w[leaf++];
    }
    if (leaf >= n || (root < next && w[root] < w[leaf])) {
      w[next] += w[root];
      w[root++] = static_cast<uint32_t>(next);
    } else {
      w[next] += w[leaf++];
    }
  }
  // Pass 2: depths of the internal nodes.
  w[n - 2] = 0;
  for (int next = n - 3; next >= 0; --next) w[next] = w[w[next]] + 1;
  // Pass 3: depths of the leaves.
  int available = 1;
  int used = 0;
  uint32_t depth = 0;
  root = n - 2;
  int next = n - 1;
  while (available > 0) {
    while (root >= 0 && w[root] == depth) {
      ++used;
      --root;
    }
    while (available > used) {
      w[next--] = depth;
      --available;
    }
    available = 2 * used;
    ++depth;
    used = 0;
  }
}

}  // namespace

int buildCodeLengths(std::span<const uint32_t> freq, std::span<uint8_t> lengths, int maxLength) {
  const int n = static_cast<int>(freq.size());
  std::fill(lengths.begin(), lengths.end(), 0);
  std::vector<std::pair<uint32_t, int>> order;
  order.reserve(freq.size());
  for (int i = 0; i < n; ++i)
    if (freq[i] != 0) order.emplace_back(freq[i], i);
  const int used = static_cast<int>(order.size());
  if (used < 2) return used;

  std::vector<uint32_t> w(order.size());
  for (int shift = 0;; ++shift) {
    // Flattening the weights until the deepest code fits: rarely needed,
    // and it costs little since only long codes of rare symbols change.
    std::vector<std::pair<uint32_t, int>> scaled = order;
    for (auto& e : scaled) e.first = std::max<uint32_t>(1, e.first >> shift);
    std::sort(scaled.begin(), scaled.end());
    for (int i = 0; i < used; ++i) w[i] = scaled[i].first;
    minimumRedundancy(w.data(), used);
    if (static_cast<int>(w[0]) <= maxLength) {
      for (int i = 0; i < used; ++i) lengths[scaled[i].second] = static_cast<uint8_t>(w[i]);
      return used;
    }
  }
}

void buildCanonicalCodes(std::span<const uint8_t> lengths, std::span<uint16_t> codes) {
  std::array<uint32_t, kMaxCodeLength + 2> count{};
  for (uint8_t len : lengths) ++count[len];
  count[0] = 0;
  std::array<uint32_t, kMaxCodeLength + 2> next{};
  uint32_t code = 0;
  for (int len = 1; len <= kMaxCodeLength; ++len) {
    code = (code + count[len - 1]) << 1;
    next[len] = code;
  }
  for (size_t sym = 0; sym < lengths.size(); ++sym) {
    int len = lengths[sym];
    codes[sym] = len ? static_cast<uint16_t>(next[len]++) : 0;
  }
}

}  // namespace zorv::lh5
