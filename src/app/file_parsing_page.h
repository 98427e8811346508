#pragma once
// CFileParsing: the file parsing page. A thin shell over analysis/file_parsing.h:
// "Open SPI Bin" turns chosen SPI flash images into rows of the OBB record
// file, "Open DevInfo" turns run logs into rows of the report (Pallo only),
// the list shows the rows, and a click on a column header sorts by that
// column's number (ascending first, then reversing with every click).

#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QWidget>

#include <filesystem>
#include <string>
#include <vector>

#include "analysis/file_parsing.h"
#include "app/page_registry.h"

namespace zorv::app {

class CFileParsing : public QWidget {
  Q_OBJECT
 public:
  CFileParsing(PageServices& services, QWidget* parent = nullptr);

  QTreeWidget* list() const { return list_; }
  QPushButton* openSpiButton() const { return openSpi_; }
  QPushButton* openDevInfoButton() const { return openDevInfo_; }
  QRadioButton* palloButton() const { return pallo_; }
  QRadioButton* tarnButton() const { return tarn_; }

  analysis::ObbProduct product() const;
  // Where the record files are written (the current directory unless set).
  void setDirectory(std::filesystem::path dir) { directory_ = std::move(dir); }
  // The record file of the last run.
  const std::filesystem::path& lastRecordFile() const { return lastRecordFile_; }

 public Q_SLOTS:
  // The buttons ask for the files; the runs behind them take them chosen.
  void onOpenSpiBin();
  void onOpenDevInfo();
  void openSpiFiles(const std::vector<std::string>& files);
  // False (with "Not Support") when Tarn is selected.
  bool openDevInfoFiles(const std::vector<std::string>& files);
  void sortByColumn(int column);

 private:
  void setColumns(const std::vector<analysis::ListColumn>& columns);
  void showOutcome(const analysis::ParseOutcome& outcome);
  DiagClockValue now() const;

  PageServices& services_;
  QTreeWidget* list_ = nullptr;
  QPushButton* openSpi_ = nullptr;
  QPushButton* openDevInfo_ = nullptr;
  QRadioButton* pallo_ = nullptr;
  QRadioButton* tarn_ = nullptr;
  std::filesystem::path directory_ = ".";
  std::filesystem::path lastRecordFile_;
  std::vector<std::vector<std::string>> rows_;  // as listed, in list order
  bool sortAscending_ = true;                   // the direction of the next sort
};

}  // namespace zorv::app
