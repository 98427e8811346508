#include "app/file_parsing_page.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QVBoxLayout>

#include "app/fixed_pitch_font.h"

namespace zorv::app {

namespace {

QString qs(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

std::vector<std::filesystem::path> paths(const std::vector<std::string>& files) {
  return {files.begin(), files.end()};
}

}  // namespace

CFileParsing::CFileParsing(PageServices& services, QWidget* parent) : QWidget(parent), services_(services) {
  setObjectName("CFileParsing");
  list_ = new QTreeWidget(this);
  list_->setObjectName("parsingList");
  list_->setRootIsDecorated(false);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setAllColumnsShowFocus(true);
  list_->setFont(fixedPitchFont(10));
  list_->setSortingEnabled(false);  // the page sorts by number itself
  list_->header()->setSectionsClickable(true);
  list_->header()->setStretchLastSection(false);

  openSpi_ = new QPushButton(QStringLiteral("Open SPI Bin"), this);
  openSpi_->setObjectName("openSpiBin");
  openDevInfo_ = new QPushButton(QStringLiteral("Open DevInfo"), this);
  openDevInfo_->setObjectName("openDevInfo");
  pallo_ = new QRadioButton(QStringLiteral("Pallo"), this);
  pallo_->setObjectName("pallo");
  pallo_->setChecked(true);
  tarn_ = new QRadioButton(QStringLiteral("Tarn"), this);
  tarn_->setObjectName("tarn");

  auto* controls = new QHBoxLayout;
  controls->addWidget(openSpi_);
  controls->addWidget(openDevInfo_);
  controls->addWidget(pallo_);
  controls->addWidget(tarn_);
  controls->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(controls);
  layout->addWidget(list_, 1);

  connect(openSpi_, &QPushButton::clicked, this, &CFileParsing::onOpenSpiBin);
  connect(openDevInfo_, &QPushButton::clicked, this, &CFileParsing::onOpenDevInfo);
  connect(list_->header(), &QHeaderView::sectionClicked, this, &CFileParsing::sortByColumn);
}

analysis::ObbProduct CFileParsing::product() const {
  return tarn_->isChecked() ? analysis::ObbProduct::Tarn : analysis::ObbProduct::Pallo;
}

DiagClockValue CFileParsing::now() const { return DiagClockValue{services_.ctx.clock->localTime(), true}; }

void CFileParsing::onOpenSpiBin() {
  // Choosing no file still writes the record file's header.
  openSpiFiles(services_.ui.chooseOpenFiles("Open SPI Bin", "All Files(*.*)|*.*||"));
}

void CFileParsing::onOpenDevInfo() {
  if (product() == analysis::ObbProduct::Tarn) {
    services_.ui.messageBox(analysis::kNotSupportText, BoxIcon::Stop);
    return;
  }
  openDevInfoFiles(services_.ui.chooseOpenFiles("Open DevInfo", "Text Files(*.txt)|*.txt||"));
}

void CFileParsing::openSpiFiles(const std::vector<std::string>& files) {
  setColumns(analysis::SpiListColumns(product()));
  lastRecordFile_ = directory_ / analysis::SpiRecordFileName(now());
  showOutcome(analysis::ParseSpiFiles(product(), paths(files), lastRecordFile_));
}

bool CFileParsing::openDevInfoFiles(const std::vector<std::string>& files) {
  if (product() == analysis::ObbProduct::Tarn) {
    services_.ui.messageBox(analysis::kNotSupportText, BoxIcon::Stop);
    return false;
  }
  setColumns(analysis::DevInfoListColumns());
  lastRecordFile_ = directory_ / analysis::DevInfoRecordFileName(now());
  showOutcome(analysis::ParseDevInfoFiles(paths(files), lastRecordFile_));
  return true;
}

void CFileParsing::setColumns(const std::vector<analysis::ListColumn>& columns) {
  list_->clear();
  rows_.clear();
  QStringList titles;
  for (const analysis::ListColumn& c : columns) titles << qs(c.title);
  list_->setColumnCount(static_cast<int>(columns.size()));
  list_->setHeaderLabels(titles);
  for (size_t i = 0; i < columns.size(); ++i) list_->setColumnWidth(static_cast<int>(i), columns[i].width);
}

void CFileParsing::showOutcome(const analysis::ParseOutcome& outcome) {
  if (!outcome.csvWritten) services_.ui.messageBox(outcome.csvError, BoxIcon::Stop);
  rows_ = analysis::ListRowsFromText(outcome.listText);
  const int columns = list_->columnCount();
  QList<QTreeWidgetItem*> items;
  for (const auto& row : rows_) {
    auto* item = new QTreeWidgetItem;
    // The list shows as many of the row's values as it has columns.
    for (int c = 0; c < columns && static_cast<size_t>(c) < row.size(); ++c) item->setText(c, qs(row[c]));
    items << item;
  }
  list_->addTopLevelItems(items);
}

void CFileParsing::sortByColumn(int column) {
  if (column < 0) return;
  std::vector<size_t> order = analysis::ListSortOrder(rows_, static_cast<size_t>(column), sortAscending_);
  sortAscending_ = !sortAscending_;
  QList<QTreeWidgetItem*> taken;
  while (list_->topLevelItemCount() > 0) taken << list_->takeTopLevelItem(0);
  std::vector<std::vector<std::string>> sorted;
  QList<QTreeWidgetItem*> items;
  for (size_t i : order) {
    sorted.push_back(std::move(rows_[i]));
    items << taken[static_cast<qsizetype>(i)];
  }
  rows_ = std::move(sorted);
  list_->addTopLevelItems(items);
}

namespace {

QWidget* makeFileParsingPage(PageServices& services, QWidget* parent) { return new CFileParsing(services, parent); }

PageRegistrar reg{70, "File Parsing", &makeFileParsingPage};

}  // namespace

}  // namespace zorv::app
