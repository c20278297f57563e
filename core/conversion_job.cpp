#include "core/conversion_job.h"

#include <filesystem>
#include <random>

#include "engine/output/formats.h"
#include "engine/output/saving.h"
#include "platform/text.h"
#include "settings/program_settings.h"

InputFileList g_input_files;
ConversionJob g_job;
ConversionProgress g_progress;

namespace {

constexpr int32_t MaxRandomNumber = 99999;

std::function<void(const std::string&)>& InputFileAddedHook() {
  static std::function<void(const std::string&)> hook;
  return hook;
}

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

int32_t DrawRandomNumber() {
  // The worker draws while the starter may reset: one generator, one lock.
  static std::mutex lock;
  static std::mt19937 generator{std::random_device{}()};
  std::lock_guard<std::mutex> guard(lock);
  return std::uniform_int_distribution<int32_t>(1, MaxRandomNumber)(generator);
}

void SetInputFileAddedHook(std::function<void(const std::string& path)> hook) {
  InputFileAddedHook() = std::move(hook);
}

bool AddInputFile(const std::string& path) {
  if (FileSize(path) == 0) return false;
  if (!IsAcceptedInputPath(path)) return false;
  g_input_files.Clear();
  g_input_files.Set(path, InputFileEntry{1, RelativeSubfolder(path, g_job.base_input_folder)});
  const auto& hook = InputFileAddedHook();
  if (g_job.console_run == 0 && hook) hook(path);
  return true;
}

void ResetJob() {
  g_job.output_folder.clear();
  g_job.output_format.clear();
  g_job.base_input_folder.clear();
  g_job.input_path.clear();
  g_job.input_subfolder.clear();
  g_job.output_path.clear();
  g_job.source_bpp = 0;
  g_job.output_fif = 0;
  g_job.target_bpp = 0;
  g_job.save_flags = 0;
  g_job.auto_bpp = 0;
  g_job.console_run = 0;
  g_job.random_number = DrawRandomNumber();
  g_job.sequence_number = 1;
  g_input_files.Clear();
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
