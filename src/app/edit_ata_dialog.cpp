#include "app/edit_ata_dialog.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPalette>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include "app/fixed_pitch_font.h"
#include "app/radix_field.h"
#include "app/record_buf_page.h"

namespace zorv::app {

CEditAta::CEditAta(Context& ctx, QWidget* parent) : CEditAta(ctx, CRecordBuf::activeDumpPane(), parent) {}

CEditAta::CEditAta(Context& ctx, DumpPane* dump, QWidget* parent) : QDialog(parent), ctx_(ctx), dump_(dump) {
  build();
  console_.open(ctx_);
  for (int i = 0; i < kConsoleEditCount; ++i) {
    edits_[static_cast<size_t>(i)]->setText(QString::fromStdString(console_.edits[static_cast<size_t>(i)]));
  }
  dataOut_->setChecked(console_.dataOut);
}

void CEditAta::build() {
  setWindowTitle("Any ATA");
  setAutoFillBackground(true);
  QPalette dialogPalette = palette();
  dialogPalette.setColor(QPalette::Window, QColor(211, 211, 211));
  setPalette(dialogPalette);

  group_ = new QGroupBox("ATA Command", this);
  group_->setObjectName("group1029");
  group_->setStyleSheet("QGroupBox { color: rgb(128, 0, 255); }");
  auto* grid = new QGridLayout(group_);

  QFont font = fixedPitchFont(12);
  QPalette editPalette;
  editPalette.setColor(QPalette::Text, QColor(128, 0, 0));
  editPalette.setColor(QPalette::Base, QColor(250, 251, 200));
  for (int i = 0; i < kConsoleEditCount; ++i) {
    const ConsoleEditInfo& info = consoleEdits()[static_cast<size_t>(i)];
    auto* label = new QLabel(info.label, group_);
    auto* edit = new QLineEdit(group_);
    edit->setObjectName(QString("edit%1").arg(info.id));
    restrictToRadix(edit, Radix::Hex, QString::fromLatin1(info.label), 4);
    edit->setAlignment(Qt::AlignCenter);
    edit->setFont(font);
    edit->setPalette(editPalette);
    edit->setFixedWidth(edit->fontMetrics().horizontalAdvance("WWWWWW"));
    // Upper case as typed, like the console's edits.
    connect(edit, &QLineEdit::textEdited, edit, [edit](const QString& text) {
      if (text == text.toUpper()) return;
      int pos = edit->cursorPosition();
      edit->setText(text.toUpper());
      edit->setCursorPosition(pos);
    });
    grid->addWidget(label, i, 0);
    grid->addWidget(edit, i, 1);
    edits_[static_cast<size_t>(i)] = edit;
  }

  dataOut_ = new QCheckBox("Data out", this);
  dataOut_->setObjectName("check1226");
  send_ = new QPushButton("Send", this);
  send_->setObjectName("button1038");
  abort_ = new QPushButton("Abort", this);
  abort_->setObjectName("button1039");
  send_->setDefault(true);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(dataOut_);
  buttons->addStretch();
  buttons->addWidget(send_);
  buttons->addWidget(abort_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group_);
  layout->addLayout(buttons);

  connect(send_, &QPushButton::clicked, this, &CEditAta::onSend);
  connect(abort_, &QPushButton::clicked, this, &CEditAta::onAbort);
}

void CEditAta::collect() {
  for (int i = 0; i < kConsoleEditCount; ++i) {
    console_.edits[static_cast<size_t>(i)] = edits_[static_cast<size_t>(i)]->text().toStdString();
  }
  console_.dataOut = dataOut_->isChecked();
}

void CEditAta::onSend() {
  if (closing_) return;
  closing_ = true;
  collect();
  lastOk_ = console_.send(ctx_, dump_);
  QDialog::accept();
}

void CEditAta::onAbort() {
  if (closing_) return;
  closing_ = true;
  console_.abort(ctx_, dump_);
  QDialog::reject();
}

void CEditAta::reject() { onAbort(); }

}  // namespace zorv::app
