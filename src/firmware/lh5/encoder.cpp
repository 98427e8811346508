#include "firmware/lh5/encoder.h"

#include <algorithm>
#include <array>
#include <limits>

#include "firmware/lh5/bit_writer.h"
#include "firmware/lh5/huffman_code.h"
#include "firmware/lh5/lh5_format.h"
#include "firmware/lh5/match_finder.h"

namespace zorv::lh5 {

namespace {

// One literal (code < 256) or one copy (code 256 + length - 3, distance - 1).
struct Token {
  uint16_t code;
  uint16_t distance;
};

inline int positionCode(uint32_t distance) { return distance == 0 ? 0 : 32 - __builtin_clz(distance); }
inline int extraBits(int positionCodeValue) { return positionCodeValue > 1 ? positionCodeValue - 1 : 0; }

struct Frequencies {
  std::array<uint32_t, kNC> c{};
  std::array<uint32_t, kNP> p{};

  void add(const Token& t) {
    ++c[t.code];
    if (t.code >= kFirstMatchCode) ++p[positionCode(t.distance)];
  }
  void add(const Frequencies& o) {
    for (int i = 0; i < kNC; ++i) c[i] += o.c[i];
    for (int i = 0; i < kNP; ++i) p[i] += o.p[i];
  }
};

// The codes of one block and what it costs to write them.
struct BlockPlan {
  std::array<uint8_t, kNC> clen{};
  std::array<uint16_t, kNC> ccode{};
  std::array<uint8_t, kNT> tlen{};
  std::array<uint16_t, kNT> tcode{};
  std::array<uint8_t, kNP> plen{};
  std::array<uint16_t, kNP> pcode{};
  int cSingle = -1;  // the block's only literal/length symbol, or -1
  int tSingle = -1;
  int pSingle = -1;
  uint64_t bits = 0;  // the whole block, header included
};

// The code-length alphabet's view of the literal/length lengths: each used
// length is symbol length + 2; runs of unused symbols are 0 (one), 1 (3 to
// 18, with 4 bits) or 2 (20 to 531, with 9 bits). A run of 19 is one plus
// eighteen.
template <class Emit>
void forEachLengthSymbol(const std::array<uint8_t, kNC>& clen, Emit&& emit) {
  int n = kNC;
  while (n > 0 && clen[n - 1] == 0) --n;
  int i = 0;
  while (i < n) {
    int k = clen[i++];
    if (k != 0) {
      emit(k + 2, 0, 0u);
      continue;
    }
    int run = 1;
    while (i < n && clen[i] == 0) {
      ++i;
      ++run;
    }
    if (run <= 2) {
      for (int r = 0; r < run; ++r) emit(0, 0, 0u);
    } else if (run <= 18) {
      emit(1, 4, static_cast<uint32_t>(run - 3));
    } else if (run == 19) {
      emit(0, 0, 0u);
      emit(1, 4, 15u);
    } else {
      emit(2, kCBits, static_cast<uint32_t>(run - 20));
    }
  }
}

int usedLength(const uint8_t* len, int nn) {
  while (nn > 0 && len[nn - 1] == 0) --nn;
  return nn;
}

// Bits of a code-length or position table written in full.
uint64_t shortTableBits(const uint8_t* len, int nn, int countBits, int special) {
  int n = usedLength(len, nn);
  uint64_t bits = countBits;
  for (int i = 0; i < n;) {
    int k = len[i++];
    bits += k <= 6 ? 3 : static_cast<uint64_t>(k - 3);
    if (i == special) {
      bits += 2;
      while (i < 6 && i < n && len[i] == 0) ++i;
    }
  }
  return bits;
}

void writeShortTable(BitWriter& w, const uint8_t* len, int nn, int countBits, int special) {
  int n = usedLength(len, nn);
  w.put(countBits, static_cast<uint32_t>(n));
  for (int i = 0; i < n;) {
    int k = len[i++];
    if (k <= 6) {
      w.put(3, static_cast<uint32_t>(k));
    } else {
      w.put(k - 3, (uint32_t{1} << (k - 3)) - 2);  // 7 and then k - 7 ones and a zero
    }
    if (i == special) {
      int from = i;
      while (i < 6 && i < n && len[i] == 0) ++i;
      w.put(2, static_cast<uint32_t>(i - from));
    }
  }
}

BlockPlan planBlock(const Frequencies& f) {
  BlockPlan plan;
  uint64_t bits = 16;

  int cUsed = buildCodeLengths(f.c, plan.clen);
  if (cUsed < 2) {
    plan.cSingle = 0;
    for (int i = 0; i < kNC; ++i)
      if (f.c[i]) plan.cSingle = i;
    bits += 2 * kTBits + 2 * kCBits;
  } else {
    buildCanonicalCodes(plan.clen, plan.ccode);
    std::array<uint32_t, kNT> tfreq{};
    forEachLengthSymbol(plan.clen, [&](int sym, int, uint32_t) { ++tfreq[sym]; });
    int tUsed = buildCodeLengths(tfreq, plan.tlen);
    uint64_t tBodyBits = 0;
    if (tUsed < 2) {
      plan.tSingle = 0;
      for (int i = 0; i < kNT; ++i)
        if (tfreq[i]) plan.tSingle = i;
      bits += 2 * kTBits;
    } else {
      buildCanonicalCodes(plan.tlen, plan.tcode);
      bits += shortTableBits(plan.tlen.data(), kNT, kTBits, kTSpecial);
    }
    forEachLengthSymbol(plan.clen, [&](int sym, int extra, uint32_t) { tBodyBits += plan.tlen[sym] + extra; });
    bits += kCBits + tBodyBits;
    for (int i = 0; i < kNC; ++i) bits += uint64_t{f.c[i]} * plan.clen[i];
  }

  int pUsed = buildCodeLengths(f.p, plan.plen);
  if (pUsed < 2) {
    plan.pSingle = 0;
    for (int i = 0; i < kNP; ++i)
      if (f.p[i]) plan.pSingle = i;
    bits += 2 * kPBits;
  } else {
    buildCanonicalCodes(plan.plen, plan.pcode);
    bits += shortTableBits(plan.plen.data(), kNP, kPBits, -1);
    for (int i = 0; i < kNP; ++i) bits += uint64_t{f.p[i]} * plan.plen[i];
  }
  for (int i = 0; i < kNP; ++i) bits += uint64_t{f.p[i]} * extraBits(i);
  plan.bits = bits;
  return plan;
}

void writeBlock(BitWriter& w, const BlockPlan& plan, std::span<const Token> tokens) {
  w.put(16, static_cast<uint32_t>(tokens.size()));
  if (plan.cSingle >= 0) {
    w.put(kTBits, 0);
    w.put(kTBits, 0);
    w.put(kCBits, 0);
    w.put(kCBits, static_cast<uint32_t>(plan.cSingle));
  } else {
    if (plan.tSingle >= 0) {
      w.put(kTBits, 0);
      w.put(kTBits, static_cast<uint32_t>(plan.tSingle));
    } else {
      writeShortTable(w, plan.tlen.data(), kNT, kTBits, kTSpecial);
    }
    w.put(kCBits, static_cast<uint32_t>(usedLength(plan.clen.data(), kNC)));
    forEachLengthSymbol(plan.clen, [&](int sym, int extra, uint32_t value) {
      w.put(plan.tlen[sym], plan.tcode[sym]);
      w.put(extra, value);
    });
  }
  if (plan.pSingle >= 0) {
    w.put(kPBits, 0);
    w.put(kPBits, static_cast<uint32_t>(plan.pSingle));
  } else {
    writeShortTable(w, plan.plen.data(), kNP, kPBits, -1);
  }
  for (const Token& t : tokens) {
    w.put(plan.clen[t.code], plan.ccode[t.code]);
    if (t.code >= kFirstMatchCode) {
      int j = positionCode(t.distance);
      w.put(plan.plen[j], plan.pcode[j]);
      w.put(extraBits(j), t.distance);
    }
  }
}

// Block boundaries (token indices, ascending, ending with tokens.size()) that
// minimise the coded size over blocks made of whole chunks.
std::vector<size_t> splitBlocks(std::span<const Token> tokens) {
  const size_t n = tokens.size();
  if (n == 0) return {0};
  const size_t chunk = std::clamp<size_t>(n / 256, 512, 4096);
  // Blocks of up to 32 chunks: longer blocks rarely pay, and the search stays
  // linear in the input.
  const size_t maxChunks = std::min<size_t>(32, 65535 / chunk);
  const size_t chunks = (n + chunk - 1) / chunk;
  std::vector<Frequencies> freq(chunks);
  for (size_t i = 0; i < n; ++i) freq[i / chunk].add(tokens[i]);

  std::vector<uint64_t> best(chunks + 1, std::numeric_limits<uint64_t>::max());
  std::vector<size_t> from(chunks + 1, 0);
  best[0] = 0;
  for (size_t end = 1; end <= chunks; ++end) {
    Frequencies acc;
    for (size_t k = 1; k <= maxChunks && k <= end; ++k) {
      acc.add(freq[end - k]);
      uint64_t cost = best[end - k] + planBlock(acc).bits;
      if (cost < best[end]) {
        best[end] = cost;
        from[end] = end - k;
      }
    }
  }
  std::vector<size_t> bounds;
  for (size_t e = chunks; e > 0; e = from[e]) bounds.push_back(std::min(n, e * chunk));
  std::reverse(bounds.begin(), bounds.end());
  return bounds;
}

void pushMatch(std::vector<Token>& out, uint32_t length, uint32_t distance) {
  out.push_back(Token{static_cast<uint16_t>(kFirstMatchCode + length - kMinMatch), static_cast<uint16_t>(distance)});
}

// Greedy with one step of lookahead: a match is put off by a literal when
// the next position starts a longer one.
std::vector<Token> lazyParse(std::span<const uint8_t> in, const EncoderOptions& o) {
  std::vector<Token> out;
  out.reserve(in.size() / 2 + 16);
  MatchFinder finder(in, o.maxChain, static_cast<uint32_t>(o.niceLength));
  size_t p = 0;
  while (p < in.size()) {
    Match m = finder.longest(p);
    if (m.length < kMinMatch) {
      out.push_back(Token{in[p], 0});
      ++p;
      continue;
    }
    while (m.length < static_cast<uint32_t>(o.niceLength) && p + 1 < in.size()) {
      Match next = finder.longest(p + 1);
      if (next.length <= m.length) break;
      out.push_back(Token{in[p], 0});
      ++p;
      m = next;
    }
    pushMatch(out, m.length, m.distance);
    p += m.length;
  }
  return out;
}

// Prices in 1/16 bit of literals and copies, from the codes of an earlier
// pass over the same region.
struct Prices {
  std::array<uint32_t, kNC> c{};
  std::array<uint32_t, kNP> p{};  // including the extra bits

  static Prices from(const BlockPlan& plan) {
    Prices pr;
    // A symbol the earlier pass did not use gets a long code's price.
    for (int i = 0; i < kNC; ++i) pr.c[i] = 16 * (plan.cSingle >= 0 ? (i == plan.cSingle ? 1 : 12) : plan.clen[i] ? plan.clen[i] : 12);
    for (int i = 0; i < kNP; ++i) {
      uint32_t len = plan.pSingle >= 0 ? (i == plan.pSingle ? 1 : 8) : plan.plen[i] ? plan.plen[i] : 8;
      pr.p[i] = 16 * (len + extraBits(i));
    }
    return pr;
  }
};

// Shortest path over the positions with the prices of the block that covered
// each position in an earlier pass.
std::vector<Token> optimalParse(std::span<const uint8_t> in, const EncoderOptions& o, const std::vector<Prices>& prices,
                                const std::vector<size_t>& regionEnds) {
  const size_t n = in.size();
  std::vector<uint32_t> cost(n + 1, std::numeric_limits<uint32_t>::max());
  std::vector<uint16_t> stepLen(n + 1, 0);
  std::vector<uint16_t> stepDist(n + 1, 0);
  cost[0] = 0;
  MatchFinder finder(in, o.maxChain, static_cast<uint32_t>(o.niceLength));
  Match matches[kMaxMatch];
  size_t region = 0;
  for (size_t p = 0; p < n; ++p) {
    while (region + 1 < regionEnds.size() && p >= regionEnds[region]) ++region;
    const Prices& pr = prices[std::min(region, prices.size() - 1)];
    const uint32_t base = cost[p];
    uint32_t lit = base + pr.c[in[p]];
    if (lit < cost[p + 1]) {
      cost[p + 1] = lit;
      stepLen[p + 1] = 1;
    }
    size_t count = finder.all(p, matches, kMaxMatch);
    if (count == 0) continue;
    uint32_t prevLen = kMinMatch - 1;
    for (size_t k = 0; k < count; ++k) {
      const Match& m = matches[k];
      const uint32_t pc = pr.p[positionCode(m.distance)];
      for (uint32_t len = prevLen + 1; len <= m.length; ++len) {
        uint32_t c = base + pc + pr.c[kFirstMatchCode + len - kMinMatch];
        if (c < cost[p + len]) {
          cost[p + len] = c;
          stepLen[p + len] = static_cast<uint16_t>(len);
          stepDist[p + len] = static_cast<uint16_t>(m.distance);
        }
      }
      prevLen = m.length;
    }
    // Inside a long copy every position repeats the same choice: take it
    // whole rather than pricing each of its suffixes.
    if (matches[count - 1].length >= static_cast<uint32_t>(o.niceLength)) {
      size_t end = p + matches[count - 1].length;
      for (size_t q = p + 1; q < end; ++q) {
        if (cost[q] != std::numeric_limits<uint32_t>::max() && q + 1 <= n) {
          // Keep literal steps valid for the positions skipped.
          uint32_t l = cost[q] + pr.c[in[q]];
          if (l < cost[q + 1]) {
            cost[q + 1] = l;
            stepLen[q + 1] = 1;
          }
        }
      }
      p = end - 1;
    }
  }
  std::vector<Token> rev;
  for (size_t q = n; q > 0;) {
    uint16_t len = stepLen[q];
    if (len <= 1) {
      rev.push_back(Token{in[q - 1], 0});
      q -= 1;
    } else {
      Token t;
      t.code = static_cast<uint16_t>(kFirstMatchCode + len - kMinMatch);
      t.distance = stepDist[q];
      rev.push_back(t);
      q -= len;
    }
  }
  std::reverse(rev.begin(), rev.end());
  return rev;
}

struct Encoded {
  std::vector<Token> tokens;
  std::vector<size_t> bounds;  // token indices
  std::vector<BlockPlan> plans;
  uint64_t bits = 0;
};

Encoded planTokens(std::vector<Token> tokens) {
  Encoded e;
  e.tokens = std::move(tokens);
  e.bounds = splitBlocks(e.tokens);
  size_t start = 0;
  for (size_t end : e.bounds) {
    Frequencies f;
    for (size_t i = start; i < end; ++i) f.add(e.tokens[i]);
    e.plans.push_back(planBlock(f));
    e.bits += e.plans.back().bits;
    start = end;
  }
  return e;
}

size_t tokenLength(const Token& t) { return t.code < kFirstMatchCode ? 1 : t.code - kFirstMatchCode + kMinMatch; }

}  // namespace

std::vector<uint8_t> encode(std::span<const uint8_t> input, const EncoderOptions& options) {
  std::vector<uint8_t> out;
  if (input.empty()) return out;
  Encoded best = planTokens(lazyParse(input, options));

  if (options.optimalParse) {
    for (int pass = 0; pass < 2; ++pass) {
      std::vector<Prices> prices;
      std::vector<size_t> regionEnds;
      size_t start = 0;
      size_t pos = 0;
      for (size_t b = 0; b < best.bounds.size(); ++b) {
        for (size_t i = start; i < best.bounds[b]; ++i) pos += tokenLength(best.tokens[i]);
        start = best.bounds[b];
        prices.push_back(Prices::from(best.plans[b]));
        regionEnds.push_back(pos);
      }
      Encoded next = planTokens(optimalParse(input, options, prices, regionEnds));
      if (next.bits >= best.bits) break;
      best = std::move(next);
    }
  }

  out.reserve(best.bits / 8 + 8);
  BitWriter w(out);
  size_t start = 0;
  for (size_t b = 0; b < best.bounds.size(); ++b) {
    writeBlock(w, best.plans[b], std::span<const Token>(best.tokens).subspan(start, best.bounds[b] - start));
    start = best.bounds[b];
  }
  w.flush();
  return out;
}

}  // namespace zorv::lh5
