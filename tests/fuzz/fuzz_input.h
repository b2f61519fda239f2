// What the fuzz targets share: the input as a file without a name that readers open by path, and
// a folder of the process's own where the readers' temporary files go.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace zelvo::fuzz {

// The input bytes in a memory file, gone with the object; path() opens it like any file.
class InputFile {
public:
  InputFile(const std::uint8_t* data, std::size_t size) : fd_(::memfd_create("fuzz-input", 0)) {
    if (fd_ < 0) std::abort();
    for (std::size_t done = 0; done < size;) {
      const ssize_t n = ::write(fd_, data + done, size - done);
      if (n <= 0) std::abort();
      done += std::size_t(n);
    }
  }
  ~InputFile() { ::close(fd_); }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  std::string path() const { return "/proc/self/fd/" + std::to_string(fd_); }

private:
  int fd_;
};

// An empty folder of this process under the system's temporary folder, made TMPDIR so that the
// readers' temporary files land there; removed when the process exits.
class ScratchFolder {
public:
  static ScratchFolder& instance() {
    static ScratchFolder folder;
    return folder;
  }
  const std::string& path() const { return path_; }

  // A file left in the folder after a run is a finding: say which and stop.
  void expectEmpty() const {
    for (const auto& entry : std::filesystem::directory_iterator(path_)) {
      std::fprintf(stderr, "left behind: %s\n", entry.path().c_str());
      std::abort();
    }
  }

private:
  ScratchFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string base = std::string(tmp && *tmp ? tmp : "/tmp") + "/zelvo-fuzz-XXXXXX";
    if (!::mkdtemp(base.data())) std::abort();
    path_ = base;
    ::setenv("TMPDIR", path_.c_str(), 1);
  }
  ~ScratchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string path_;
};

} // namespace zelvo::fuzz
