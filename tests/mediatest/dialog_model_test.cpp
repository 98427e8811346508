// The test dialog's model: fields, defaults, radix and limits per test code,
// Send with its refusals, the parameter history; and the run's random numbers.

#include <gtest/gtest.h>

#include <set>

#include "mediatest/edit_func.h"
#include "mediatest/test_random.h"

namespace zorv {
namespace {

constexpr uint64_t kDriveSectors = 500118192;  // last LBA 1DCF32AF

TEST(MediaTestRandom, TheClassicGeneratorWithValuesBelow32768) {
  TestRandom random(1);
  std::vector<uint32_t> first;
  for (int i = 0; i < 5; ++i) first.push_back(random.next());
  EXPECT_EQ(first, (std::vector<uint32_t>{41, 18467, 6334, 26500, 19169}));
  TestRandom other(12345);
  for (int i = 0; i < 100000; ++i) ASSERT_LT(other.next(), 32768u);
}

TEST(MediaTestRandom, DrawsScaleExactlyAndCountsStayBelowTheBound) {
  EXPECT_EQ(scaledDraw(32767, 0xFFFFFFFFu), 0xFFFDFFFFull) << "floor(32767 / 32768 x FFFFFFFF)";
  EXPECT_EQ(scaledDraw(16384, 0x100), 0x80u);
  EXPECT_EQ(scaledDraw(0, 0xFFFFFFFFu), 0u);
  TestRandom random(7);
  std::set<uint32_t> seen;
  for (int i = 0; i < 5000; ++i) {
    uint32_t c = randomBlockCount(random, 0x20);
    ASSERT_GE(c, 1u);
    ASSERT_LE(c, 0x1Fu);
    seen.insert(c);
  }
  EXPECT_EQ(seen.size(), 0x1Fu) << "every count 1..1F occurs";
  EXPECT_EQ(randomBlockCount(random, 1), 1u);
}

struct Defaults {
  uint16_t code;
  const char* loop;
  const char* length;
  const char* align;
  bool verify;
  const char* status;
};

TEST(EditFunc, FirstDefaultsPerTestCode) {
  for (const Defaults& d : {Defaults{kOpSeqRead, "1", "", "", false, ""}, Defaults{kOpRandomAccess, "1", "", "", false, ""},
                            Defaults{kOpSeqWrite, "1", "128", "0", true, "<< Seq Write >>"},
                            Defaults{kOpRandomWrite, "100", "128", "0", true, "<< Random Write >>"}}) {
    ParameterHistory history;
    CEditFunc dlg(history);
    ASSERT_TRUE(dlg.open(d.code, kDriveSectors));
    SCOPED_TRACE(d.code);
    EXPECT_EQ(dlg.text(EditField::Slba), "0");
    EXPECT_EQ(dlg.text(EditField::Elba), "1DCF32AF") << "the drive's last LBA";
    EXPECT_EQ(dlg.text(EditField::Blks), "20");
    EXPECT_EQ(dlg.text(EditField::Loop), d.loop);
    EXPECT_EQ(dlg.text(EditField::Length), d.length);
    EXPECT_EQ(dlg.text(EditField::Align), d.align);
    EXPECT_EQ(dlg.text(EditField::MaxErr), "");
    EXPECT_FALSE(dlg.checked(CheckItem::RndBlks));
    EXPECT_EQ(dlg.checked(CheckItem::Verify), d.verify);
    EXPECT_TRUE(dlg.checked(CheckItem::Ncq));
    EXPECT_EQ(dlg.radio(ButtonGroup::Type), 0);
    EXPECT_EQ(dlg.statusText(), d.status);
  }
  ParameterHistory history;
  CEditFunc dlg(history);
  EXPECT_FALSE(dlg.open(0x25B0, kDriveSectors)) << "the console's code is no media test";
  ASSERT_TRUE(dlg.open(kOpSeqRead, uint64_t{1} << 40));
  EXPECT_EQ(dlg.text(EditField::Elba), "FFFFFFFF") << "READ(10) addresses 32 bits";
}

TEST(EditFunc, OnlyTheTestFieldsAndTheItemGroupAreEnabled) {
  std::set<std::string_view> enabled;
  for (int f = 0; f < kEditFieldCount; ++f)
    if (CEditFunc::fieldEnabled(static_cast<EditField>(f))) enabled.insert(editFieldSpec(static_cast<EditField>(f)).label);
  EXPECT_EQ(enabled, (std::set<std::string_view>{"SLBA", "ELBA", "Blks", "Loop", "Length", "Align"}));
  EXPECT_TRUE(CEditFunc::groupEnabled(ButtonGroup::Item));
  for (ButtonGroup g : {ButtonGroup::Type, ButtonGroup::Sector, ButtonGroup::Close, ButtonGroup::Data})
    EXPECT_FALSE(CEditFunc::groupEnabled(g));
  EXPECT_EQ(buttonGroupCaption(ButtonGroup::Item), "Item");
  EXPECT_EQ(checkItemLabel(CheckItem::Ncq), "NCQ");
}

TEST(EditFunc, TextLimitsAndRadixAsTheEditBoxesTakeThem) {
  ParameterHistory history;
  CEditFunc dlg(history);
  ASSERT_TRUE(dlg.open(kOpSeqRead, kDriveSectors));
  struct Limit {
    EditField field;
    size_t limit;
    Radix radix;
  };
  for (const Limit& l : {Limit{EditField::Slba, 8, Radix::Hex}, Limit{EditField::Elba, 8, Radix::Hex},
                         Limit{EditField::Blks, 4, Radix::Hex}, Limit{EditField::Loop, 8, Radix::Decimal},
                         Limit{EditField::Length, 4, Radix::Decimal}, Limit{EditField::Align, 2, Radix::Decimal},
                         Limit{EditField::MaxErr, 4, Radix::Decimal}}) {
    EXPECT_EQ(editFieldSpec(l.field).radix, l.radix);
    std::string before = dlg.text(l.field);
    EXPECT_TRUE(dlg.setText(l.field, std::string(l.limit, '1')));
    EXPECT_FALSE(dlg.setText(l.field, std::string(l.limit + 1, '1'))) << editFieldSpec(l.field).label;
    EXPECT_EQ(dlg.text(l.field), std::string(l.limit, '1')) << "a refused text leaves the box as it was";
    dlg.setText(l.field, before);
  }
}

TEST(EditFunc, SendReadsEveryFieldInItsRadix) {
  ParameterHistory history;
  CEditFunc dlg(history);
  ASSERT_TRUE(dlg.open(kOpSeqRead, kDriveSectors));
  dlg.setText(EditField::Slba, "1a0");
  dlg.setText(EditField::Elba, "10000");
  dlg.setText(EditField::Blks, "80");
  dlg.setText(EditField::Loop, "12");
  dlg.setText(EditField::Length, "100");
  dlg.setText(EditField::Align, "8");
  dlg.setText(EditField::MaxErr, "3");
  dlg.setChecked(CheckItem::RndBlks, true);
  dlg.setChecked(CheckItem::Ncq, false);
  CEditFunc::SendResult r = dlg.send();
  ASSERT_TRUE(r.ok()) << r.refusal;
  EXPECT_EQ(r.params.usOpCode, kOpSeqRead);
  EXPECT_EQ(r.params.ulStartLba, 0x1A0u);
  EXPECT_EQ(r.params.ulEndLba, 0x10000u);
  EXPECT_EQ(r.params.ulBlks, 0x80u);
  EXPECT_EQ(r.params.ulLoop, 12u);
  EXPECT_EQ(r.params.ulLength, 100u);
  EXPECT_EQ(r.params.ulAlign, 8u);
  EXPECT_EQ(r.params.ulMaxErr, 3u);
  EXPECT_EQ(r.params.ulMaxTime, 0u) << "an empty disabled field reads as 0";
  EXPECT_EQ(r.params.fgRndBlks, 1);
  EXPECT_EQ(r.params.fgReadVerify, 0);
  EXPECT_EQ(r.params._fgNCQEnable, 0);
  EXPECT_EQ(r.params.usWriteType, kWriteTypePlain);
}

TEST(EditFunc, BadInputIsRefusedWithAClearTextAndNothingIsStored) {
  struct Case {
    uint16_t code;
    EditField field;
    const char* text;
    const char* refusal;
  };
  const Case cases[] = {
      {kOpSeqRead, EditField::Slba, "12G", "SLBA: \"12G\" is not a hexadecimal number"},
      {kOpSeqRead, EditField::Loop, "1A", "Loop: \"1A\" is not a decimal number"},
      {kOpSeqRead, EditField::Slba, "1DCF32AF", "Invalid parameter. (StartLBA > EndLBA)"},
      {kOpRandomAccess, EditField::Slba, "1DCF32AF", "Invalid parameter. (StartLBA > EndLBA)"},
      {kOpRandomWrite, EditField::Slba, "1DCF32B0", "Invalid parameter. (StartLBA > EndLBA)"},
      {kOpSeqRead, EditField::Blks, "0", "Blks: at least 1 block per command"},
      {kOpRandomWrite, EditField::Blks, "", "Blks: at least 1 block per command"},
      {kOpSeqWrite, EditField::Blks, "801",
       "Blks: at most 800 blocks per command (1 MiB, the sector buffer and a queue slot)"},
      {kOpSeqRead, EditField::Elba, "1DCF32B1", "ELBA: 0x1DCF32B1 lies beyond the end of the drive (0x1DCF32B0 sectors)"},
      {kOpSeqRead, EditField::Length, "", "Length: at least 1 read command per measured group"},
      {kOpRandomAccess, EditField::Elba, "1", "SLBA, ELBA: the range holds only LBA 0, which the random access test never reads"},
  };
  for (const Case& c : cases) {
    ParameterHistory history;
    CEditFunc dlg(history);
    ASSERT_TRUE(dlg.open(c.code, kDriveSectors));
    dlg.setText(EditField::Length, "10");
    ASSERT_TRUE(dlg.setText(c.field, c.text));
    CEditFunc::SendResult r = dlg.send();
    EXPECT_EQ(r.refusal, c.refusal) << c.text;
    EXPECT_EQ(history.current(), nullptr);
  }
  ParameterHistory history;
  CEditFunc dlg(history);
  ASSERT_TRUE(dlg.open(kOpRandomAccess, kDriveSectors));
  dlg.setText(EditField::Slba, "11");
  dlg.setText(EditField::Elba, "18");
  dlg.setText(EditField::Align, "16");
  EXPECT_EQ(dlg.send().refusal, "Align: no LBA of the range but 0 is a multiple of Align");
  dlg.setText(EditField::Elba, "21");
  EXPECT_TRUE(dlg.send().ok()) << "LBA 20 fits";
}

TEST(EditFunc, HistoryIsARingOfTenAndAnUnchangedRepeatIsNotStoredAgain) {
  ParameterHistory history;
  CEditFunc dlg(history);
  for (int i = 0; i < 11; ++i) {
    ASSERT_TRUE(dlg.open(i % 2 ? kOpRandomWrite : kOpSeqWrite, kDriveSectors));
    dlg.setText(EditField::Loop, std::to_string(i + 1));
    ASSERT_TRUE(dlg.send().ok());
  }
  EXPECT_EQ(history.currentPosition(), 0) << "the 11th entry wrote over the 1st";
  EXPECT_EQ(history.current()->fields[static_cast<size_t>(EditField::Loop)], "11");
  EXPECT_EQ(history.at(9).fields[static_cast<size_t>(EditField::Loop)], "10");
  EXPECT_EQ(history.current()->opCode, kOpSeqWrite);
  EXPECT_EQ(history.current()->status, "Seq Write") << "without its first and last three characters";
  EXPECT_EQ(history.at(9).status, "Random Write");
  EXPECT_EQ(history.current()->checkMask, 0x06) << "Verify and NCQ";

  // The Enter key: the current entry again, unchanged: nothing new is stored.
  ASSERT_TRUE(dlg.openRepeat(kDriveSectors));
  EXPECT_EQ(dlg.opCode(), kOpSeqWrite);
  EXPECT_EQ(dlg.text(EditField::Loop), "11");
  ASSERT_TRUE(dlg.send().ok());
  EXPECT_EQ(history.currentPosition(), 0);
  // Repeated with a change: a new entry.
  ASSERT_TRUE(dlg.openRepeat(kDriveSectors));
  dlg.setChecked(CheckItem::RndBlks, true);
  ASSERT_TRUE(dlg.send().ok());
  EXPECT_EQ(history.currentPosition(), 1);
  EXPECT_EQ(history.current()->checkMask, 0x07);
  // Opened from the menu, a code shows what was last sent for it.
  ASSERT_TRUE(dlg.open(kOpRandomWrite, kDriveSectors));
  EXPECT_EQ(dlg.text(EditField::Loop), "10");
  ParameterHistory empty;
  CEditFunc fresh(empty);
  EXPECT_FALSE(fresh.openRepeat(kDriveSectors)) << "nothing to repeat yet";
}

}  // namespace
}  // namespace zorv
