// Reading ".sc3" scripts: both types, units, refusals of bad input.

#include <gtest/gtest.h>

#include <filesystem>

#include "mediatest/test_random.h"
#include "volume/sc3_script.h"

namespace zorv {
namespace {

TEST(Sc3Script, Type1KeysWithUnits) {
  Sc3Script s;
  std::string error;
  ASSERT_TRUE(parseSc3("Range Size: 8388608\r\nTotal Write Capacity: 2 MB\r\nFile Size: 64 KB\r\nSequence: TRUE\r\n", s,
                       error))
      << error;
  EXPECT_EQ(s.type, 1);
  EXPECT_EQ(s.rangeSize, 8388608u);
  EXPECT_EQ(s.totalWriteCapacity, 2u << 20);
  EXPECT_EQ(s.fileSize, 65536u);  // the unit counts: 64 KB is not 64 bytes
  EXPECT_TRUE(s.sequential);      // "true" in any case
  ASSERT_TRUE(parseSc3("Range Size: 1 GB Total Write Capacity: 1 GB File Size: 4096 Sequence: no", s, error));
  EXPECT_FALSE(s.sequential);
}

TEST(Sc3Script, Type2KeysWithUnits) {
  Sc3Script s;
  std::string error;
  ASSERT_TRUE(parseSc3("Transfer Size: 8 Sec\r\nTo           : 16 Sec\r\nTotal Length : 32 MB\r\n"
                       "Test Pattern : Random\r\nRun Time     : 5 Mins\r\n",
                       s, error))
      << error;
  EXPECT_EQ(s.type, 2);
  EXPECT_EQ(s.transferFirst, 8u);
  EXPECT_EQ(s.transferLast, 16u);
  EXPECT_EQ(s.totalLengthBytes(), 32u << 20);
  EXPECT_TRUE(s.randomData);
  EXPECT_EQ(s.runMinutes, 5u);
  ASSERT_TRUE(parseSc3("Transfer Size: 1\nTo           : 1\nTotal Length : 1\nTest Pattern : fix\nRun Time     : 1\n", s,
                       error));
  EXPECT_FALSE(s.randomData);
}

TEST(Sc3Script, BadScriptsAreRefusedWithTheirReason) {
  const std::string t1 = "Total Write Capacity: 2 MB\nFile Size: 64 KB\nSequence: true\n";
  struct Case {
    const char* text;
    const char* says;
  } cases[] = {
      {"", "neither"},
      {"Size: 5\nSequence: true\n", "neither"},
      {"Total Write Capacity: 2 MB\nRange Size: 8 MB\nFile Size: 64 KB\nSequence: true\n", "before"},
      {"Range Size: 8 MB\nTotal Write Capacity: 2 MB\nSequence: true\n", "no \"File Size:\""},
      {"Range Size: 8 MB\nTotal Write Capacity: 2 MB\nFile Size: 0\nSequence: true\n", "File Size"},
      {"Range Size: 8 MB\nTotal Write Capacity: 2 MB\nFile Size: 1000\nSequence: true\n", "multiple of 512"},
      {"Range Size: 8 MB\nTotal Write Capacity: 2 MB\nFile Size: 16 MB\nSequence: true\n", "File Size"},
      {"Range Size: 1 MB\nTotal Write Capacity: 2 MB\nFile Size: 64 KB\nSequence: true\n", "18 times"},
      {"Range Size: 8 MB\nTotal Write Capacity: 0\nFile Size: 64 KB\nSequence: true\n", "Total Write"},
      {"Range Size: 80%\nTotal Write Capacity: 2 MB\nFile Size: 64 KB\nSequence: true\n", "unit"},
      {"Range Size: -8\nTotal Write Capacity: 2 MB\nFile Size: 64 KB\nSequence: true\n", "decimal"},
      {"Range Size: 99999999999999999999\nTotal Write Capacity: 2 MB\nFile Size: 64 KB\nSequence: true\n", "decimal"},
      {"Range Size: 99999999999 GB\nTotal Write Capacity: 2 MB\nFile Size: 64 KB\nSequence: true\n", "too large"},
      {"Transfer Size: 0 Sec\nTo           : 8 Sec\nTotal Length : 1 MB\nTest Pattern : x\nRun Time     : 1 Mins\n",
       "sizes from 1"},
      {"Transfer Size: 9 Sec\nTo           : 8 Sec\nTotal Length : 1 MB\nTest Pattern : x\nRun Time     : 1 Mins\n",
       "not above"},
      {"Transfer Size: 8 Sec\nTo           : 16385 Sec\nTotal Length : 1 MB\nTest Pattern : x\nRun Time     : 1 Mins\n",
       "16384"},
      {"Transfer Size: 8 Sec\nTo           : 8 Sec\nTotal Length : 0 MB\nTest Pattern : x\nRun Time     : 1 Mins\n",
       "Total Length"},
      {"Transfer Size: 8 Sec\nTo           : 8 Sec\nTotal Length : 1 MB\nTest Pattern : x\nRun Time     : 0 Mins\n",
       "Run Time"},
      {"Transfer Size: 8 KB\nTo           : 8 Sec\nTotal Length : 1 MB\nTest Pattern : x\nRun Time     : 1 Mins\n",
       "unit"},
      {"Transfer Size: 8\nTotal Length : 1 MB\nTo           : 8\nTest Pattern : x\nRun Time     : 1\n", "before"},
  };
  for (const Case& c : cases) {
    Sc3Script s;
    s.type = 7;
    std::string error;
    EXPECT_FALSE(parseSc3(c.text, s, error)) << c.text;
    EXPECT_NE(error.find(c.says), std::string::npos) << c.text << " -> " << error;
    EXPECT_EQ(s.type, 0) << "a refused script leaves no plan";
  }
}

TEST(Sc3Script, TheFirstKeyFoundGivesTheType) {
  Sc3Script s;
  std::string error;
  // Read as type 1: its keys are then looked for, and one is missing.
  EXPECT_FALSE(parseSc3("Range Size: 8 MB\nTransfer Size: 8\nTo           : 8\nTotal Length : 1\n"
                        "Test Pattern : x\nRun Time     : 1\n",
                        s, error));
  EXPECT_EQ(error, "the script has no \"Total Write Capacity:\"");
}

TEST(Sc3Script, UnreadableOrOversizedFilesAreRefused) {
  Sc3Script s;
  std::string error;
  EXPECT_FALSE(readSc3File("/nonexistent dir/none.sc3", s, error));
  EXPECT_EQ(error, "Open Script File fail");
}

TEST(Sc3Script, ScrambledScriptsGetAnAnswerNeverACrash) {
  const char* pieces[] = {"Range Size:", "Total Write Capacity:", "File Size:", "Sequence:", "Transfer Size:",
                          "To           :", "Total Length :", "Test Pattern :", "Run Time     :", " 512", " 64 KB",
                          "18446744073709551615", " MB", " Sec", "\r\n", "true", "%", "-", "\0", " 0 ", "9999999 GB"};
  TestRandom random(2024);
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    const uint32_t n = random.next() % 14;
    for (uint32_t i = 0; i < n; ++i) text += pieces[random.next() % std::size(pieces)];
    Sc3Script s;
    std::string error;
    if (parseSc3(text, s, error)) {
      EXPECT_TRUE(s.type == 1 || s.type == 2) << text;
      EXPECT_TRUE(s.type != 1 || (s.fileSize % 512 == 0 && s.fileSize > 0 && s.rangeSize / 18 >= s.fileSize)) << text;
      EXPECT_TRUE(s.type != 2 || (s.transferFirst >= 1 && s.transferLast <= kMaxTransferSectors)) << text;
    } else {
      EXPECT_FALSE(error.empty()) << text;
      EXPECT_EQ(s.type, 0);
    }
  }
}

TEST(Sc3Script, TheExampleScriptsAreValid) {
  int seen = 0;
  for (const auto& e : std::filesystem::directory_iterator(std::string(ZORV_SOURCE_DIR) + "/examples/volume")) {
    Sc3Script s;
    std::string error;
    EXPECT_TRUE(readSc3File(e.path().string(), s, error)) << e.path() << ": " << error;
    ++seen;
  }
  EXPECT_GE(seen, 4);
}

}  // namespace
}  // namespace zorv
