// Packets as the server receives them, through every parser a server handler uses.
#include "fuzz_support.h"
#include "protocol/framing.h"
#include "protocol/messages.h"
#include "protocol/properties.h"

namespace {

using namespace tarvo::protocol;

struct Sink : MessageSink {
  void OnMessage(std::string_view raw) override {
    auto m = SplitMessage(raw);
    if (!m) return;
    ParseLogin(m->payload);
    EntryReader reader(m->payload, EntrySide::kServer);
    PropertyEntry entry;
    PropertySet values;
    while (reader.Next(entry) == EntryStatus::kEntry) StoreEntry(values, entry);
    ParseAccountNumber(m->payload);
    ParseSetAccount(m->payload);
    ParseSetPlayer(m->payload);
    ParsePlayerId(m->payload);
    ParseReloadLevels(m->payload);
    ParsePlayerText(m->payload);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string wire = tarvo::fuzz::WireFrom(data, size);
  tarvo::fuzz::InputStream stream(reinterpret_cast<const std::uint8_t*>(wire.data()), wire.size());
  ServerSplitter split;
  PacketConnection conn(&stream, split, false);
  Sink sink;
  conn.ReceivePending(sink);
  return 0;
}
