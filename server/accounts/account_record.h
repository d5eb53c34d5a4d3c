#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "server/accounts/server_account.h"

namespace tarvo::server {

/// Largest value of a one-byte length or count in a record.
inline constexpr std::size_t kMaxRecordByteLength = 223;
/// Largest value of a two-byte length or count in a record.
inline constexpr std::size_t kMaxRecordWordLength = 16383;

/// Whether a line holds at least the three length-prefixed strings and the flags byte; shorter
/// lines are not account records.
bool RecordHoldsHeader(std::string_view record);

/// Fills `account` from one record (without its line end), old layout included. A field cut
/// short by the end of the record is taken as far as it goes. Leaves `Id` and `Session` alone.
void ParseAccountFields(std::string_view record, TServerAccount& account);

/// One record of the accounts file. Values the format cannot carry (a line feed anywhere, a
/// length beyond its length field, a final carriage return) are cut or left out so that the
/// record always reads back as written; each change is described in `warnings` (when given).
std::string FormatAccountRecord(const TServerAccount& account,
                                std::vector<std::string>* warnings = nullptr);

}  // namespace tarvo::server
