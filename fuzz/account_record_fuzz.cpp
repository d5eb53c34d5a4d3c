// Account records as the accounts file holds them. With the first byte even, every line is parsed
// as the loader parses it; with it odd, the bytes are cut into the fields of an account as the
// server may hold it (line feeds, overlong texts and lists, any rights). Either way, what the
// writer makes of the account must read back exactly as written.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "server/accounts/account_record.h"

namespace {

using tarvo::server::TServerAccount;

bool SameStoredFields(const TServerAccount& a, const TServerAccount& b) {
  return a.Name == b.Name && a.Password == b.Password && a.Properties == b.Properties &&
         a.LoadOnly == b.LoadOnly && a.Blocked == b.Blocked && a.Rights == b.Rights &&
         a.ShortListA == b.ShortListA && a.ShortListB == b.ShortListB && a.LongList == b.LongList;
}

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "account record: %s\n", what);
  std::abort();
}

// Writes `account`, reads the record back and checks the writer's promise.
void CheckWritten(const TServerAccount& account) {
  std::vector<std::string> warnings;
  const std::string record = tarvo::server::FormatAccountRecord(account, &warnings);
  // The record must survive the loader's line handling untouched.
  if (record.find('\n') != std::string::npos) Fail("record holds a line feed");
  if (!record.empty() && record.back() == '\r') Fail("record ends in a carriage return");
  if (!tarvo::server::RecordHoldsHeader(record)) Fail("record lacks its header");

  TServerAccount again;
  tarvo::server::ParseAccountFields(record, again);
  // Nothing changed on the way: without a warning the writer kept every field (a long list
  // never keeps empty entries, silently).
  TServerAccount expected = account;
  std::erase(expected.LongList, std::string());
  if (warnings.empty() && !SameStoredFields(expected, again))
    Fail("fields changed without warning");
  // What was written reads back as written, and writing it again changes nothing.
  std::vector<std::string> second_warnings;
  if (tarvo::server::FormatAccountRecord(again, &second_warnings) != record)
    Fail("record does not read back as written");
  if (!second_warnings.empty()) Fail("a written record needs changes when written again");
}

// One line as the accounts file loader sees it: without its line feed and final carriage return.
void CheckLine(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line.empty() || !tarvo::server::RecordHoldsHeader(line)) return;
  TServerAccount parsed;
  tarvo::server::ParseAccountFields(line, parsed);
  CheckWritten(parsed);
}

// Cuts the text at each "\xFF\xFF": name, password, properties, flags and rights, then list
// entries; a "\xFF\xFE" inside a list part moves on to the next list.
void CheckFields(std::string_view text) {
  std::vector<std::string_view> parts;
  for (;;) {
    const std::size_t cut = text.find("\xFF\xFF");
    parts.push_back(text.substr(0, cut));
    if (cut == std::string_view::npos) break;
    text.remove_prefix(cut + 2);
  }
  parts.resize(std::max<std::size_t>(parts.size(), 4));
  TServerAccount account;
  account.Name = parts[0];
  account.Password = parts[1];
  account.Properties = parts[2];
  const std::string_view flags = parts[3];
  account.LoadOnly = !flags.empty() && (flags[0] & 1);
  account.Blocked = !flags.empty() && (flags[0] & 2);
  account.Rights = flags.size() > 1 ? static_cast<signed char>(flags[1]) : 0;
  std::vector<std::string>* lists[] = {&account.ShortListA, &account.ShortListB, &account.LongList};
  std::size_t list = 0;
  for (std::size_t i = 4; i < parts.size(); ++i) {
    std::string_view part = parts[i];
    for (;;) {
      const std::size_t next = part.find("\xFF\xFE");
      lists[list]->emplace_back(part.substr(0, next));
      if (next == std::string_view::npos) break;
      part.remove_prefix(next + 2);
      list = (list + 1) % 3;
    }
  }
  // Long lists of long entries are what the length fields limit; make them reachable.
  if (!account.LongList.empty() && account.LongList.back().size() == 1) {
    account.LongList.back().assign(
        static_cast<unsigned char>(account.LongList.back()[0]) * std::size_t{80}, 'x');
  }
  CheckWritten(account);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (size > 0 && (data[0] & 1)) {
    CheckFields(text.substr(1));
    return 0;
  }
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    CheckLine(text.substr(pos, end - pos));
    pos = end + 1;
  }
  return 0;
}
