#pragma once
// Helpers of the firmware tests: fixture files, liblhasa as the independent
// lh5 decoder, generated inputs and a scratch directory.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace zorv::firmware::test {

std::vector<uint8_t> readFixture(const std::string& relativePath);
std::vector<uint8_t> readFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

// What liblhasa's lh5 decoder makes of a stream when asked for origSize
// bytes (it stops early where it finds the stream broken or ended).
std::vector<uint8_t> lhasaDecode(const std::vector<uint8_t>& stream, size_t origSize);

// Deterministic inputs of different character.
enum class InputKind { Random, Text, Runs, SmallAlphabet, Firmware };
std::vector<uint8_t> generateInput(InputKind kind, size_t size, uint64_t seed);

// A package: header and the stream as given.
std::vector<uint8_t> wrapStream(const std::vector<uint8_t>& stream, uint32_t origSize, uint16_t sum16);

class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace zorv::firmware::test
