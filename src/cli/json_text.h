// JSON as the commands print it: whatever bytes a file name holds, the text is made (bytes that
// are not UTF-8 become U+FFFD) and the program never ends on it.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace zelvo::cli {

template <class Json> std::string jsonText(const Json& json, int indent = 2) {
  return json.dump(indent, ' ', false, Json::error_handler_t::replace);
}

} // namespace zelvo::cli
