#pragma once

// The INI reader and writer behind config.ini and profile files.
//
// Read: a file that starts with the UTF-8 byte-order mark is UTF-8; one without it is UTF-8 when
// every byte forms valid UTF-8, and ISO-8859-1 otherwise. Groups and keys compare without ASCII
// case. Written: UTF-8 with the mark, CR LF line ends, "[Group]", "Key = Value", "; Comment".
// A file that was opened keeps its other lines and comments as they were when a key changes.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/atomic_file.h"

/// A file larger than this is refused as a whole (the settings file is a few KiB).
inline constexpr std::size_t MaxConfigFileBytes = 1u << 20;
/// Bytes of one line that are kept; the rest of an over-long line is dropped.
inline constexpr std::size_t MaxConfigLineBytes = 64u << 10;
/// A file with more lines than this is refused as a whole.
inline constexpr std::size_t MaxConfigLines = 16384;

class ConfigFile {
 public:
  ConfigFile() = default;
  /// Removes a temporary file left by CreateConfig without CloseConfig; the target stays as it was.
  ~ConfigFile();
  ConfigFile(const ConfigFile&) = delete;
  ConfigFile& operator=(const ConfigFile&) = delete;

  /// Reads and parses the whole file; false when it cannot be read, is no regular file or breaks
  /// MaxConfigFileBytes or MaxConfigLines. The current group becomes the keys above the first
  /// group.
  bool OpenConfig(const std::string& path);

  /// Starts an empty content for `path`; false when no file can be created in its folder. The
  /// existing file stays whole until CloseConfig replaces it.
  bool CreateConfig(const std::string& path);

  /// Parses `bytes` as the content of a file that has no path (CloseConfig then writes nothing);
  /// false when they break MaxConfigFileBytes or MaxConfigLines.
  bool ParseConfig(std::string_view bytes);

  /// Makes the named group current (an empty name: the keys above the first group); false when it
  /// does not exist, and then the first write or comment appends it to the end.
  bool SelectGroup(std::string_view name);

  /// The value of the first `key` of the current group, trimmed of blanks; `fallback` when missing.
  std::string ReadString(std::string_view key, std::string_view fallback) const;
  /// The leading decimal integer of the value (0 when none, clamped to 32 bits); `fallback` when
  /// the key is missing.
  int32_t ReadLong(std::string_view key, int32_t fallback) const;
  /// Like ReadLong, in 64 bits, for dates in seconds.
  int64_t ReadDate(std::string_view key, int64_t fallback) const;
  /// "+Infinity", "-Infinity", "NaN" or the leading decimal number (0 when none); `fallback` when
  /// the key is missing.
  float ReadFloat(std::string_view key, float fallback) const;

  /// Replaces the value of `key` in the current group or appends the key at the group's end.
  /// Line breaks in key and value are dropped: they would split the line into others.
  void WriteString(std::string_view key, std::string_view value);
  /// Writes the number in decimal ("%d").
  void WriteLong(std::string_view key, int32_t value);
  /// Writes the number in decimal, in 64 bits.
  void WriteDate(std::string_view key, int64_t value);
  /// Writes six decimals ("%f"), or "+Infinity", "-Infinity", "NaN".
  void WriteFloat(std::string_view key, float value);
  /// Appends "; " and `text` to the current group.
  void WriteComment(std::string_view text);

  /// Moves to the first key of the current group; false when it has none.
  bool FirstKey();
  /// Moves to the next key of the current group; false at its end.
  bool NextKey();
  /// The name of the key FirstKey/NextKey stopped at; empty when there is none.
  std::string KeyName() const;
  /// The trimmed value of that key; empty when there is none.
  std::string KeyValue() const;

  /// Writes the content back when it was created or changed (through a temporary file in the
  /// same folder and a rename) and forgets it; false when that write failed, and then the old file
  /// is unchanged.
  bool CloseConfig();

  /// The content in the written layout: byte-order mark, CR LF, then the lines with CR LF.
  std::string ConfigText() const;

 private:
  static constexpr std::size_t npos = static_cast<std::size_t>(-1);

  enum class LineKind : uint8_t { Blank, Group, Key, Comment };
  struct Line {
    LineKind kind = LineKind::Blank;
    std::string name;   // group name, key or comment text
    std::string value;  // key value as read (leading blanks skipped)
    std::string raw;    // the line as read; written back while `edited` is false
    bool edited = false;
  };

  void Reset();
  bool Parse(std::string_view bytes);
  static Line ParseLine(std::string_view text);
  static std::string FormatLine(const Line& line);
  // Index range [begin, end) of the current group's lines after its group line.
  bool CurrentRange(std::size_t& begin, std::size_t& end) const;
  const Line* FindKey(std::string_view key) const;
  void EnsureGroup();
  std::size_t GroupEnd();
  void Touch();

  std::vector<Line> lines_;
  std::string path_;
  AtomicFile temp_;  // the new content's file, put in path_'s place by CloseConfig
  // Current group: `group_line_` indexes its group line, or is npos for the keys above the first.
  std::size_t group_line_ = npos;
  bool group_missing_ = false;
  std::string missing_group_;
  std::size_t cursor_ = npos;
  bool created_ = false;
  bool changed_ = false;
};

/// The leading decimal integer of `text` after blanks and a sign, clamped to 64 bits; 0 if none.
int64_t ParseConfigInteger(std::string_view text);

/// "+Infinity", "-Infinity", "NaN" in any case, else the leading decimal number; 0 if none.
float ParseConfigFloat(std::string_view text);

/// `value` as written: six decimals, or "+Infinity", "-Infinity", "NaN".
std::string FormatConfigFloat(float value);

/// The bytes of a file without the byte-order mark as UTF-8: kept when they are valid UTF-8,
/// else taken as ISO-8859-1 (each byte one character).
std::string DecodeUnmarkedText(std::string_view bytes);
