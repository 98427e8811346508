#pragma once
// Text that comes from a package or a drive (model names, versions) made safe
// to show: such bytes reach terminals and windows, and a control character
// among them would be obeyed (an escape sequence, a bell) instead of shown.

#include <string>
#include <string_view>

namespace zorv::firmware {

// Printable ASCII as it is; every other byte as "\xHH" (upper-case hex) and
// the backslash as "\\", so that the shown text names each byte once.
std::string printableText(std::string_view bytes);

}  // namespace zorv::firmware
