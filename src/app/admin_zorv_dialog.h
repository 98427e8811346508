#pragma once
// CAdminZorv: the model-lock dialog that "Lock Model" on the diagnostics page
// opens. It lists the brands the running program accepts; "Model Lock"
// writes a copy of a chosen executable that accepts only the selected one.

#include <QComboBox>
#include <QDialog>
#include <QPlainTextEdit>
#include <QPushButton>

#include <memory>

#include "app/page_registry.h"
#include "app/qt_message_sink.h"

namespace zorv::app {

class CAdminZorv : public QDialog {
  Q_OBJECT
 public:
  CAdminZorv(Context& ctx, QWidget* parent = nullptr);

  QComboBox* modelName() const { return modelName_; }
  QPlainTextEdit* textBox() const { return text_; }
  QPushButton* modelLockButton() const { return lock_; }
  QPushButton* cancelButton() const { return cancel_; }
  // The brand index "Model Lock" writes for the selected entry.
  int selectedBrandIndex() const;

 public Q_SLOTS:
  void onModelLock();

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  Context& ctx_;
  QComboBox* modelName_ = nullptr;
  QPlainTextEdit* text_ = nullptr;
  QPushButton* lock_ = nullptr;
  QPushButton* cancel_ = nullptr;
  std::unique_ptr<QtMessageSink> sink_;
};

}  // namespace zorv::app
