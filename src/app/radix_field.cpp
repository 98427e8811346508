#include "app/radix_field.h"

#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QToolTip>

namespace zorv::app {

QString radixRefusalText(const QString& name, Radix radix, int maxDigits) {
  switch (radix) {
    case Radix::Hex:
      return QStringLiteral("%1: hexadecimal digits only (0-9, A-F), at most %2").arg(name).arg(maxDigits);
    case Radix::HexOrSuffixH:
      return QStringLiteral("%1: hexadecimal digits only (0-9, A-F), at most %2, optionally followed by H")
          .arg(name)
          .arg(maxDigits);
    case Radix::Decimal:
      break;
  }
  return QStringLiteral("%1: decimal digits only (0-9), at most %2").arg(name).arg(maxDigits);
}

void restrictToRadix(QLineEdit* field, Radix radix, const QString& name, int maxDigits) {
  QString digits = radix == Radix::Decimal ? QStringLiteral("[0-9]") : QStringLiteral("[0-9A-Fa-f]");
  QString pattern = QStringLiteral("%1{0,%2}").arg(digits).arg(maxDigits);
  if (radix == Radix::HexOrSuffixH) pattern += QStringLiteral("[Hh]?");
  field->setValidator(new QRegularExpressionValidator(QRegularExpression(pattern), field));
  field->setMaxLength(maxDigits + (radix == Radix::HexOrSuffixH ? 1 : 0));
  const QString refusal = radixRefusalText(name, radix, maxDigits);
  field->setToolTip(refusal);
  QObject::connect(field, &QLineEdit::inputRejected, field, [field, refusal] {
    QToolTip::showText(field->mapToGlobal(QPoint(0, field->height())), refusal, field);
  });
}

}  // namespace zorv::app
