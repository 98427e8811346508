#include "app/identify_page.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QVBoxLayout>

#include <algorithm>

#include "app/fixed_pitch_font.h"

namespace zorv::app {

namespace {

// Cells hold "\r\n" line ends; drive strings may hold any byte.
QString cellText(const std::string& s) {
  QString q = QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
  q.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return q;
}

// The width of a value cell's bit-pattern line, "0100 0000 0111 1111b".
constexpr int kValueLineLength = 20;

QString inLinesOf(const QString& text, int length) {
  QStringList lines;
  for (qsizetype at = 0; at < text.size(); at += length) lines << text.mid(at, length);
  return lines.join(QLatin1Char('\n'));
}

}  // namespace

CIdentify::CIdentify(Context& ctx, UserInterface& ui, OperationRunner& runner, QWidget* parent)
    : QWidget(parent), ctx_(ctx), ui_(ui), runner_(runner) {
  identify_ = new QPushButton("Identify", this);
  identify_->setObjectName("button1458");
  compare_ = new QPushButton("Compare Binary", this);
  compare_->setObjectName("button1459");
  differences_ = new QComboBox(this);
  differences_->setObjectName("combo1460");
  differences_->setEditable(true);
  differences_->setMinimumContentsLength(28);
  differences_->hide();

  list_ = new QTableWidget(this);
  list_->setObjectName("list1457");
  list_->setFont(fixedPitchFont(12));
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setWordWrap(false);
  list_->verticalHeader()->hide();
  list_->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  list_->setShowGrid(true);

  notice_ = new QLabel(this);
  notice_->setObjectName("identifyNotice");
  notice_->setWordWrap(true);
  notice_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  notice_->setStyleSheet("color: #b00000;");
  notice_->hide();

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(identify_);
  buttons->addWidget(compare_);
  buttons->addWidget(differences_);
  buttons->addStretch();
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(buttons);
  layout->addWidget(notice_);
  layout->addWidget(list_, 1);

  connect(identify_, &QPushButton::clicked, this, &CIdentify::onIdentify);
  connect(compare_, &QPushButton::clicked, this, &CIdentify::onCompareBinary);
  connect(differences_, &QComboBox::activated, this, &CIdentify::onDifferenceChosen);
}

void CIdentify::showRows(bool compare) {
  const auto& columns = identifyColumns();
  list_->clear();
  list_->setRowCount(0);
  list_->setColumnCount(compare ? 5 : 4);
  int shown = 0;
  for (size_t c = 0; c < columns.size(); ++c) {
    if (!compare && c == 3) continue;
    list_->setHorizontalHeaderItem(shown, new QTableWidgetItem(columns[c].title));
    list_->setColumnWidth(shown, columns[c].width);
    ++shown;
  }
  const auto& rows = view_.rows();
  list_->setRowCount(static_cast<int>(rows.size()));
  for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
    const IdentifyListRow& row = rows[static_cast<size_t>(r)];
    std::vector<const std::string*> cells = {&row.offset, &row.length, &row.value1};
    if (compare) cells.push_back(&row.value2);
    cells.push_back(&row.description);
    const bool stringRow = static_cast<size_t>(r) < identifyWordTable().size() &&
                           isIdentifyStringRow(identifyWordTable()[static_cast<size_t>(r)]);
    for (int c = 0; c < static_cast<int>(cells.size()); ++c) {
      QString text = cellText(*cells[static_cast<size_t>(c)]);
      // A 40-character model string on one line would make the value column
      // as wide as four bit patterns; it is shown in lines of their width.
      const bool value = c == 2 || (compare && c == 3);
      if (stringRow && value) text = inLinesOf(text, kValueLineLength);
      auto* item = new QTableWidgetItem(text);
      item->setTextAlignment(Qt::AlignLeft | Qt::AlignTop);
      list_->setItem(r, c, item);
    }
  }
  // The widths are the list's own at its small font; a wider fixed-pitch
  // font widens a column to its longest line.
  list_->resizeColumnsToContents();
  shown = 0;
  for (size_t c = 0; c < columns.size(); ++c) {
    if (!compare && c == 3) continue;
    list_->setColumnWidth(shown, std::max(list_->columnWidth(shown), columns[c].width));
    ++shown;
  }
  list_->resizeRowsToContents();
}

void CIdentify::onIdentify() {
  runner_.runHere([this] {
    list_->clear();
    list_->setRowCount(0);
    differences_->hide();
    differences_->clear();
    view_.identify(ctx_, ".");
    showRows(false);
    if (view_.mode() != IdentifyView::Mode::Single) list_->setRowCount(0);
    showNotice(view_.notice());
  });
}

void CIdentify::showNotice(const std::string& text) {
  QString shown = cellText(text).trimmed();
  notice_->setText(shown);
  notice_->setVisible(!shown.isEmpty());
}

void CIdentify::onCompareBinary() {
  if (!view_.compareBinary(ui_)) return;
  showNotice({});
  showRows(true);
  differences_->clear();
  for (const std::string& entry : view_.differences()) differences_->addItem(QString::fromStdString(entry));
  differences_->setCurrentIndex(-1);
  differences_->setEditText(IdentifyView::kQuickViewText);
  differences_->show();
}

void CIdentify::onDifferenceChosen(int index) {
  if (index < 0) return;
  std::optional<int> row = identifyDifferenceRow(differences_->itemText(index).toStdString());
  if (!row || *row >= list_->rowCount()) return;
  list_->selectRow(*row);
  list_->scrollToItem(list_->item(*row, 0), QAbstractItemView::PositionAtTop);
}

namespace {

QWidget* makeIdentifyPage(PageServices& services, QWidget* parent) {
  return new CIdentify(services.ctx, services.ui, services.runner, parent);
}

PageRegistrar reg{30, "Identify", &makeIdentifyPage};

}  // namespace

}  // namespace zorv::app
