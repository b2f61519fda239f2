#include "platform/error.h"

#include <cerrno>
#include <cstring>

namespace zelvo {

const char* causeName(ErrorCause cause) {
  switch (cause) {
  case ErrorCause::NotFound:
    return "not found";
  case ErrorCause::AccessDenied:
    return "access denied";
  case ErrorCause::ReadFailed:
    return "read failed";
  case ErrorCause::WriteFailed:
    return "write failed";
  case ErrorCause::NoSpace:
    return "no space left";
  case ErrorCause::Truncated:
    return "truncated";
  case ErrorCause::BadFormat:
    return "bad format";
  case ErrorCause::Unsupported:
    return "unsupported";
  case ErrorCause::LimitExceeded:
    return "limit exceeded";
  case ErrorCause::DigestMismatch:
    return "digest mismatch";
  case ErrorCause::OutOfMemory:
    return "out of memory";
  case ErrorCause::Cancelled:
    return "cancelled";
  case ErrorCause::InvalidArgument:
    return "invalid argument";
  case ErrorCause::Exists:
    return "exists";
  }
  return "error";
}

std::string Error::message() const {
  std::string text = path;
  if (!text.empty()) text += ": ";
  text += detail.empty() ? causeName(cause) : detail;
  return text;
}

Error systemError(int err, std::string path, const std::string& action) {
  ErrorCause cause;
  switch (err) {
  case ENOENT:
  case ENOTDIR:
    cause = ErrorCause::NotFound;
    break;
  case EACCES:
  case EPERM:
  case EROFS:
    cause = ErrorCause::AccessDenied;
    break;
  case ENOSPC:
  case EDQUOT:
  case EFBIG:
    cause = ErrorCause::NoSpace;
    break;
  case ENOMEM:
    cause = ErrorCause::OutOfMemory;
    break;
  case EEXIST:
    cause = ErrorCause::Exists;
    break;
  default:
    cause = action.rfind("read", 0) == 0 ? ErrorCause::ReadFailed : ErrorCause::WriteFailed;
  }
  std::string detail = action;
  if (err != 0) {
    detail += ": ";
    detail += std::strerror(err);
  }
  return Error{cause, std::move(path), std::move(detail)};
}

} // namespace zelvo
