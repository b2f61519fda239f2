// Progress of long operations, reported to whoever runs them (the command line or the GUI), and
// the one way to stop them: long loops ask shouldContinue() and end as a failure with
// ErrorCause::Cancelled when it says no.
#pragma once

#include "platform/error.h"

#include <cstdint>

namespace zelvo {

enum class ProgressStage {
  GeneratingTiles,  // hi-res tiles generated, of all tile entries
  ReplacingTiles,   // screen files processed, of all screen files
  CompressingRom,   // ROM bytes compressed, of the ROM size
  CompressingHiRes, // hi-res payload bytes compressed, of the payload size
};

class ProgressSink {
public:
  virtual ~ProgressSink() = default;
  // `done` of `total` units of `stage`; called often, so keep it cheap.
  virtual void progress(ProgressStage stage, std::uint64_t done, std::uint64_t total) = 0;
  // False once the user asked to stop; called often (may be from worker threads), so keep it
  // cheap and thread-safe.
  virtual bool shouldContinue() { return true; }
};

// Calls sink->progress when there is a sink.
inline void reportProgress(ProgressSink* sink, ProgressStage stage, std::uint64_t done, std::uint64_t total) {
  if (sink) sink->progress(stage, done, total);
}

// Whether the sink (if any) asked to stop.
inline bool cancelRequested(ProgressSink* sink) { return sink && !sink->shouldContinue(); }

// The Error of an operation that stopped because its sink asked it to.
inline Error cancelledError() {
  return makeError(ErrorCause::Cancelled, {}, "stopped at the user's request");
}

} // namespace zelvo
