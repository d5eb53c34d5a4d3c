#pragma once

#include <string>
#include <string_view>

#include "protocol/properties.h"

namespace tarvo::server {

/// An account's stored property text decoded onto the defaults of a new player; entries the
/// text lacks keep their defaults.
protocol::PropertySet DecodeStoredProperties(std::string_view properties);

/// The stored property text of `values`: one entry per stored code, ascending.
std::string EncodeStoredProperties(const protocol::PropertySet& values);

}  // namespace tarvo::server
