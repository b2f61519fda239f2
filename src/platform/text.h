// Text for a person's terminal or log, whatever bytes a file name holds.
#pragma once

#include <string>

namespace zelvo {

// `text` with every control character (C0, DEL, and C1 written as UTF-8) and every byte that is no
// part of valid UTF-8 written as an escape: "\n", "\t", "\r", "\e" or "\xHH". Everything else,
// multi-byte characters included, stays as it is.
std::string printable(const std::string& text);

} // namespace zelvo
