#include "volume/test_file.h"

namespace zorv {

namespace {

bool endsInSeparator(const std::string& path) {
#ifdef _WIN32
  if (!path.empty() && path.back() == '\\') return true;
#endif
  return !path.empty() && path.back() == '/';
}

std::string joined(const std::string& path, const char* name) {
  if (endsInSeparator(path)) return path + name;
  return path + "/" + name;
}

}  // namespace

std::string testFolderPath(const std::string& mount) { return joined(mount, kTestFolderName); }
std::string testFilePath(const std::string& mount) { return joined(testFolderPath(mount), kTestFileName); }

}  // namespace zorv
