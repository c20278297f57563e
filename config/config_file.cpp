#include "config/config_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>

#include "config/config_text.h"
#include "platform/ascii.h"
#include "platform/utf8.h"

namespace {

constexpr std::string_view ByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view LineEnd = "\r\n";

// Reads a whole regular file of at most MaxConfigFileBytes. Opening without blocking keeps a
// FIFO in place of the file from hanging the program; anything but a regular file is refused.
bool ReadBoundedFile(const std::string& path, std::string& bytes) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info {};
  bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
            static_cast<uint64_t>(info.st_size) <= MaxConfigFileBytes;
  bytes.clear();
  char buffer[16384];
  while (ok) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) ok = false;
    if (got <= 0) break;
    bytes.append(buffer, static_cast<std::size_t>(got));
    // The file may grow while it is read.
    if (bytes.size() > MaxConfigFileBytes) ok = false;
  }
  close(fd);
  return ok;
}

std::string WithoutLineBreaks(std::string_view text) {
  std::string clean(text);
  std::erase_if(clean, [](char c) { return c == '\r' || c == '\n'; });
  return clean;
}

}  // namespace

ConfigFile::~ConfigFile() { Reset(); }

void ConfigFile::Reset() {
  temp_.Abandon();
  lines_.clear();
  path_.clear();
  group_line_ = npos;
  group_missing_ = false;
  missing_group_.clear();
  cursor_ = npos;
  created_ = false;
  changed_ = false;
}

bool ConfigFile::OpenConfig(const std::string& path) {
  Reset();
  std::string bytes;
  if (!ReadBoundedFile(path, bytes)) return false;
  if (!Parse(bytes)) return false;
  path_ = path;
  return true;
}

bool ConfigFile::CreateConfig(const std::string& path) {
  Reset();
  if (path.empty()) return false;
  // The writer follows a link to a regular file and refuses one to anything else.
  if (!temp_.Open(path)) return false;
  path_ = path;
  created_ = true;
  return true;
}

bool ConfigFile::ParseConfig(std::string_view bytes) {
  Reset();
  return Parse(bytes);
}

bool ConfigFile::Parse(std::string_view bytes) {
  if (bytes.size() > MaxConfigFileBytes) return false;
  std::string decoded;
  const bool marked = bytes.starts_with(ByteOrderMark);
  if (marked) {
    bytes.remove_prefix(ByteOrderMark.size());
  } else {
    decoded = DecodeUnmarkedText(bytes);
    bytes = decoded;
  }

  // Lines end in CR LF, LF or a lone CR.
  std::vector<Line> lines;
  std::size_t at = 0;
  while (at < bytes.size()) {
    std::size_t end = bytes.find_first_of("\r\n", at);
    if (end == std::string_view::npos) end = bytes.size();
    std::string_view text = bytes.substr(at, end - at);
    at = end;
    if (at < bytes.size()) {
      const bool crlf = bytes[at] == '\r' && at + 1 < bytes.size() && bytes[at + 1] == '\n';
      at += crlf ? 2 : 1;
    }

    if (lines.size() == MaxConfigLines) {
      lines_.clear();
      return false;
    }
    if (text.size() > MaxConfigLineBytes) {
      // Cut at a character boundary so the kept part stays valid text.
      std::size_t cut = MaxConfigLineBytes;
      while (cut > 0 && IsUtf8Continuation(text[cut])) --cut;
      text = text.substr(0, cut);
    }
    lines.push_back(ParseLine(text));
  }
  // The writer puts one empty line right after the mark; it belongs to the layout, not the content.
  if (marked && !lines.empty() && lines.front().raw.empty()) lines.erase(lines.begin());
  lines_ = std::move(lines);
  return true;
}

ConfigFile::Line ConfigFile::ParseLine(std::string_view text) {
  Line line;
  line.raw = std::string(text);
  std::string_view rest = text;
  while (!rest.empty() && IsConfigBlank(rest.front())) rest.remove_prefix(1);
  if (rest.empty()) return line;

  if (rest.front() == '[') {
    line.kind = LineKind::Group;
    rest.remove_prefix(1);
    line.name = std::string(rest.substr(0, rest.find(']')));
  } else if (rest.front() == ';') {
    line.kind = LineKind::Comment;
    rest.remove_prefix(1);
    if (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    line.name = std::string(rest);
  } else {
    line.kind = LineKind::Key;
    const std::size_t equals = rest.find('=');
    std::string_view key = rest.substr(0, equals);
    while (!key.empty() && IsConfigBlank(key.back())) key.remove_suffix(1);
    line.name = std::string(key);
    if (equals != std::string_view::npos) {
      std::string_view value = rest.substr(equals + 1);
      while (!value.empty() && IsConfigBlank(value.front())) value.remove_prefix(1);
      line.value = std::string(value);
    }
  }
  return line;
}

std::string ConfigFile::FormatLine(const Line& line) {
  if (!line.edited) return line.raw;
  switch (line.kind) {
    case LineKind::Group:
      return "[" + line.name + "]";
    case LineKind::Key:
      return line.name + " = " + line.value;
    case LineKind::Comment:
      return "; " + line.name;
    case LineKind::Blank:
      return "";
  }
  return line.raw;
}

std::string ConfigFile::ConfigText() const {
  std::string text(ByteOrderMark);
  text += LineEnd;
  for (const Line& line : lines_) {
    text += FormatLine(line);
    text += LineEnd;
  }
  return text;
}

bool ConfigFile::SelectGroup(std::string_view name) {
  cursor_ = npos;
  group_missing_ = false;
  missing_group_.clear();
  group_line_ = npos;
  if (name.empty()) return true;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (lines_[i].kind == LineKind::Group && EqualsIgnoringCase(lines_[i].name, name)) {
      group_line_ = i;
      return true;
    }
  }
  group_missing_ = true;
  missing_group_ = WithoutLineBreaks(name);
  return false;
}

bool ConfigFile::CurrentRange(std::size_t& begin, std::size_t& end) const {
  if (group_missing_) return false;
  begin = group_line_ == npos ? 0 : group_line_ + 1;
  end = begin;
  while (end < lines_.size() && lines_[end].kind != LineKind::Group) ++end;
  return true;
}

const ConfigFile::Line* ConfigFile::FindKey(std::string_view key) const {
  std::size_t begin = 0;
  std::size_t end = 0;
  if (!CurrentRange(begin, end)) return nullptr;
  for (std::size_t i = begin; i < end; ++i) {
    if (lines_[i].kind == LineKind::Key && EqualsIgnoringCase(lines_[i].name, key)) {
      return &lines_[i];
    }
  }
  return nullptr;
}

std::string ConfigFile::ReadString(std::string_view key, std::string_view fallback) const {
  const Line* line = FindKey(key);
  if (!line) return std::string(fallback);
  return std::string(TrimConfigBlanks(line->value));
}

int32_t ConfigFile::ReadLong(std::string_view key, int32_t fallback) const {
  const Line* line = FindKey(key);
  if (!line) return fallback;
  const int64_t value = ParseConfigInteger(line->value);
  return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

int64_t ConfigFile::ReadDate(std::string_view key, int64_t fallback) const {
  const Line* line = FindKey(key);
  return line ? ParseConfigInteger(line->value) : fallback;
}

float ConfigFile::ReadFloat(std::string_view key, float fallback) const {
  const Line* line = FindKey(key);
  return line ? ParseConfigFloat(line->value) : fallback;
}

void ConfigFile::Touch() {
  changed_ = true;
  cursor_ = npos;
}

void ConfigFile::EnsureGroup() {
  if (!group_missing_) return;
  Line group;
  group.kind = LineKind::Group;
  group.name = missing_group_;
  group.edited = true;
  lines_.push_back(std::move(group));
  group_line_ = lines_.size() - 1;
  group_missing_ = false;
  missing_group_.clear();
}

std::size_t ConfigFile::GroupEnd() {
  std::size_t begin = 0;
  std::size_t end = 0;
  CurrentRange(begin, end);
  // Blank lines that end a group stay between it and the next one.
  while (end > begin && lines_[end - 1].kind == LineKind::Blank) --end;
  return end;
}

void ConfigFile::WriteString(std::string_view key, std::string_view value) {
  EnsureGroup();
  Touch();
  const std::string clean_key = WithoutLineBreaks(key);
  const std::string clean_value = WithoutLineBreaks(value);
  if (const Line* found = FindKey(clean_key)) {
    Line& line = lines_[static_cast<std::size_t>(found - lines_.data())];
    line.name = clean_key;
    line.value = clean_value;
    line.edited = true;
    return;
  }
  Line line;
  line.kind = LineKind::Key;
  line.name = clean_key;
  line.value = clean_value;
  line.edited = true;
  const std::size_t at = GroupEnd();
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
}

void ConfigFile::WriteLong(std::string_view key, int32_t value) {
  WriteString(key, std::to_string(value));
}

void ConfigFile::WriteDate(std::string_view key, int64_t value) {
  WriteString(key, std::to_string(value));
}

void ConfigFile::WriteFloat(std::string_view key, float value) {
  WriteString(key, FormatConfigFloat(value));
}

void ConfigFile::WriteComment(std::string_view text) {
  EnsureGroup();
  Touch();
  Line line;
  line.kind = LineKind::Comment;
  line.name = WithoutLineBreaks(text);
  line.edited = true;
  const std::size_t at = GroupEnd();
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
}

bool ConfigFile::FirstKey() {
  cursor_ = npos;
  std::size_t begin = 0;
  std::size_t end = 0;
  if (!CurrentRange(begin, end)) return false;
  for (std::size_t i = begin; i < end; ++i) {
    if (lines_[i].kind == LineKind::Key) {
      cursor_ = i;
      return true;
    }
  }
  return false;
}

bool ConfigFile::NextKey() {
  std::size_t begin = 0;
  std::size_t end = 0;
  if (cursor_ == npos || !CurrentRange(begin, end)) return false;
  for (std::size_t i = cursor_ + 1; i < end; ++i) {
    if (lines_[i].kind == LineKind::Key) {
      cursor_ = i;
      return true;
    }
  }
  cursor_ = npos;
  return false;
}

std::string ConfigFile::KeyName() const {
  return cursor_ == npos ? std::string() : lines_[cursor_].name;
}

std::string ConfigFile::KeyValue() const {
  return cursor_ == npos ? std::string() : std::string(TrimConfigBlanks(lines_[cursor_].value));
}

bool ConfigFile::CloseConfig() {
  if (path_.empty() || (!created_ && !changed_)) {
    Reset();
    return true;
  }
  // An opened file is replaced the same way as a created one: the old file stays whole until
  // the new content is safely on disk.
  if (!temp_.IsOpen() && !temp_.Open(path_)) {
    Reset();
    return false;
  }
  const bool replaced = temp_.Write(ConfigText()) && temp_.Commit();
  Reset();
  return replaced;
}
