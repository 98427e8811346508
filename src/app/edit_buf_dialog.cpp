#include "app/edit_buf_dialog.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

#include "app/fixed_pitch_font.h"
#include "app/radix_field.h"

namespace zorv::app {

namespace {

// A byte cell holds two hexadecimal digits.
class ByteCellDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QWidget* w = QStyledItemDelegate::createEditor(parent, option, index);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) restrictToRadix(edit, Radix::Hex, QStringLiteral("Byte"), 2);
    return w;
  }
};

struct ColumnSpec {
  QString title;
  int width;
  bool centred;
};

// "title,width[,alignment]" entries separated by "; ".
std::vector<ColumnSpec> parseColumnSpec(const char* recipe) {
  std::vector<ColumnSpec> out;
  for (const QString& entry : QString::fromLatin1(recipe).split("; ")) {
    QStringList parts = entry.split(',');
    if (parts.size() < 2) continue;
    out.push_back({parts[0], parts[1].toInt(), parts.size() > 2 && parts[2] == "1"});
  }
  return out;
}

}  // namespace

CEditBufDlg::CEditBufDlg(Context& ctx, DumpPane* dump, QWidget* parent) : QDialog(parent), ctx_(ctx), dump_(dump) {
  setWindowTitle("Edit Buffer");
  const std::vector<ColumnSpec> columns = parseColumnSpec(BufferEditor::kColumnSpec);
  grid_ = new QTableWidget(BufferEditor::kRows, static_cast<int>(columns.size()), this);
  grid_->setObjectName("list1048");
  QFont font = fixedPitchFont();
  font.setPixelSize(14);
  font.setWeight(QFont::Medium);
  grid_->setFont(font);
  grid_->setShowGrid(true);
  grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
  grid_->verticalHeader()->hide();
  grid_->verticalHeader()->setDefaultSectionSize(grid_->fontMetrics().height() + 4);
  grid_->setItemDelegate(new ByteCellDelegate(grid_));
  for (int c = 0; c < static_cast<int>(columns.size()); ++c) {
    grid_->setHorizontalHeaderItem(c, new QTableWidgetItem(columns[static_cast<size_t>(c)].title));
    // Dialog units are about twice as narrow as pixels at the usual font.
    grid_->setColumnWidth(c, columns[static_cast<size_t>(c)].width * 3 / 2 + 4);
  }
  for (int r = 0; r < BufferEditor::kRows; ++r) {
    for (int c = 0; c < static_cast<int>(columns.size()); ++c) {
      auto* item = new QTableWidgetItem;
      if (columns[static_cast<size_t>(c)].centred) item->setTextAlignment(Qt::AlignCenter);
      if (c == 0) item->setFlags(item->flags() & ~Qt::ItemIsEditable);
      grid_->setItem(r, c, item);
    }
  }

  start_ = new QLineEdit(this);
  start_->setObjectName("start1049");
  restrictToRadix(start_, Radix::Hex, QStringLiteral("Start Addr."), 4);
  end_ = new QLineEdit(this);
  end_->setObjectName("end1223");
  restrictToRadix(end_, Radix::Hex, QStringLiteral("End Addr."), 4);
  value_ = new QLineEdit(this);
  value_->setObjectName("value1224");
  restrictToRadix(value_, Radix::Hex, QStringLiteral("Value"), 2);
  save_ = new QPushButton("Save", this);
  enter_ = new QPushButton("Enter", this);
  quit_ = new QPushButton("Quit", this);
  for (QPushButton* b : {save_, enter_, quit_}) b->setAutoDefault(false);

  auto* batch = new QGroupBox("Batch Edit", this);
  auto* batchLayout = new QHBoxLayout(batch);
  batchLayout->addWidget(new QLabel("Start Addr.", batch));
  batchLayout->addWidget(start_);
  batchLayout->addWidget(new QLabel("End Addr.", batch));
  batchLayout->addWidget(end_);
  batchLayout->addWidget(new QLabel("Value", batch));
  batchLayout->addWidget(value_);
  batchLayout->addWidget(save_);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(batch, 1);
  buttons->addWidget(enter_);
  buttons->addWidget(quit_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(grid_, 1);
  layout->addLayout(buttons);

  for (QLineEdit* e : {start_, end_, value_}) e->setFixedWidth(e->fontMetrics().horizontalAdvance("WWWWWW"));
  int width = 0;
  for (int c = 0; c < grid_->columnCount(); ++c) width += grid_->columnWidth(c);
  const int rows = grid_->verticalHeader()->defaultSectionSize() * BufferEditor::kRows;
  resize(width + 40, rows + grid_->horizontalHeader()->sizeHint().height() + 110);

  connect(start_, &QLineEdit::textEdited, this, &CEditBufDlg::onStartEdited);
  connect(enter_, &QPushButton::clicked, this, &CEditBufDlg::onEnter);
  connect(save_, &QPushButton::clicked, this, &CEditBufDlg::onSave);
  connect(quit_, &QPushButton::clicked, this, &QDialog::accept);

  editor_.open(ctx_);
  start_->setText(QString::fromStdString(editor_.startText));
  end_->setText(QString::fromStdString(editor_.endText));
  value_->setText(QString::fromStdString(editor_.valueText));
  showGrid();
}

void CEditBufDlg::showGrid() {
  for (int r = 0; r < BufferEditor::kRows; ++r) {
    grid_->item(r, 0)->setText(QString::fromStdString(editor_.addresses[static_cast<size_t>(r)]));
    for (int j = 0; j < BufferEditor::kColumns; ++j) {
      grid_->item(r, j + 1)->setText(
          QString::fromStdString(editor_.cells[static_cast<size_t>(r)][static_cast<size_t>(j)]));
    }
  }
}

void CEditBufDlg::onStartEdited(const QString& text) {
  std::string shown = editor_.startAddressChanged(ctx_, text.toStdString());
  if (start_->text().toStdString() != shown) {
    int pos = start_->cursorPosition();
    start_->setText(QString::fromStdString(shown));
    start_->setCursorPosition(pos);
  }
  showGrid();
}

void CEditBufDlg::onEnter() {
  for (int r = 0; r < BufferEditor::kRows; ++r) {
    for (int j = 0; j < BufferEditor::kColumns; ++j) {
      editor_.cells[static_cast<size_t>(r)][static_cast<size_t>(j)] = grid_->item(r, j + 1)->text().toStdString();
    }
  }
  editor_.enter(ctx_, dump_);
  editor_.showRows(ctx_, editor_.shownAddress());
  showGrid();
}

void CEditBufDlg::onSave() {
  editor_.startText = start_->text().toStdString();
  editor_.endText = end_->text().toStdString();
  editor_.valueText = value_->text().toStdString();
  editor_.save(ctx_, dump_);
  showGrid();
}

void CEditBufDlg::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter || event->key() == Qt::Key_Escape) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

}  // namespace zorv::app
