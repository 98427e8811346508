#include "transport/user_interface.h"

namespace zorv {

std::string_view boxIconName(BoxIcon icon) {
  switch (icon) {
    case BoxIcon::None: return "none";
    case BoxIcon::Information: return "information";
    case BoxIcon::Stop: return "stop";
    case BoxIcon::Exclamation: return "exclamation";
    case BoxIcon::Question: return "question";
  }
  return "none";
}

}  // namespace zorv
