#include "gui/run_messages.h"

#include <algorithm>

#include "core/conversion_job.h"
#include "platform/utf8.h"
#include "settings/program_settings.h"
#include "texts/language_table.h"

namespace {

// The length of a UTF-8 text in characters, and the byte offset of character `index`.
size_t CharacterCount(const std::string& text) {
  size_t count = 0;
  for (char c : text) count += !IsUtf8Continuation(c);
  return count;
}

size_t ByteOffset(const std::string& text, size_t index) {
  size_t count = 0;
  for (size_t at = 0; at < text.size(); ++at) {
    if (IsUtf8Continuation(text[at])) continue;
    if (count == index) return at;
    ++count;
  }
  return text.size();
}

}  // namespace

std::string RunFaultText(RunFault fault, const ConversionJob& job,
                         const ProgramSettings& settings) {
  switch (fault) {
    case RunFault::None:
      return {};
    case RunFault::InvalidInputFile:
      return GetText("Msg", "Empty input files");
    case RunFault::EmptyOutputFolder:
      return GetText("Msg", "Empty output folder");
    case RunFault::IncorrectOutputFolder:
    case RunFault::InvalidOutputFolder:
      return FormatText(GetText("Msg", "Invalid output folder"), job.output_folder);
    case RunFault::InvalidWidth:
      return GetText("Msg", "Invalid width");
    case RunFault::InvalidHeight:
      return GetText("Msg", "Invalid height");
    case RunFault::InvalidWatermarkFont:
      return FormatText(GetText("Msg", "Invalid watermark font"), settings.watermark.font);
    case RunFault::EmptyWatermarkImage:
      return GetText("Msg", "Empty watermark image");
    case RunFault::InvalidWatermarkImage:
      return FormatText(GetText("Msg", "Invalid watermark image"), settings.watermark.image);
    case RunFault::InvalidConversionType:
    case RunFault::InvalidBitDepth:
    case RunFault::InvalidJpgQuality:
    case RunFault::InvalidBrightness:
    case RunFault::InvalidContrast:
    case RunFault::InvalidGamma:
      // Only a hand-edited settings file gets here (the window's own controls cannot); the
      // table has no message of its own for these, so the general one asks for a correction.
      return GetText("Msg", "Empty extensions");
  }
  return {};
}

std::string FileFailureText(FileFailure failure) {
  // The console's reasons, word for word.
  const std::string_view key = FailureTextKey(failure);
  return key.empty() ? std::string() : GetText("Msg", key);
}

RunReport BuildRunReport(const std::vector<FileResult>& results, bool stopped) {
  RunReport report;
  for (const FileResult& result : results) {
    if (result.converted && !result.left_out.empty()) {
      report.left_out.push_back(result.input + ": " + result.left_out);
    }
    if (result.converted || (stopped && result.failure == FileFailure::NotReached)) continue;
    // A file without a recorded reason still failed; it is never left out of the list.
    const FileFailure failure =
        result.failure == FileFailure::None ? FileFailure::SaveFailed : result.failure;
    report.failures.push_back(result.input + ": " + FileFailureText(failure));
  }
  report.failed = !report.failures.empty();
  if (stopped) {
    report.headline = GetText("Msg", "Conversion is not complete");
  } else {
    report.headline =
        GetText("Msg", report.failed ? "Conversion ended with errors" : "Conversion complete");
  }
  return report;
}

std::string ShortenPath(const std::string& path, int limit) {
  const size_t length = CharacterCount(path);
  if (path.empty() || limit < 3 || length <= static_cast<size_t>(limit)) return path;
  // The name with its leading "/" is kept whole; the folder before it gives way in its middle.
  const size_t slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash);
  const std::string name = path.substr(folder.size());
  const size_t name_length = CharacterCount(name);
  const size_t folder_length = CharacterCount(folder);
  if (name_length + 3 >= static_cast<size_t>(limit)) return "..." + name;
  const size_t room = static_cast<size_t>(limit) - 3 - name_length;
  const size_t head = std::min(folder_length, (room + 1) / 2);
  const size_t tail = std::min(folder_length - head, room / 2);
  return folder.substr(0, ByteOffset(folder, head)) + "..." +
         folder.substr(ByteOffset(folder, folder_length - tail)) + name;
}
