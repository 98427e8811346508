#pragma once
// UTF-8 (the project's texts) to and from UTF-16 (the Windows API's).

#include <cstddef>
#include <string>

namespace zorv::platform {

std::wstring wideText(const std::string& text);

// At most `length` characters, ending early at a NUL.
std::string utf8Text(const wchar_t* text, size_t length);

}  // namespace zorv::platform
