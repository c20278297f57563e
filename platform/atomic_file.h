#pragma once

// The one way a file is replaced: written whole or not at all. The bytes go to an unnamed
// temporary file in the target's folder (O_TMPFILE), which is linked in and renamed over the
// target only when complete, so no signal and no crash can leave a partial file. An existing
// target is replaced through a passing name (a link cannot replace a name): a SIGKILL between the
// link and the rename, a few microseconds, leaves that complete file under the passing name,
// which is the target's own (PassingNameOf), so the next save of the target clears it. Where the
// file system refuses unnamed files, a named temporary beside the target takes their place and is
// removed on SIGTERM, SIGINT and SIGHUP. A replaced file keeps its permission bits; a new one
// gets the usual mode under the umask.
//
// A save goes through symbolic links to where they end, and only ever replaces a regular file or
// makes a new one there: a path that is, or links to, a device, FIFO, socket or folder is never
// written, and that thing stays as it was.

#include <string>
#include <string_view>

class AtomicFile {
 public:
  AtomicFile() = default;
  /// Drops a temporary that was not committed; the target stays as it was.
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  /// Starts a temporary for `path` (or the end of its links); false when that is not a regular
  /// file or a free name, no temporary can be made in its folder, or the folder only takes new
  /// names (append-only) and the file already exists, so it could not be replaced.
  bool Open(const std::string& path);
  bool IsOpen() const { return fd_ >= 0; }
  /// The temporary's descriptor, to write through; -1 when not open.
  int fd() const { return fd_; }
  /// Writes all of `bytes` at the current offset; false when a write fails.
  bool Write(std::string_view bytes);

  /// Whether a commit waits until the bytes are on the disk.
  enum class Sync {
    Durable,  // the file and its folder are synced: state the program keeps (config.ini)
    Fast,     // left to the kernel: outputs that a new run makes again, where a sync per file
              // would cost more than the encoding
  };

  /// Gives the temporary the old file's permission bits and puts it in the target's place,
  /// syncing first when `sync` asks for it; false (and nothing new left) when any of it fails.
  bool Commit(Sync sync = Sync::Durable);
  /// Drops the temporary; harmless when none is open.
  void Abandon();

 private:
  int fd_ = -1;
  int folder_fd_ = -1;
  std::string name_;       // the target's name in its folder
  std::string temporary_;  // a named temporary's name; empty for an unnamed one
  int slot_ = -1;          // the named temporary's entry for the signal handler
  bool append_only_ = false;
};

/// The hidden name beside the target `name` under which a complete replacement waits for its
/// rename: the same for every save of that target.
std::string PassingNameOf(std::string_view name);

/// Test seam: false makes Open use a named temporary, as on a file system without O_TMPFILE.
void SetUnnamedTemporariesForTesting(bool allowed);
