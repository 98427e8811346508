#include "app/admin_zorv_dialog.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QVBoxLayout>

#include "app/dev_info_page.h"
#include "discovery/brands.h"
#include "firmware/updater.h"

namespace zorv::app {

CAdminZorv::CAdminZorv(Context& ctx, QWidget* parent) : QDialog(parent), ctx_(ctx) {
  setObjectName("CAdminZorv");
  setWindowTitle(QStringLiteral("Model Lock"));
  modelName_ = new QComboBox(this);
  modelName_->setObjectName("modelName");
  text_ = QtMessageSink::makeTextBox(this, 10);
  text_->setObjectName("adminText");
  sink_ = std::make_unique<QtMessageSink>(text_);
  lock_ = new QPushButton(QStringLiteral("Model Lock"), this);
  lock_->setObjectName("modelLock");
  lock_->setAutoDefault(false);

  cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
  cancel_->setObjectName("cancel");
  cancel_->setAutoDefault(false);

  auto* row = new QHBoxLayout;
  row->addWidget(new QLabel(QStringLiteral("Model Name"), this));
  row->addWidget(modelName_, 1);
  row->addWidget(lock_);
  row->addWidget(cancel_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(row);
  layout->addWidget(text_, 1);
  resize(420, 260);

  for (std::string_view name : acceptedBrands(ctx_)) {
    QString q = QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
    modelName_->addItem(q);
    AppendMessage(ctx_, std::string(name) + "\r\n", *sink_);
  }
  modelName_->setCurrentIndex(modelName_->count() > 0 ? 0 : -1);
  connect(lock_, &QPushButton::clicked, this, &CAdminZorv::onModelLock);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
}

void CAdminZorv::keyPressEvent(QKeyEvent* event) {
  // Escape leaves the dialog from any of its controls, the text box included.
  if (event->key() == Qt::Key_Escape) {
    event->accept();
    reject();
    return;
  }
  QDialog::keyPressEvent(event);
}

// The combo lists the running program's range only: its position counts
// from the range's first brand.
int CAdminZorv::selectedBrandIndex() const {
  int position = modelName_->currentIndex();
  if (position < 0) return -1;
  return std::min<int>(ctx_.ucBrandFirst, kBrandCount) + position;
}

void CAdminZorv::onModelLock() {
  int index = selectedBrandIndex();
  if (index < 0 || index >= kBrandCount) {
    AppendMessage(ctx_, "<<<<Lock Model Fail>>>>\r\n", *sink_);
    return;
  }
  firmware::lockModel(ctx_, static_cast<uint8_t>(index), *sink_);
}

namespace {

void openModelLockDialog(PageServices& services, QWidget* owner) {
  auto* dialog = new CAdminZorv(services.ctx, owner);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->show();
}

ModelLockRegistrar reg{&openModelLockDialog};

}  // namespace

}  // namespace zorv::app
