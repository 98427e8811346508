// The file parsing page as a window: its columns and widths, the rows of
// chosen files (and of a file it cannot read), the record file named by the
// run's time, sorting by a column's number, and "Not Support" for Tarn logs.

#include <gtest/gtest.h>

#include <QApplication>
#include <QHeaderView>
#include <QMessageBox>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "app/file_parsing_page.h"
#include "app/qt_environment.h"
#include "support/sim_fixture.h"

namespace zorv::app {
namespace {

namespace fs = std::filesystem;

struct ParsingPage : ::testing::Test {
  ParsingPage()
      : paneBox(QtMessageSink::makeTextBox(nullptr)),
        pane(paneBox),
        runner(sim.ctx(), driveList),
        services{sim.ctx(), ui, pane, driveList, nullptr, runner},
        page(services) {
    page.setDirectory(dir);
  }
  ~ParsingPage() override { delete paneBox; }

  // An image whose Pallo plane 00 has `bad` bad blocks and the rest none.
  std::string image(const std::string& name, int bad) {
    std::string bytes(0x1000, '\xFF');
    for (size_t i = 0; i < 128; ++i) bytes[0x400 + 2 * i] = bytes[0x401 + 2 * i] = 0;
    bytes[0x401] = static_cast<char>(bad);
    fs::path p = dir / name;
    std::ofstream(p, std::ios::binary) << bytes;
    return p.string();
  }

  QStringList column(int c) {
    QStringList out;
    for (int i = 0; i < page.list()->topLevelItemCount(); ++i) out << page.list()->topLevelItem(i)->text(c);
    return out;
  }

  test::SimFixture sim{0};
  fs::path dir = fs::path(sim.dir.path()) / "parsed files";
  bool made = fs::create_directories(dir);
  QtUserInterface ui;
  QPlainTextEdit* paneBox;
  QtMessageSink pane;
  DriveListModel driveList;
  OperationRunner runner;
  PageServices services;
  CFileParsing page;
};

TEST_F(ParsingPage, IsAnEngineeringTabWithItsControls) {
  auto pages = registeredPages();
  EXPECT_TRUE(std::any_of(pages.begin(), pages.end(), [](const RegisteredPage& p) {
    return std::string(p.title) == "File Parsing";
  }));
  EXPECT_EQ(page.openSpiButton()->text(), "Open SPI Bin");
  EXPECT_EQ(page.openDevInfoButton()->text(), "Open DevInfo");
  EXPECT_EQ(page.palloButton()->text(), "Pallo");
  EXPECT_EQ(page.tarnButton()->text(), "Tarn");
  EXPECT_TRUE(page.palloButton()->isChecked());
  EXPECT_EQ(page.product(), analysis::ObbProduct::Pallo);
}

TEST_F(ParsingPage, SpiFilesFillTheListAndTheRecordFile) {
  page.openSpiFiles({image("first.bin", 7), (dir / "gone.bin").string(), image("second, copy.bin", 2)});
  QTreeWidget* list = page.list();
  ASSERT_EQ(list->columnCount(), 2 + 128 + 35 + 40);
  EXPECT_EQ(list->headerItem()->text(0), "File Name");
  EXPECT_EQ(list->columnWidth(0), 165);
  EXPECT_EQ(list->headerItem()->text(1), "Ttl Bad");
  EXPECT_EQ(list->columnWidth(1), 70);
  EXPECT_EQ(list->headerItem()->text(129), "7F");
  EXPECT_EQ(list->columnWidth(129), 30);
  EXPECT_EQ(list->headerItem()->text(130), "RErrCode");
  EXPECT_EQ(list->columnWidth(130), 80);
  EXPECT_EQ(column(0), (QStringList{"first.bin", "No File", "No Arg", "second, copy.bin"}));
  EXPECT_EQ(column(1), (QStringList{"7", "", "", "2"}));

  const fs::path record = dir / ("SPI_OBB_Record" + DiagClockValue{sim.clock.localTime(), true}.stamp() + ".csv");
  EXPECT_EQ(page.lastRecordFile(), record);
  ASSERT_TRUE(fs::exists(record));

  // Tarn reads its own layout: the same files give other columns.
  page.tarnButton()->setChecked(true);
  page.openSpiFiles({image("first.bin", 7)});
  EXPECT_EQ(page.list()->columnCount(), 2 + 128 + 31 + 80);
  EXPECT_EQ(column(1), QStringList{"0"});
}

TEST_F(ParsingPage, HeaderClicksSortByNumberAscendingThenReversing) {
  page.openSpiFiles({image("a.bin", 7), image("b.bin", 12), (dir / "gone.bin").string(), image("c.bin", 2)});
  QHeaderView* header = page.list()->header();
  Q_EMIT header->sectionClicked(1);
  EXPECT_EQ(column(0), (QStringList{"No File", "No Arg", "c.bin", "a.bin", "b.bin"}));
  Q_EMIT header->sectionClicked(1);
  EXPECT_EQ(column(0), (QStringList{"b.bin", "a.bin", "c.bin", "No File", "No Arg"}));
  Q_EMIT header->sectionClicked(2);  // the direction is the page's, not the column's
  EXPECT_EQ(column(2), (QStringList{"", "", "2", "7", "12"}));
}

TEST_F(ParsingPage, DevInfoShowsTheReportColumnsAndTarnIsNotSupported) {
  fs::path log = dir / "InfoDumpLog1210093015.txt";
  std::ofstream(log, std::ios::binary) << "ORBENNEPA256 SN00C0FFEE 238G SATA\r\nOBB Count In FW   : 0x0021 \r\n";
  ASSERT_TRUE(page.openDevInfoFiles({log.string()}));
  ASSERT_EQ(page.list()->columnCount(), 17);
  EXPECT_EQ(page.list()->headerItem()->text(0), "FileName");
  EXPECT_EQ(page.list()->columnWidth(0), 120);
  EXPECT_EQ(page.list()->columnWidth(2), 90);
  EXPECT_EQ(page.list()->columnWidth(7), 80);
  EXPECT_EQ(column(1), QStringList{"1210093015"});
  EXPECT_EQ(column(2), QStringList{"SN00C0FFEE"});
  EXPECT_EQ(column(7), QStringList{"0x0021 "});

  page.tarnButton()->setChecked(true);
  QString shown;
  test::onNextModal([&shown](QWidget* w) {
    if (auto* box = qobject_cast<QMessageBox*>(w)) {
      shown = box->text();
      box->accept();
    }
  });
  page.openDevInfoButton()->click();
  EXPECT_EQ(shown, "Not Support");
  EXPECT_EQ(page.list()->columnCount(), 17);  // nothing changed
  EXPECT_EQ(column(2), QStringList{"SN00C0FFEE"});
}

}  // namespace
}  // namespace zorv::app
