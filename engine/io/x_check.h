#pragma once

#include <string>
#include <string_view>

namespace tarvo::engine::io {

/// Whether assimp's .x reader takes `data`: "xof " first, after an optional UTF-8 byte-order mark.
bool IsXFile(std::string_view data);

/// Why the .x reader must not be given `data`, or an empty string when it may. Data that is not a
/// .x file (see IsXFile) passes. Binary and compressed .x files are refused. A
/// text file is walked object by object the way the reader walks it, and refused where a
/// declared count or an index does not match the data that follows (the reader would crash on
/// those), where objects nest too deeply, or where the reader itself would give up.
std::string FindXFileProblem(std::string_view data);

}  // namespace tarvo::engine::io
