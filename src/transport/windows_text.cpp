#ifdef _WIN32

#include "transport/windows_text.h"

#include <windows.h>

#include <climits>

namespace zorv {

std::wstring wideText(const std::string& text) {
  if (text.empty() || text.size() > INT_MAX) return {};
  const int size = static_cast<int>(text.size());
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), size, out.data(), n);
  return out;
}

std::string utf8Text(const wchar_t* text, size_t length) {
  if (!text) return {};
  size_t used = 0;
  while (used < length && used < INT_MAX && text[used] != L'\0') ++used;
  if (used == 0) return {};
  const int size = static_cast<int>(used);
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, size, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, size, out.data(), n, nullptr, nullptr);
  return out;
}

std::string windowsErrorText(unsigned long err) {
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, err,
      MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string out = n && text ? utf8Text(text, n) : std::string();
  if (text) LocalFree(text);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == '.' || out.back() == ' '))
    out.pop_back();
  if (out.empty()) out = "Windows error " + std::to_string(err);
  return out;
}

}  // namespace zorv

#endif  // _WIN32
