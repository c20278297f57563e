#pragma once

// A fresh folder per test, removed with everything in it when the test ends.

#include <filesystem>
#include <string>

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  /// The folder as text, ending in "/".
  std::string folder() const { return path_.string() + "/"; }
  /// The path of `name` inside the folder.
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

/// Writes `bytes` to `path`; false when the file cannot be written.
bool WriteFileBytes(const std::string& path, const std::string& bytes);

/// The whole content of `path`; empty when it cannot be read.
std::string ReadFileBytes(const std::string& path);
