#pragma once
// The brand list, the accepted range and the known-model list: which drives
// the tool works on, and which controller generation each one is.

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "transport/context.h"

namespace zorv {

constexpr int kBrandCount = 5;
// 0 the maker's abbreviation, 1 the maker's company name, 2-4 the brands the
// controller family is also sold under.
inline constexpr std::array<std::string_view, kBrandCount> kBrandNames = {"VXA", "VXATEK", "ORBENNE", "KALDRIX",
                                                                          "MERIDO"};

struct KnownModel {
  std::string_view fragment;
  uint16_t classCode;  // 0 or 1: the controller generation
};

constexpr int kKnownModelCount = 16;
inline constexpr std::array<KnownModel, kKnownModelCount> kKnownModels = {{
    {"PA128", 0}, {"PA256", 0}, {"PA512", 0}, {"PA1T", 0},  {"PALLO", 0}, {"PM240", 0},
    {"PM480", 0}, {"TA256", 1}, {"TA512", 1}, {"TA1T", 1},  {"TA2T", 1},  {"TARN", 1},
    {"TM500", 1}, {"TM1T", 1},  {"TM2T", 1},  {"TX4T", 1},
}};

// The brands with ucBrandFirst <= i < ucBrandEnd, in list order. Range bytes
// beyond the list (a badly patched copy) are clamped to it.
std::span<const std::string_view> acceptedBrands(const Context& ctx);

// True when the first characters of text, upper-cased, equal an accepted
// brand word, or when fgSkipModelCheck is set.
bool passesBrandCheck(const Context& ctx, std::string_view text);
// The same without the switch: whether text names a drive of the family.
bool startsWithAcceptedBrand(const Context& ctx, std::string_view text);

// Sets usModelClass and strKnownModel from the last known-model fragment that
// occurs in modelText. Returns false (and leaves both fields alone) when none does.
bool applyKnownModel(DriveEntry& entry, std::string_view modelText);

}  // namespace zorv
