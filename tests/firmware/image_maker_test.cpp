#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "firmware/image_maker.h"
#include "firmware/lh5/encoder.h"
#include "firmware/package.h"

namespace zorv::firmware::test {
namespace {

// The download's image check, step by step as the drive-side procedure reads
// the image: block position, block sum, HWID over its length, version bytes.
struct Checked {
  bool found = false;
  uint8_t sum = 0xFF;
  std::vector<uint8_t> hwid;
  std::string version;
  std::string timeStamp;
  std::string extTimeStamp;
  uint8_t hwidCheck = 0;
};

Checked checkLikeTheDownload(const std::vector<uint8_t>& img, uint16_t cls) {
  Checked c;
  size_t h;
  if (cls == 0) {
    uint32_t v = img[8] | (img[9] << 8) | (img[10] << 16) | (uint32_t{img[11]} << 24);
    h = 48 + v;
  } else {
    h = img.size() - 512;
  }
  if (h + 81 > img.size()) return c;
  c.found = true;
  uint32_t sum = 0;
  for (size_t i = 0; i < 81; ++i) sum += img[h + i];
  c.sum = static_cast<uint8_t>(sum);
  size_t idLen = cls == 0 ? 9 : 16;
  c.hwid.assign(img.begin() + h, img.begin() + h + idLen);
  size_t v = h + (cls == 0 ? 32 : 40);
  c.version.assign(img.begin() + v, img.begin() + v + 6);
  size_t t = cls == 0 ? h : img.size() - 464;
  c.timeStamp.assign(img.begin() + t + 48, img.begin() + t + 60);
  c.extTimeStamp.assign(img.begin() + t + 64, img.begin() + t + 72);
  c.hwidCheck = img[t + 80];
  return c;
}

TEST(MakeImage, ImagesPassTheDownloadCheck) {
  for (uint16_t cls : {uint16_t{0}, uint16_t{1}}) {
    for (size_t size : {size_t{4096}, size_t{65536}, size_t{256 * 1024}}) {
      SCOPED_TRACE("class " + std::to_string(cls) + " size " + std::to_string(size));
      ImageSpec recipe;
      recipe.usModelClass = cls;
      recipe.hwid.resize(idLengthForClass(cls));
      for (size_t i = 0; i < recipe.hwid.size(); ++i) recipe.hwid[i] = static_cast<uint8_t>(0xC0 + i);
      recipe.version = "S1T2A3";
      recipe.size = size;
      MadeImage made = makeImage(recipe);
      ASSERT_TRUE(made.ok) << made.error;
      ASSERT_EQ(made.image.size(), size);
      Checked c = checkLikeTheDownload(made.image, cls);
      ASSERT_TRUE(c.found);
      EXPECT_EQ(c.sum, 0);
      EXPECT_EQ(c.hwid, recipe.hwid);
      EXPECT_EQ(c.version, "S1T2A3");
      EXPECT_EQ(c.timeStamp, recipe.timeStamp);
      EXPECT_EQ(c.extTimeStamp, recipe.extTimeStamp);
      auto ident = readImageIdentity(made.image, cls);
      ASSERT_TRUE(ident);
      EXPECT_TRUE(ident->sumOk());
      EXPECT_EQ(ident->version, "S1T2A3");
      // The length a drive waits for before it activates the image.
      const uint8_t* length = &made.image[ident->position + 20];
      EXPECT_EQ(length[0] | length[1] << 8 | length[2] << 16 | length[3] << 24, static_cast<int>(size));
      EXPECT_EQ(ident->declaredLength, size);
      // Read the same from the stored form, as packages hold class 0 images.
      std::vector<uint8_t> stored = made.image;
      if (cls == 0)
        for (uint8_t& b : stored) b = static_cast<uint8_t>(~b);
      auto fromStored = readImageIdentity(stored, cls, ImageForm::Stored);
      ASSERT_TRUE(fromStored);
      EXPECT_EQ(fromStored->position, ident->position);
      EXPECT_EQ(fromStored->block, ident->block);
      EXPECT_EQ(fromStored->hwid, ident->hwid);
      EXPECT_EQ(c.hwidCheck, made.image[ident->position + 80]);
      // FFh padding at the end of the code, and a main check byte before it.
      auto lastNonFF = std::find_if(made.image.rbegin(), made.image.rend(), [](uint8_t b) { return b != 0xFF; });
      ASSERT_NE(lastNonFF, made.image.rend());
      if (cls == 0) {
        EXPECT_GT(std::count(made.image.end() - 512, made.image.end(), 0xFF), 500);
      }
      // Same recipe, same bytes.
      EXPECT_EQ(makeImage(recipe).image, made.image);
    }
  }
}

TEST(MakeImage, ContentCompressesLikeFirmware) {
  ImageSpec recipe;
  recipe.hwid.assign(9, 0x31);
  recipe.version = "V00001";
  recipe.size = 128 * 1024;
  MadeImage made = makeImage(recipe);
  ASSERT_TRUE(made.ok);
  size_t packed = lh5::encode(made.image, {.maxChain = 128, .niceLength = 128, .optimalParse = false}).size();
  // Neither noise nor padding: somewhere between a quarter and three quarters.
  EXPECT_GT(packed, made.image.size() / 4);
  EXPECT_LT(packed, made.image.size() * 3 / 4);
}

TEST(MakeImage, RefusesBadSpecs) {
  ImageSpec good;
  good.hwid.assign(9, 1);
  good.version = "ABCDEF";
  good.size = 8192;
  ASSERT_TRUE(makeImage(good).ok);
  struct Case {
    const char* name;
    std::function<void(ImageSpec&)> change;
  };
  const Case cases[] = {
      {"class 2", [](ImageSpec& s) { s.usModelClass = 2; }},
      {"HWID of 16 bytes for class 0", [](ImageSpec& s) { s.hwid.assign(16, 1); }},
      {"short version", [](ImageSpec& s) { s.version = "ABC"; }},
      {"version with a control character", [](ImageSpec& s) { s.version = "ABC\nEF"; }},
      {"size not whole units", [](ImageSpec& s) { s.size = 8000; }},
      {"size too small", [](ImageSpec& s) { s.size = 2048; }},
      {"size too large", [](ImageSpec& s) { s.size = size_t{128} << 20; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ImageSpec s = good;
    c.change(s);
    MadeImage m = makeImage(s);
    EXPECT_FALSE(m.ok);
    EXPECT_FALSE(m.error.empty());
  }
}

TEST(IdentityBlock, ShortImagesHaveNone) {
  std::vector<uint8_t> img(600, 0);
  // Class 0: the block pointer says 600 - 48 - 80: the block would end one
  // byte past the image.
  uint32_t v = 600 - 48 - 80;
  std::memcpy(&img[8], &v, 4);
  EXPECT_FALSE(identityBlockPosition(img, 0));
  v -= 1;
  std::memcpy(&img[8], &v, 4);
  EXPECT_EQ(identityBlockPosition(img, 0), 600u - 81);
  v = 0xFFFFFFFFu;
  std::memcpy(&img[8], &v, 4);
  EXPECT_FALSE(identityBlockPosition(img, 0));
  EXPECT_FALSE(identityBlockPosition(std::vector<uint8_t>(11, 0), 0));
  // Class 1: the last 512 bytes.
  EXPECT_EQ(identityBlockPosition(img, 1), 600u - 512);
  EXPECT_FALSE(identityBlockPosition(std::vector<uint8_t>(511, 0), 1));
}

TEST(ParseHex, AcceptsPairsWithSeparators) {
  EXPECT_EQ(parseHex("0a1B ff:00-7e"), (std::vector<uint8_t>{0x0A, 0x1B, 0xFF, 0x00, 0x7E}));
  EXPECT_FALSE(parseHex("abc"));
  EXPECT_FALSE(parseHex("a b"));
  EXPECT_FALSE(parseHex("zz"));
  EXPECT_FALSE(parseHex(""));
}

}  // namespace
}  // namespace zorv::firmware::test
