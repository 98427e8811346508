#include "app/qt_drive_list.h"

#include "app/gui_thread.h"

namespace zorv::app {

QtDriveList::QtDriveList(QComboBox* combo, QObject* parent) : QObject(parent), combo_(combo) {
  connect(combo, &QComboBox::activated, this, &QtDriveList::userSelected);
}

void QtDriveList::clear() {
  runOnGuiThread([this] {
    if (combo_) combo_->clear();
  });
}

void QtDriveList::insertLine(int position, const std::string& line) {
  QString text = QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
  runOnGuiThread([this, position, text] {
    if (combo_) combo_->insertItem(position, text);
  });
}

int QtDriveList::count() const {
  return runOnGuiThread([this] { return combo_ ? combo_->count() : 0; });
}

std::string QtDriveList::line(int index) const {
  return runOnGuiThread([this, index] {
    if (!combo_ || index < 0 || index >= combo_->count()) return std::string();
    return combo_->itemText(index).toStdString();
  });
}

void QtDriveList::select(int index) {
  runOnGuiThread([this, index] {
    if (combo_) combo_->setCurrentIndex(index);
  });
}

int QtDriveList::currentSelection() const {
  return runOnGuiThread([this] { return combo_ ? combo_->currentIndex() : -1; });
}

void QtDriveList::setEnabled(bool enabled) {
  runOnGuiThread([this, enabled] {
    if (combo_) combo_->setEnabled(enabled);
  });
}

bool QtDriveList::isEnabled() const {
  return runOnGuiThread([this] { return combo_ && combo_->isEnabled(); });
}

void QtDriveList::takeFocus() {
  runOnGuiThread([this] {
    if (combo_) combo_->setFocus();
  });
}

}  // namespace zorv::app
