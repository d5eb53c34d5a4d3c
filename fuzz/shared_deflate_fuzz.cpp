// The shared relay encoder: the input becomes a tick of lines with owners; every recipient's
// packets must inflate, within the client's bound, to the batches it would have got alone.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/shared_deflate.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarvo::protocol;
  if (size < 1) return 0;
  // The first byte: how many owners share the lines (1 to 16); then lines separated by line
  // feeds, each line's second byte (its first when alone) naming its owner.
  const std::uint64_t owners = 1 + data[0] % 16;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  RelayPackets relay;
  relay.Reset(Compressor::kShared);
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view body = text.substr(start, end - start);
    if (!body.empty()) {
      const std::uint64_t owner =
          1 + static_cast<unsigned char>(body[body.size() > 1 ? 1 : 0]) % owners;
      relay.Add(std::string(body) + '\n', owner);
    }
    start = end + 1;
  }
  relay.Prepare();
  std::vector<std::string> packets;
  for (std::uint64_t recipient = 0; recipient <= owners; ++recipient) {
    relay.PacketsFor(recipient, packets);
    if (!relay.Verify(recipient, packets)) std::abort();
  }
  return 0;
}
