// Packets as the player client receives them: long messages, presence and removal entries.
#include "fuzz_support.h"
#include "protocol/framing.h"
#include "protocol/messages.h"
#include "protocol/properties.h"

namespace {

using namespace tarvo::protocol;

struct Sink : MessageSink {
  explicit Sink(ClientSplitter& s) : split(s) {}
  void OnMessage(std::string_view raw) override {
    auto m = SplitMessage(raw);
    if (!m) return;
    if (m->id == msg::kLongMessageFollows) {
      if (auto n = ParseLongMessageFollows(m->payload)) split.EnterLongMessageMode(*n);
      return;
    }
    std::string_view entries = m->payload;
    if (m->id == msg::kOtherPlayer) {
      auto p = ParsePlayerEntries(m->payload);
      if (!p) return;
      entries = p->entries;
    }
    EntryReader reader(entries, EntrySide::kClient);
    PropertyEntry entry;
    PropertySet values;
    while (reader.Next(entry) == EntryStatus::kEntry) StoreEntry(values, entry);
    ParseMovement(m->payload);
    ParseAccountDetails(m->payload);
    ParsePlayerDetails(m->payload);
    ParsePlayerEntry(m->payload);
  }
  void OnLongMessage(std::string_view raw) override {
    if (!raw.empty()) ParseFile(raw.substr(1));
  }
  ClientSplitter& split;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string wire = tarvo::fuzz::WireFrom(data, size);
  tarvo::fuzz::InputStream stream(reinterpret_cast<const std::uint8_t*>(wire.data()), wire.size());
  ClientSplitter split;
  PacketConnection conn(&stream, split, true);
  Sink sink(split);
  conn.ReceivePending(sink);
  return 0;
}
