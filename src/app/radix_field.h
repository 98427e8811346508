#pragma once
// Number fields of the pages: a field takes only the digits of its radix, as
// they are typed or pasted, so no box ever holds text that would be read as
// 0 or as "empty". A refused key says, at the field, which field it is and
// what it takes.

#include <QLineEdit>
#include <QString>

namespace zorv::app {

enum class Radix {
  Hex,           // 0-9, A-F, a-f
  HexOrSuffixH,  // the same, with an optional trailing H ("1DCF32AFH")
  Decimal,       // 0-9
};

// Installs the validator on field (at most maxDigits digits) and the notice
// of refused input; name is the field's label as the page shows it.
void restrictToRadix(QLineEdit* field, Radix radix, const QString& name, int maxDigits);

// "<name>: hexadecimal digits only (0-9, A-F), at most <n>" and the like.
QString radixRefusalText(const QString& name, Radix radix, int maxDigits);

}  // namespace zorv::app
