#include "gui/run_messages.h"

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

std::string ShortenPath(const std::string& text, int limit) {
  const size_t length = CharacterCount(text);
  if (text.empty() || limit < 3 || length <= static_cast<size_t>(limit)) return text;
  const size_t keep = static_cast<size_t>((limit - 3) / 2);
  return text.substr(0, ByteOffset(text, keep)) + "..." +
         text.substr(ByteOffset(text, length - keep));
}
