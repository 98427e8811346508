#include "app/edit_func_dialog.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include "mediatest/media_test_worker.h"

namespace zorv::app {

namespace {

QString qs(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Edit boxes take only the digits of their radix; the model refuses anything
// else on Send as well, so a pasted text cannot slip through.
QValidator* radixValidator(Radix radix, QObject* parent) {
  QRegularExpression digits(radix == Radix::Hex ? QStringLiteral("[0-9A-Fa-f]*") : QStringLiteral("[0-9]*"));
  return new QRegularExpressionValidator(digits, parent);
}

}  // namespace

CEditFuncDialog::CEditFuncDialog(Context& ctx, CEditFunc& model, Starter start, QWidget* parent)
    : QDialog(parent), ctx_(ctx), model_(model), start_(std::move(start)) {
  setObjectName("editFunc");
  setWindowTitle("Test Parameters");
  setModal(true);
  auto* layout = new QVBoxLayout(this);

  auto* fields = new QGridLayout;
  constexpr int kRows = (kEditFieldCount + 1) / 2;
  for (int f = 0; f < kEditFieldCount; ++f) {
    auto field = static_cast<EditField>(f);
    const EditFieldSpec& fieldInfo = editFieldSpec(field);
    auto* edit = new QLineEdit(this);
    edit->setObjectName(qs(fieldInfo.label));
    edit->setMaxLength(fieldInfo.textLimit);
    edit->setValidator(radixValidator(fieldInfo.radix, edit));
    edit->setEnabled(CEditFunc::fieldEnabled(field));
    connect(edit, &QLineEdit::textChanged, this, [this, field](const QString& text) {
      if (!loading_) model_.setText(field, text.toStdString());
    });
    edits_[static_cast<size_t>(f)] = edit;
    int row = f % kRows, column = (f / kRows) * 2;
    fields->addWidget(new QLabel(qs(fieldInfo.label), this), row, column);
    fields->addWidget(edit, row, column + 1);
  }
  layout->addLayout(fields);

  auto* groupRow = new QHBoxLayout;
  auto* item = new QGroupBox(qs(buttonGroupCaption(ButtonGroup::Item)), this);
  item->setObjectName("Item");
  auto* itemLayout = new QVBoxLayout(item);
  for (int i = 0; i < kCheckItemCount; ++i) {
    auto check = static_cast<CheckItem>(i);
    auto* box = new QCheckBox(qs(checkItemLabel(check)), item);
    box->setObjectName(qs(checkItemLabel(check)));
    connect(box, &QCheckBox::toggled, this, [this, check](bool on) {
      if (!loading_) model_.setChecked(check, on);
    });
    checks_[static_cast<size_t>(i)] = box;
    itemLayout->addWidget(box);
  }
  item->setEnabled(CEditFunc::groupEnabled(ButtonGroup::Item));
  groups_[0] = item;
  groupRow->addWidget(item);
  for (int g = 1; g <= kRadioGroupCount; ++g) {
    auto which = static_cast<ButtonGroup>(g);
    auto* box = new QGroupBox(qs(buttonGroupCaption(which)), this);
    box->setObjectName(qs(buttonGroupCaption(which)));
    auto* boxLayout = new QVBoxLayout(box);
    auto* buttons = new QButtonGroup(box);
    for (int b = 0; b < kRadioButtons; ++b) {
      auto* radio = new QRadioButton(QString::number(b), box);
      buttons->addButton(radio, b);
      boxLayout->addWidget(radio);
    }
    connect(buttons, &QButtonGroup::idToggled, this, [this, which](int id, bool on) {
      if (on && !loading_) model_.setRadio(which, id);
    });
    box->setEnabled(CEditFunc::groupEnabled(which));
    groups_[static_cast<size_t>(g)] = box;
    radios_[static_cast<size_t>(g)] = buttons;
    groupRow->addWidget(box);
  }
  layout->addLayout(groupRow);

  status_ = new QLabel(this);
  status_->setObjectName("status");
  layout->addWidget(status_);
  refusal_ = new QLabel(this);
  refusal_->setObjectName("refusal");
  refusal_->setWordWrap(true);
  refusal_->setStyleSheet("color: red");
  layout->addWidget(refusal_);

  auto* buttonRow = new QHBoxLayout;
  buttonRow->addStretch();
  send_ = new QPushButton("Send", this);
  send_->setObjectName("send");
  send_->setDefault(true);  // Enter in the dialog is Send
  abort_ = new QPushButton("Abort", this);
  abort_->setObjectName("abort");
  abort_->setAutoDefault(false);
  buttonRow->addWidget(send_);
  buttonRow->addWidget(abort_);
  layout->addLayout(buttonRow);
  connect(send_, &QPushButton::clicked, this, &CEditFuncDialog::send);
  connect(abort_, &QPushButton::clicked, this, &CEditFuncDialog::reject);
}

QRadioButton* CEditFuncDialog::radioButton(ButtonGroup group, int button) const {
  QButtonGroup* buttons = radios_[static_cast<size_t>(group)];
  return buttons ? qobject_cast<QRadioButton*>(buttons->button(button)) : nullptr;
}

void CEditFuncDialog::load() {
  loading_ = true;
  for (int f = 0; f < kEditFieldCount; ++f)
    edits_[static_cast<size_t>(f)]->setText(qs(model_.text(static_cast<EditField>(f))));
  for (int i = 0; i < kCheckItemCount; ++i)
    checks_[static_cast<size_t>(i)]->setChecked(model_.checked(static_cast<CheckItem>(i)));
  for (int g = 1; g <= kRadioGroupCount; ++g) {
    int checked = model_.radio(static_cast<ButtonGroup>(g));
    // A history entry may name a button the window does not show: then none is checked.
    QButtonGroup* buttons = radios_[static_cast<size_t>(g)];
    buttons->setExclusive(false);
    for (QAbstractButton* b : buttons->buttons()) b->setChecked(buttons->id(b) == checked);
    buttons->setExclusive(true);
  }
  status_->setText(qs(model_.statusText()));
  refusal_->clear();
  loading_ = false;
}

bool CEditFuncDialog::openFor(uint16_t opCode, uint64_t driveSectors) {
  if (!model_.open(opCode, driveSectors)) return false;
  load();
  show();
  raise();
  activateWindow();
  return true;
}

bool CEditFuncDialog::openRepeat(uint64_t driveSectors) {
  if (!model_.openRepeat(driveSectors)) return false;
  load();
  show();
  raise();
  activateWindow();
  return true;
}

void CEditFuncDialog::showRefusal(const std::string& text) { refusal_->setText(qs(text)); }

void CEditFuncDialog::send() {
  CEditFunc::SendResult sent = model_.send();
  if (!sent.ok()) return showRefusal(sent.refusal);
  std::string why = start_ ? start_(sent.params) : std::string("Nothing runs the test");
  if (!why.empty()) return showRefusal(why);
  refusal_->clear();
  QDialog::accept();
}

void CEditFuncDialog::reject() {
  AbortMediaTest(ctx_);
  QDialog::reject();
}

}  // namespace zorv::app
