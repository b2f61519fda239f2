// Progress of long operations, reported to whoever runs them (the command line or the GUI).
#pragma once

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
};

// Calls sink->progress when there is a sink.
inline void reportProgress(ProgressSink* sink, ProgressStage stage, std::uint64_t done, std::uint64_t total) {
  if (sink) sink->progress(stage, done, total);
}

} // namespace zelvo
