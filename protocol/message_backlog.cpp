#include "protocol/message_backlog.h"

namespace tarvo::protocol {

void MessageBacklog::Append(std::string_view raw, bool long_message) {
  bytes_.append(raw);
  entries_.push_back(Entry{raw.size(), long_message});
}

void MessageBacklog::Clear() {
  if (handling_) {
    clear_requested_ = true;
    return;
  }
  bytes_.clear();
  head_ = 0;
  entries_.clear();
  first_ = 0;
  clear_requested_ = false;
}

void MessageBacklog::Settle() {
  if (clear_requested_ || first_ == entries_.size()) {
    Clear();
  } else if (head_ >= bytes_.size() / 2) {
    bytes_.erase(0, head_);
    head_ = 0;
    entries_.erase(entries_.begin(), entries_.begin() + static_cast<std::ptrdiff_t>(first_));
    first_ = 0;
  }
}

}  // namespace tarvo::protocol
