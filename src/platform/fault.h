// Fault injection for tests: makes the Nth file operation of chosen kinds fail as if the system
// had refused it. Every read, write, sync, rename and creation of the platform layer passes through
// faultPoint(); when nothing is armed that costs one relaxed atomic load.
#pragma once

#include <cstdint>

namespace zelvo {

enum class FaultOp : unsigned {
  Open = 1u << 0,   // creating or opening a file for writing (temporary files included)
  Read = 1u << 1,   // one read call
  Write = 1u << 2,  // one write call
  Sync = 1u << 3,   // fsync of a file or a folder
  Rename = 1u << 4, // moving a file over another, or giving a file its name
};
inline constexpr unsigned kAllFaultOps = 0x1F;

// Arms the injection: counting from the call, the `nth` operation (1 = the next one) whose kind is
// in `mask` fails with errno `err`; later operations succeed. `nth` 0 disarms.
void armFault(unsigned mask, std::uint64_t nth, int err);
void disarmFault();
// Operations of the armed kinds seen since armFault, and whether the fault has fired.
std::uint64_t faultOperationsSeen();
bool faultFired();

// Called by the platform layer before each operation: true (with errno set) when it must fail.
bool faultPoint(FaultOp op);

} // namespace zelvo
