// A failure with its reason: what went wrong, with which file, and a short detail for a person.
// The core reports failures as values (no exceptions): a Result carries either a value or an
// Error, a Status only the Error.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace zelvo {

enum class ErrorCause {
  NotFound,        // no such file or folder
  AccessDenied,    // the system refused access
  ReadFailed,      // the system reported an error while reading
  WriteFailed,     // the system reported an error (or a short write) while writing
  NoSpace,         // the disk or the temporary folder is full
  Truncated,       // the data ends before its format says it does
  BadFormat,       // a magic, flag, field or size that the format does not allow
  Unsupported,     // a valid variant this program does not read
  LimitExceeded,   // a size or count beyond the bounds this program accepts
  DigestMismatch,  // a digest or checksum that does not match the data
  OutOfMemory,     // memory could not be had
  Cancelled,       // the user stopped the operation
  InvalidArgument, // a caller's value out of range
  Exists           // a file is where a new one was to appear, and may not be replaced
};

// A short lower-case name of `cause` ("not found", "truncated", ...).
const char* causeName(ErrorCause cause);

struct Error {
  ErrorCause cause = ErrorCause::BadFormat;
  std::string path;   // the file concerned; may be empty
  std::string detail; // e.g. "payload claims 4 GB but the file holds 800 bytes"

  // "path: detail" (or the cause's name when there is no detail), for a person to read.
  std::string message() const;
};

inline Error makeError(ErrorCause cause, std::string path, std::string detail = {}) {
  return Error{cause, std::move(path), std::move(detail)};
}
// The Error of a failed system call: the cause follows `err` (an errno value) and the detail
// names the action and the system's message ("writing: No space left on device").
Error systemError(int err, std::string path, const std::string& action);

// Either a value or an Error.
template <class T> class [[nodiscard]] Result {
public:
  Result(T value) : data_(std::in_place_index<0>, std::move(value)) {}
  Result(Error error) : data_(std::in_place_index<1>, std::move(error)) {}

  bool ok() const { return data_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { return std::get<0>(data_); }
  const T& value() const& { return std::get<0>(data_); }
  T&& value() && { return std::get<0>(std::move(data_)); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }

  const Error& error() const { return std::get<1>(data_); }

private:
  std::variant<T, Error> data_;
};

// Success, or an Error.
class [[nodiscard]] Status {
public:
  Status() = default;
  Status(Error error) : error_(std::move(error)) {}
  static Status success() { return {}; }

  bool ok() const { return !error_; }
  explicit operator bool() const { return ok(); }
  const Error& error() const { return *error_; }

private:
  std::optional<Error> error_;
};

} // namespace zelvo
