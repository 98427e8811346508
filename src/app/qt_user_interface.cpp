#include "app/qt_user_interface.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/gui_thread.h"

namespace zorv::app {

namespace {

QString qs(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

QMessageBox::Icon qtIcon(BoxIcon icon) {
  switch (icon) {
    case BoxIcon::Information: return QMessageBox::Information;
    case BoxIcon::Stop: return QMessageBox::Critical;
    case BoxIcon::Exclamation: return QMessageBox::Warning;
    case BoxIcon::Question: return QMessageBox::Question;
    case BoxIcon::None: break;
  }
  return QMessageBox::NoIcon;
}

QString captionOr(std::string_view caption) {
  return caption.empty() ? QApplication::applicationDisplayName() : qs(caption);
}

QString patternsOf(QString field) {
  field = field.trimmed();
  // A description put where the pattern belongs ("All Files(*.*)"): its parentheses hold the pattern.
  int open = field.lastIndexOf('(');
  if (open >= 0 && field.endsWith(')')) field = field.mid(open + 1, field.size() - open - 2);
  field.replace(';', ' ');
  return field.simplified();
}

}  // namespace

QStringList windowsFilterToQt(std::string_view filter) {
  QStringList parts = qs(filter).split('|');
  QStringList out;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString description = parts[i].trimmed();
    QString patterns = patternsOf(parts[i + 1]);
    if (description.isEmpty() && patterns.isEmpty()) break;  // the closing "||"
    if (patterns.isEmpty()) continue;                          // a description without a pattern filters nothing
    // Qt reads the patterns from the last parentheses, so a description's own go.
    qsizetype open = description.lastIndexOf('(');
    if (open > 0 && description.endsWith(')')) description = description.left(open).trimmed();
    if (description.isEmpty()) description = QStringLiteral("Files");
    out << QStringLiteral("%1 (%2)").arg(description, patterns);
  }
  if (out.isEmpty()) out << QStringLiteral("All Files (*)");
  return out;
}

void QtUserInterface::messageBox(std::string_view text, BoxIcon icon, std::string_view caption) {
  QString t = qs(text), c = captionOr(caption);
  runOnGuiThread([this, t, c, icon] {
    QMessageBox box(qtIcon(icon), c, t, QMessageBox::Ok, parent_);
    box.exec();
  });
}

bool QtUserInterface::askYesNo(std::string_view text, std::string_view caption, BoxIcon icon) {
  QString t = qs(text), c = captionOr(caption);
  return runOnGuiThread([this, t, c, icon] {
    QMessageBox box(qtIcon(icon), c, t, QMessageBox::Yes | QMessageBox::No, parent_);
    return box.exec() == QMessageBox::Yes;
  });
}

bool QtUserInterface::replyWindow(std::string_view text, bool withGoOn) {
  QString t = qs(text);
  return runOnGuiThread([this, t, withGoOn] {
    QDialog dialog(parent_);
    dialog.setObjectName("replyWindow");
    dialog.setWindowTitle(QApplication::applicationDisplayName());
    auto* layout = new QVBoxLayout(&dialog);
    auto* label = new QLabel(t, &dialog);
    label->setWordWrap(true);
    layout->addWidget(label);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    if (withGoOn) {
      auto* goOn = new QPushButton(QStringLiteral("Go On"), &dialog);
      buttons->addWidget(goOn);
      QObject::connect(goOn, &QPushButton::clicked, &dialog, &QDialog::accept);
    }
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), &dialog);
    cancel->setDefault(true);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    QObject::connect(cancel, &QPushButton::clicked, &dialog, &QDialog::reject);
    return dialog.exec() == QDialog::Accepted;
  });
}

bool QtUserInterface::askGoOn(std::string_view text) { return replyWindow(text, true); }

void QtUserInterface::showCancelOnly(std::string_view text) { replyWindow(text, false); }

std::optional<std::string> QtUserInterface::chooseOpenFile(std::string_view caption, std::string_view filter) {
  QString c = qs(caption);
  QString f = windowsFilterToQt(filter).join(QStringLiteral(";;"));
  QString chosen = runOnGuiThread([this, c, f] { return QFileDialog::getOpenFileName(parent_, c, QString(), f); });
  if (chosen.isEmpty()) return std::nullopt;
  return chosen.toStdString();
}

std::vector<std::string> QtUserInterface::chooseOpenFiles(std::string_view caption, std::string_view filter) {
  QString c = qs(caption);
  QString f = windowsFilterToQt(filter).join(QStringLiteral(";;"));
  QStringList chosen =
      runOnGuiThread([this, c, f] { return QFileDialog::getOpenFileNames(parent_, c, QString(), f); });
  std::vector<std::string> out;
  for (const QString& s : chosen) out.push_back(s.toStdString());
  return out;
}

std::optional<std::string> QtUserInterface::chooseSaveFile(std::string_view caption, std::string_view filter,
                                                           std::string_view suggestedName) {
  return chooseSaveFileWith(caption, filter, suggestedName, {});
}

std::optional<std::string> QtUserInterface::chooseSaveFileWith(std::string_view caption,
                                                               std::string_view filter,
                                                               std::string_view suggestedName,
                                                               const SaveDialogOptions& options) {
  QString c = qs(caption), s = qs(suggestedName), ext = qs(options.defaultExtension);
  QStringList filters = windowsFilterToQt(filter);
  // "*.*" as a suggested name is a filter, not a name.
  if (s.contains('*')) s.clear();
  const bool callerAsks = options.callerAsksBeforeReplacing;
  QString chosen = runOnGuiThread([this, c, filters, s, ext, callerAsks] {
    QFileDialog dialog(parent_, c, QString(), filters.join(QStringLiteral(";;")));
    dialog.setObjectName("saveDialog");
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    if (!ext.isEmpty()) dialog.setDefaultSuffix(ext);
    if (callerAsks) dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (!s.isEmpty()) dialog.selectFile(s);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
    return dialog.selectedFiles().constFirst();
  });
  if (chosen.isEmpty()) return std::nullopt;
  return chosen.toStdString();
}

}  // namespace zorv::app
