#pragma once
// The system's own handle of an open file or folder, as the volume test holds
// its test file: a descriptor on POSIX systems, a HANDLE on Windows.

namespace zorv {

#ifdef _WIN32
using NativeFile = void*;
inline constexpr NativeFile kNoFile = nullptr;
#else
using NativeFile = int;
inline constexpr NativeFile kNoFile = -1;
#endif

// Closes an open file; kNoFile is left alone.
void closeNativeFile(NativeFile file);

}  // namespace zorv
