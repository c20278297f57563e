#include "platform/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

MappedFile::MappedFile(const std::string& path) {
  fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) return;
  struct stat info {};
  if (fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd_);
    fd_ = -1;
    return;
  }
  if (info.st_size <= 0) return;  // open, with no bytes
  void* data = mmap(nullptr, static_cast<size_t>(info.st_size), PROT_READ, MAP_PRIVATE, fd_, 0);
  if (data == MAP_FAILED) {
    close(fd_);
    fd_ = -1;
    return;
  }
  data_ = static_cast<const uint8_t*>(data);
  size_ = static_cast<size_t>(info.st_size);
  guard_.emplace(data_, size_);
}

bool MappedFile::Intact() const { return !guard_ || !guard_->Damaged(); }

MappedFile::~MappedFile() {
  guard_.reset();
  if (data_) munmap(const_cast<uint8_t*>(data_), size_);
  if (fd_ >= 0) close(fd_);
}
