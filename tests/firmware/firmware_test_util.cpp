#include "firmware_test_util.h"

#include <gtest/gtest.h>
#include <lha_decoder.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <random>

#include "firmware/image_maker.h"
#include "firmware/package.h"

namespace zorv::firmware::test {

std::vector<uint8_t> readFile(const std::filesystem::path& path) {
  std::ifstream f(path, std::ios::binary);
  EXPECT_TRUE(f.good()) << path;
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

std::vector<uint8_t> readFixture(const std::string& relativePath) {
  return readFile(std::filesystem::path(ZORV_FIXTURES_DIR) / relativePath);
}

void writeFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

namespace {

struct StreamSource {
  const std::vector<uint8_t>* data;
  size_t pos = 0;
};

size_t readCallback(void* buf, size_t len, void* user) {
  auto* s = static_cast<StreamSource*>(user);
  size_t n = std::min(len, s->data->size() - s->pos);
  std::memcpy(buf, s->data->data() + s->pos, n);
  s->pos += n;
  return n;
}

}  // namespace

std::vector<uint8_t> lhasaDecode(const std::vector<uint8_t>& stream, size_t origSize) {
  char name[] = "-lh5-";
  LHADecoderType* type = lha_decoder_for_name(name);
  if (type == nullptr) {
    ADD_FAILURE() << "liblhasa has no lh5 decoder";
    return {};
  }
  StreamSource src{&stream};
  LHADecoder* d = lha_decoder_new(type, readCallback, &src, origSize);
  std::vector<uint8_t> out(origSize);
  size_t got = 0;
  while (got < origSize) {
    size_t n = lha_decoder_read(d, out.data() + got, origSize - got);
    if (n == 0) break;
    got += n;
  }
  lha_decoder_free(d);
  out.resize(got);
  return out;
}

std::vector<uint8_t> generateInput(InputKind kind, size_t size, uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::vector<uint8_t> out;
  out.reserve(size);
  switch (kind) {
    case InputKind::Random:
      while (out.size() < size) out.push_back(static_cast<uint8_t>(rng()));
      break;
    case InputKind::Text: {
      static const char* const words[] = {"the ", "drive ", "firmware ", "block ", "of ", "and ", "is ", "read ",
                                          "write ", "sector ", "\r\n", "controller ", "table ", "error ", "0x1F ",
                                          "NAND ", "page ", "retry ", "count ", "value "};
      while (out.size() < size) {
        const char* w = words[rng() % std::size(words)];
        for (const char* c = w; *c && out.size() < size; ++c) out.push_back(static_cast<uint8_t>(*c));
      }
      break;
    }
    case InputKind::Runs:
      while (out.size() < size) {
        uint8_t b = static_cast<uint8_t>(rng() % 4 == 0 ? 0xFF : rng());
        size_t len = 1 + rng() % 700;
        for (size_t i = 0; i < len && out.size() < size; ++i) out.push_back(b);
      }
      break;
    case InputKind::SmallAlphabet:
      while (out.size() < size) out.push_back(static_cast<uint8_t>('a' + rng() % 3));
      break;
    case InputKind::Firmware: {
      ImageSpec recipe;
      recipe.usModelClass = static_cast<uint16_t>(seed & 1);
      recipe.hwid.assign(idLengthForClass(recipe.usModelClass), 0x5A);
      recipe.version = "T1E5T0";
      recipe.size = std::max<size_t>(kMinImageSize, (size + 511) & ~size_t{511});
      recipe.seed = seed + 1;
      MadeImage made = makeImage(recipe);
      out = made.image;
      out.resize(size);
      break;
    }
  }
  return out;
}

std::vector<uint8_t> wrapStream(const std::vector<uint8_t>& stream, uint32_t origSize, uint16_t sum16) {
  QzHeader h;
  h.origSize = origSize;
  h.sum16 = sum16;
  h.compSize = static_cast<uint32_t>(stream.size());
  auto head = encodeQzHeader(h);
  std::vector<uint8_t> out(head.begin(), head.end());
  out.insert(out.end(), stream.begin(), stream.end());
  return out;
}

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "zorv-fw-XXXXXX").string();
  char* made = mkdtemp(tmpl.data());
  EXPECT_NE(made, nullptr);
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

}  // namespace zorv::firmware::test
