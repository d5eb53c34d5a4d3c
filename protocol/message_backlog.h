#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/byte_stream.h"
#include "protocol/framing.h"

namespace tarvo::protocol {

/// Received messages waiting for their turn, so that a flood cannot hold a tick: the owner reads
/// the stream into it, then hands at most a budget of them per tick to its handlers, in the
/// order they arrived; the rest wait for the next tick. Long messages keep their kind.
class MessageBacklog final : public MessageSink {
 public:
  using Clock = std::chrono::steady_clock;

  /// At most `budget` messages are handled per call to `Handle`; 0 or less: no limit.
  explicit MessageBacklog(int budget = 0) : budget_(budget) {}

  void SetBudget(int budget) { budget_ = budget; }
  int budget() const { return budget_; }

  /// Appends a message; never while `Handle` runs (its handler's view would move).
  void OnMessage(std::string_view raw) override { Append(raw, false); }
  void OnLongMessage(std::string_view raw) override { Append(raw, true); }

  std::size_t size() const { return entries_.size() - first_; }
  bool empty() const { return size() == 0; }
  /// Twice the budget waits: reading more would only grow the backlog, so the reader stops and
  /// TCP pushes back on the sender.
  bool Full() const { return budget_ > 0 && size() >= 2 * static_cast<std::size_t>(budget_); }

  /// Hands waiting messages, oldest first, to `handler(raw, long_message)`: at most the budget,
  /// and none after `deadline` once one was handled (so every call makes progress). A `Clear`
  /// from inside a handler stops the call after that handler. Returns how many were handled; a
  /// call from inside a handler does nothing.
  template <typename Handler>
  std::size_t Handle(Handler&& handler, Clock::time_point deadline = Clock::time_point::max()) {
    if (handling_) return 0;
    handling_ = true;
    // A handler that throws leaves the backlog usable, without the message it was given.
    struct Done {
      MessageBacklog& backlog;
      ~Done() {
        backlog.handling_ = false;
        backlog.Settle();
      }
    } done{*this};
    const bool timed = deadline != Clock::time_point::max();
    std::size_t handled = 0;
    stop_requested_ = false;
    while (first_ < entries_.size() && !clear_requested_ && !stop_requested_) {
      if (budget_ > 0 && handled >= static_cast<std::size_t>(budget_)) break;
      if (timed && handled > 0 && Clock::now() >= deadline) break;
      const Entry entry = entries_[first_++];
      const std::string_view raw(bytes_.data() + head_, entry.size);
      head_ += entry.size;
      ++handled;
      handler(raw, entry.long_message);
    }
    return handled;
  }

  /// Forgets every waiting message (the connection is ending); from inside a handler, once that
  /// handler returns.
  void Clear();
  /// From inside a handler: the running `Handle` stops once that handler returns, and the
  /// messages after it wait for the next call.
  void StopHandling() { stop_requested_ = true; }

 private:
  struct Entry {
    std::size_t size;
    bool long_message;
  };

  void Append(std::string_view raw, bool long_message);
  // Drops what was handled: all of it when nothing waits, else once it is half the buffer.
  void Settle();

  int budget_;
  std::string bytes_;  // the waiting messages back to back, from `head_` on
  std::size_t head_ = 0;
  std::vector<Entry> entries_;  // from `first_` on
  std::size_t first_ = 0;
  bool handling_ = false;
  bool clear_requested_ = false;
  bool stop_requested_ = false;
};

/// The stream a backlog's owner reads through: it reads nothing while the backlog is full, and
/// passes everything else to the real stream.
class BackloggedStream final : public ByteStream {
 public:
  BackloggedStream(ByteStream* stream, const MessageBacklog& backlog)
      : stream_(stream), backlog_(backlog) {}

  IoResult Send(const std::uint8_t* data, std::size_t size) override {
    return stream_->Send(data, size);
  }
  IoResult Receive(std::uint8_t* data, std::size_t capacity) override {
    if (backlog_.Full()) return {IoStatus::kWouldBlock, 0};
    return stream_->Receive(data, capacity);
  }
  IoResult SendMore(const std::uint8_t* data, std::size_t size) override {
    return stream_->SendMore(data, size);
  }

 private:
  ByteStream* stream_;
  const MessageBacklog& backlog_;
};

}  // namespace tarvo::protocol
