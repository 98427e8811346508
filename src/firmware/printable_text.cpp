#include "firmware/printable_text.h"

namespace zorv::firmware {

std::string printableText(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size());
  for (char c : bytes) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '\\') {
      out += "\\\\";
    } else if (u >= 0x20 && u < 0x7F) {
      out += c;
    } else {
      out += "\\x";
      out += kHex[u >> 4];
      out += kHex[u & 0x0F];
    }
  }
  return out;
}

}  // namespace zorv::firmware
