#include "core/conversion_job.h"

#include <filesystem>

#include "engine/output/formats.h"
#include "engine/output/saving.h"
#include "platform/text.h"
#include "settings/program_settings.h"

namespace {

constexpr int32_t MaxRandomNumber = 99999;

// -1 when the size cannot be read (a missing file), as the file system reports it.
std::intmax_t FileSize(const std::string& path) {
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (error) return -1;
  return static_cast<std::intmax_t>(size);
}

// The folder of `path` with every occurrence of the base folder removed; empty when either is
// empty or the base does not occur.
std::string RelativeSubfolder(const std::string& path, const std::string& base_input_folder) {
  if (path.empty() || base_input_folder.empty()) return {};
  std::string folder = FolderOf(path);
  if (folder.find(base_input_folder) == std::string::npos) return {};
  for (size_t at = folder.find(base_input_folder); at != std::string::npos;
       at = folder.find(base_input_folder, at)) {
    folder.erase(at, base_input_folder.size());
  }
  return folder;
}

}  // namespace

int32_t DrawRandomNumber(std::mt19937& generator) {
  return std::uniform_int_distribution<int32_t>(1, MaxRandomNumber)(generator);
}

std::mt19937 SeededGenerator() { return std::mt19937(std::random_device{}()); }

bool IsAcceptableInputFile(const std::string& path) {
  return FileSize(path) != 0 && IsAcceptedInputPath(path);
}

bool AddInputFile(InputFileList& inputs, const std::string& path,
                  const std::string& base_input_folder) {
  if (!IsAcceptableInputFile(path)) return false;
  inputs.Clear();
  inputs.Set(path, InputFileEntry{1, RelativeSubfolder(path, base_input_folder)});
  return true;
}

void ResetJob(ConversionJob& job) {
  std::mt19937 generator = SeededGenerator();
  job.output_folder.clear();
  job.output_format.clear();
  job.base_input_folder.clear();
  job.input_path.clear();
  job.input_subfolder.clear();
  job.output_path.clear();
  job.source_bpp = 0;
  job.output_fif = 0;
  job.target_bpp = 0;
  job.save_flags = 0;
  job.auto_bpp = 0;
  job.console_run = 0;
  job.hidden_layers.clear();
  job.random_number = DrawRandomNumber(generator);
  job.sequence_number = 1;
  RebuildAcceptedExtensions();
}

bool PrepareJob(ConversionJob& job, const ProgramSettings& settings) {
  const OutputFormatEntry* format = FindOutputFormat(settings.output.format);
  if (!format) return false;
  job.output_format = settings.output.format;
  job.output_fif = format->fif;
  job.target_bpp = TargetDepthSetting(job.output_format, settings);
  job.auto_bpp = job.target_bpp == 0 ? 1 : 0;
  job.save_flags = SaveFlagsFor(job.output_format, settings);
  if (!job.output_folder.empty() && job.output_folder.back() != '/') job.output_folder += '/';
  return true;
}
