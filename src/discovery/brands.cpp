#include "discovery/brands.h"

#include <algorithm>
#include <cctype>

namespace zorv {

std::span<const std::string_view> acceptedBrands(const Context& ctx) {
  size_t first = std::min<size_t>(ctx.ucBrandFirst, kBrandCount);
  size_t end = std::clamp<size_t>(ctx.ucBrandEnd, first, kBrandCount);
  return std::span<const std::string_view>(kBrandNames).subspan(first, end - first);
}

bool passesBrandCheck(const Context& ctx, std::string_view text) {
  return ctx.fgSkipModelCheck == 1 || startsWithAcceptedBrand(ctx, text);
}

bool startsWithAcceptedBrand(const Context& ctx, std::string_view text) {
  for (std::string_view brand : acceptedBrands(ctx)) {
    if (text.size() < brand.size()) continue;
    bool equal = true;
    for (size_t i = 0; i < brand.size() && equal; ++i) {
      equal = std::toupper(static_cast<unsigned char>(text[i])) == static_cast<unsigned char>(brand[i]);
    }
    if (equal) return true;
  }
  return false;
}

bool applyKnownModel(DriveEntry& entry, std::string_view modelText) {
  bool found = false;
  for (const KnownModel& m : kKnownModels) {
    if (modelText.find(m.fragment) == std::string_view::npos) continue;
    entry.usModelClass = m.classCode;
    entry.strKnownModel = std::string(m.fragment);
    found = true;
  }
  return found;
}

}  // namespace zorv
