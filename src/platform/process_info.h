// Facts about the running process that the command line and the benchmarks report.
#pragma once

#include <cstdint>
#include <cstdio>

namespace zelvo {

// Whether `stream` is connected to a terminal (progress lines are drawn only then).
bool isTerminal(std::FILE* stream);

// The largest resident set the process has had so far, in bytes; 0 when unknown.
std::uint64_t peakResidentBytes();

} // namespace zelvo
