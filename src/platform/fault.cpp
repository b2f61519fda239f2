#include "platform/fault.h"

#include <atomic>
#include <cerrno>

namespace zelvo {

namespace {
std::atomic<bool> gArmed{false};
std::atomic<unsigned> gMask{0};
std::atomic<std::uint64_t> gTarget{0};
std::atomic<std::uint64_t> gSeen{0};
std::atomic<bool> gFired{false};
std::atomic<int> gErr{0};
} // namespace

void armFault(unsigned mask, std::uint64_t nth, int err) {
  gArmed.store(false);
  gMask.store(mask);
  gTarget.store(nth);
  gSeen.store(0);
  gFired.store(false);
  gErr.store(err);
  gArmed.store(nth != 0);
}

void disarmFault() { gArmed.store(false); }

std::uint64_t faultOperationsSeen() { return gSeen.load(); }
bool faultFired() { return gFired.load(); }

bool faultPoint(FaultOp op) {
  if (!gArmed.load(std::memory_order_relaxed)) return false;
  if ((gMask.load() & unsigned(op)) == 0) return false;
  const std::uint64_t n = gSeen.fetch_add(1) + 1;
  if (n != gTarget.load()) return false;
  gFired.store(true);
  errno = gErr.load();
  return true;
}

} // namespace zelvo
