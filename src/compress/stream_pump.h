// The loops shared by the zlib and libbz2 streams: both libraries keep next_in / avail_in /
// next_out / avail_out in a stream record with 32-bit counters, and differ only in the call that
// does one step of work and in the results it gives.
#pragma once

#include "compress/codec_error.h"
#include "compress/streams.h"
#include "platform/error.h"
#include "platform/file.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <string>

namespace zelvo::pump {

// The staging buffer and the library's stream record, in one zero-filled allocation.
template <class Stream, class Byte> struct StagedStream {
  Byte staging[kStagingBufferSize];
  Stream stream;
};

// The libraries count input and output in 32-bit unsigned fields; larger spans go in pieces.
template <class Count> Count pieceOf(std::size_t remaining) {
  return Count(std::min<std::size_t>(remaining, UINT_MAX));
}

// Writes the output gathered in the staging buffer, if any, and makes the whole buffer the
// library's output room again.
template <class Stream, class Byte> Status writeStaged(File& file, Stream& s, Byte* staging) {
  const std::size_t pending = kStagingBufferSize - s.avail_out;
  if (pending > 0)
    if (Status written = file.writeAll(staging, pending); !written) return written;
  s.next_out = staging;
  s.avail_out = kStagingBufferSize;
  return {};
}

// Hands `size` bytes to the compressor through `step` (one library call, giving its failure),
// writing the staging buffer to `file` whenever it is full, so only whole buffers are written.
template <class Stream, class Byte, class Step>
Status compressInput(File& file, Stream& s, Byte* staging, const void* data, std::size_t size, Step step) {
  auto* in = static_cast<const Byte*>(data);
  while (size > 0) {
    s.next_in = const_cast<Byte*>(in);
    s.avail_in = pieceOf<decltype(s.avail_in)>(size);
    const std::size_t piece = s.avail_in;
    while (s.avail_in > 0) {
      if (s.avail_out == 0) {
        if (Status written = writeStaged(file, s, staging); !written) return written;
      }
      if (Status stepped = step(); !stepped) return stepped;
    }
    in += piece;
    size -= piece;
  }
  return {};
}

// What one library call of a decompressor came to (its failure is the call's own Error).
enum class Step { More, End };

// Hands out what the decompressor produces through `step` (one library call, giving a Step or
// its failure) until `size` bytes of `buffer` are filled or the stream ends, refilling the staging
// buffer from `file` as input runs out; `produced` receives the count. End: the stream ended, and
// what was read beyond it was given back, so the file stands on its first byte after the stream.
// More: the buffer is full. An error: a damaged stream, a failed read, or the file ending inside
// the stream.
template <class Stream, class Byte, class StepFn>
Result<Step> decompressSome(File& file, Stream& s, Byte* staging, void* buffer, std::size_t size,
                            std::size_t& produced, StepFn step) {
  auto* out = static_cast<Byte*>(buffer);
  std::size_t remaining = size; // not yet handed to the library as output room
  produced = 0;
  if (size == 0) return Step::More;
  s.avail_out = 0;
  for (;;) {
    if (s.avail_in == 0) {
      const Result<std::size_t> got = readStreamInput(file, staging, kStagingBufferSize);
      if (!got) return got.error();
      s.next_in = staging;
      s.avail_in = decltype(s.avail_in)(*got);
    }
    if (s.avail_out == 0) {
      s.next_out = out;
      s.avail_out = pieceOf<decltype(s.avail_out)>(remaining);
      out += s.avail_out;
      remaining -= s.avail_out;
    }
    const Result<Step> result = step();
    produced = size - remaining - s.avail_out;
    if (!result) return result;
    if (*result == Step::End) {
      if (s.avail_in > 0) {
        if (Status back = file.seekBy(-std::int64_t(s.avail_in)); !back) return back.error();
        s.avail_in = 0;
      }
      return Step::End;
    }
    if (s.avail_out == 0 && remaining == 0) return Step::More;
  }
}

// Fills exactly `size` bytes of `buffer` (see decompressSome); a request that reaches past the end
// of the stream fails.
template <class Stream, class Byte, class StepFn>
Status decompressInto(File& file, Stream& s, Byte* staging, void* buffer, std::size_t size, StepFn step) {
  std::size_t produced = 0;
  const Result<Step> result = decompressSome(file, s, staging, buffer, size, produced, step);
  if (!result) return result.error();
  if (produced != size)
    return makeError(ErrorCause::Truncated, {},
                     "the compressed stream ends after " + std::to_string(produced) + " of the " +
                         std::to_string(size) + " bytes asked for");
  return {};
}

} // namespace zelvo::pump
