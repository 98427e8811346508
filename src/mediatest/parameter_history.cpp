#include "mediatest/parameter_history.h"

namespace zorv {

void ParameterHistory::store(const HistoryEntry& entry) {
  position_ = (position_ + 1) % kEntries;
  entries_[static_cast<size_t>(position_)] = entry;
}

const HistoryEntry* ParameterHistory::current() const {
  return position_ < 0 ? nullptr : &entries_[static_cast<size_t>(position_)];
}

}  // namespace zorv
