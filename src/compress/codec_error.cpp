#include "compress/codec_error.h"

#include <bzlib.h>
#include <cerrno>
#include <lzma.h>
#include <string>
#include <zlib.h>

namespace zelvo {

namespace {

Error codecError(const char* codec, const char* name, int code, bool outOfMemory, CodecSide side,
                 const std::string& message = {}) {
  const ErrorCause cause = outOfMemory                      ? ErrorCause::OutOfMemory
                           : side == CodecSide::Compressing ? ErrorCause::WriteFailed
                                                            : ErrorCause::BadFormat;
  std::string detail = std::string(codec) + " " + name + " (" + std::to_string(code) + ")";
  if (!message.empty()) detail += ": " + message;
  return makeError(cause, {}, detail);
}

const char* zlibName(int code) {
  switch (code) {
  case Z_OK:
    return "Z_OK";
  case Z_STREAM_END:
    return "Z_STREAM_END";
  case Z_NEED_DICT:
    return "Z_NEED_DICT";
  case Z_ERRNO:
    return "Z_ERRNO";
  case Z_STREAM_ERROR:
    return "Z_STREAM_ERROR";
  case Z_DATA_ERROR:
    return "Z_DATA_ERROR";
  case Z_MEM_ERROR:
    return "Z_MEM_ERROR";
  case Z_BUF_ERROR:
    return "Z_BUF_ERROR";
  case Z_VERSION_ERROR:
    return "Z_VERSION_ERROR";
  }
  return "result";
}

const char* bzip2Name(int code) {
  switch (code) {
  case BZ_OK:
    return "BZ_OK";
  case BZ_RUN_OK:
    return "BZ_RUN_OK";
  case BZ_FLUSH_OK:
    return "BZ_FLUSH_OK";
  case BZ_FINISH_OK:
    return "BZ_FINISH_OK";
  case BZ_STREAM_END:
    return "BZ_STREAM_END";
  case BZ_SEQUENCE_ERROR:
    return "BZ_SEQUENCE_ERROR";
  case BZ_PARAM_ERROR:
    return "BZ_PARAM_ERROR";
  case BZ_MEM_ERROR:
    return "BZ_MEM_ERROR";
  case BZ_DATA_ERROR:
    return "BZ_DATA_ERROR";
  case BZ_DATA_ERROR_MAGIC:
    return "BZ_DATA_ERROR_MAGIC";
  case BZ_IO_ERROR:
    return "BZ_IO_ERROR";
  case BZ_UNEXPECTED_EOF:
    return "BZ_UNEXPECTED_EOF";
  case BZ_OUTBUFF_FULL:
    return "BZ_OUTBUFF_FULL";
  case BZ_CONFIG_ERROR:
    return "BZ_CONFIG_ERROR";
  }
  return "result";
}

const char* lzmaName(int code) {
  switch (code) {
  case LZMA_OK:
    return "LZMA_OK";
  case LZMA_STREAM_END:
    return "LZMA_STREAM_END";
  case LZMA_MEM_ERROR:
    return "LZMA_MEM_ERROR";
  case LZMA_MEMLIMIT_ERROR:
    return "LZMA_MEMLIMIT_ERROR";
  case LZMA_FORMAT_ERROR:
    return "LZMA_FORMAT_ERROR";
  case LZMA_OPTIONS_ERROR:
    return "LZMA_OPTIONS_ERROR";
  case LZMA_DATA_ERROR:
    return "LZMA_DATA_ERROR";
  case LZMA_BUF_ERROR:
    return "LZMA_BUF_ERROR";
  case LZMA_PROG_ERROR:
    return "LZMA_PROG_ERROR";
  }
  return "result";
}

} // namespace

Error zlibError(int code, const char* message, CodecSide side) {
  return codecError("zlib", zlibName(code), code, code == Z_MEM_ERROR, side, message ? message : "");
}

Error bzip2Error(int code, CodecSide side) {
  return codecError("libbz2", bzip2Name(code), code, code == BZ_MEM_ERROR, side);
}

Error lzmaError(int code, CodecSide side) {
  return codecError("liblzma", lzmaName(code), code, code == LZMA_MEM_ERROR, side);
}

Error streamReadError(const Error& failed) {
  if (failed.cause == ErrorCause::Truncated)
    return makeError(ErrorCause::Truncated, failed.path, "the compressed data end early");
  return failed;
}

Result<std::size_t> readStreamInput(File& file, void* buffer, std::size_t size) {
  Result<std::size_t> got = file.read(buffer, size);
  if (!got) return got.error();
  if (*got == 0) return makeError(ErrorCause::Truncated, file.path(), "the compressed data end early");
  return got;
}

Error streamEnded() {
  return makeError(ErrorCause::Truncated, {}, "the compressed stream has already ended");
}

Error streamNoMemory(const char* codec) {
  return makeError(ErrorCause::OutOfMemory, {}, std::string("no memory for a ") + codec + " stream");
}

} // namespace zelvo
