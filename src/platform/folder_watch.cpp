#include "platform/folder_watch.h"

#include "platform/path.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>
#include <utility>

namespace zelvo {

namespace {
constexpr std::uint32_t kEvents = IN_CLOSE_WRITE | IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;
} // namespace

Result<FolderWatch> FolderWatch::open() {
  const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0) return systemError(errno, {}, "starting to watch folders");
  return FolderWatch(fd);
}

FolderWatch::FolderWatch(FolderWatch&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), folders_(std::move(other.folders_)) {}

FolderWatch& FolderWatch::operator=(FolderWatch&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
    folders_ = std::move(other.folders_);
  }
  return *this;
}

FolderWatch::~FolderWatch() {
  if (fd_ >= 0) ::close(fd_);
}

Status FolderWatch::add(const std::string& folder) {
  const int wd = ::inotify_add_watch(fd_, folder.c_str(), kEvents | IN_ONLYDIR);
  if (wd < 0) return systemError(errno, folder, "watching the folder");
  if (std::none_of(folders_.begin(), folders_.end(), [&](const auto& f) { return f.first == wd; }))
    folders_.emplace_back(wd, folder);
  return {};
}

Result<std::vector<std::string>> FolderWatch::wait(int milliseconds) {
  std::vector<std::string> changed;
  auto note = [&](std::string path) {
    if (std::find(changed.begin(), changed.end(), path) == changed.end()) changed.push_back(std::move(path));
  };
  pollfd p{fd_, POLLIN, 0};
  const int ready = ::poll(&p, 1, milliseconds);
  if (ready < 0) {
    if (errno == EINTR) return changed;
    return systemError(errno, {}, "waiting for changes");
  }
  if (ready == 0) return changed;
  alignas(inotify_event) char buffer[16384];
  for (;;) {
    const ssize_t n = ::read(fd_, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EAGAIN || errno == EINTR) break;
      return systemError(errno, {}, "reading the changes");
    }
    if (n == 0) break;
    for (const char* at = buffer; at < buffer + n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(at);
      at += sizeof(inotify_event) + event->len;
      if (event->mask & IN_Q_OVERFLOW) {
        for (const auto& folder : folders_) note(folder.second);
        continue;
      }
      const auto folder =
          std::find_if(folders_.begin(), folders_.end(), [&](const auto& f) { return f.first == event->wd; });
      if (folder == folders_.end() || event->len == 0) continue;
      note(joinPath(folder->second, event->name));
    }
  }
  return changed;
}

} // namespace zelvo
