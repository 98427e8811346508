#pragma once
// UTF-8 (the project's texts) to and from UTF-16 (the Windows API's), and
// the system's text for an error code. Windows only.

#include <cstddef>
#include <string>

#ifdef _WIN32

namespace zorv {

std::wstring wideText(const std::string& text);

// At most `length` characters, ending early at a NUL.
std::string utf8Text(const wchar_t* text, size_t length);

// The system's message for a GetLastError code, without the trailing period
// and line break; "Windows error N" when the system has none.
std::string windowsErrorText(unsigned long error);

}  // namespace zorv

#endif  // _WIN32
