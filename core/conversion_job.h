#pragma once

// The input files of a run and the record of the run and of the file in work. These are values:
// a front end fills its own, hands a copy to the run, and takes back what the run counted.

#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

struct ProgramSettings;

struct InputFileEntry {
  int32_t added = 0;
  std::string subfolder;  // relative to the base input folder; ends in "/" when not empty
};

/// The input files of a run, keyed by full path, visited in the order of adding.
class InputFileList {
 public:
  using Item = std::pair<std::string, InputFileEntry>;

  void Clear() { items_.clear(); }
  bool Empty() const { return items_.empty(); }
  size_t Size() const { return items_.size(); }
  /// Adds or replaces the entry of `path`, keeping the place of an existing one.
  void Set(const std::string& path, InputFileEntry entry);
  const InputFileEntry* Find(const std::string& path) const;
  std::vector<Item>::const_iterator begin() const { return items_.begin(); }
  std::vector<Item>::const_iterator end() const { return items_.end(); }

 private:
  std::vector<Item> items_;
};

struct ConversionJob {
  std::string output_folder;  // always ends in "/"
  std::string output_format;  // output key, e.g. "png"; also the extension
  int32_t output_fif = 0;
  int32_t target_bpp = 0;  // 0: automatic
  int8_t auto_bpp = 0;
  int32_t save_flags = 0;
  std::string base_input_folder;
  std::string input_path;
  std::string input_subfolder;
  std::string output_path;
  int32_t source_bpp = 0;
  int32_t result_width = 0;
  int32_t result_height = 0;
  int32_t random_number = 0;
  int32_t sequence_number = 0;
  int8_t console_run = 0;
  std::string run_mode_word;  // "DEBUG" after the debug option
  /// Globs on layer and group names left out of a document's picture ("--hide-layer"); any
  /// forces a rebuild from the layers.
  std::vector<std::string> hidden_layers;
  /// What the rebuild of the file in work left out (FileResult::left_out).
  std::string left_out;
};

/// True when `path` may be an input file: not empty on disk (a missing file passes; loading
/// decides) and of an accepted extension.
bool IsAcceptableInputFile(const std::string& path);

/// Makes `path` the one entry of `inputs`, its subfolder taken against `base_input_folder`, when
/// IsAcceptableInputFile; false, with `inputs` unchanged, otherwise.
bool AddInputFile(InputFileList& inputs, const std::string& path,
                  const std::string& base_input_folder);

/// Empties `job`, draws a fresh "%rnd%", restarts "%n%" at 1 and rebuilds the accepted
/// extensions.
void ResetJob(ConversionJob& job);

/// Fills the run fields of the job from the settings: output key, FreeImage format, target depth,
/// automatic flag and save flags. Both starters call it; false when the output key is unknown.
bool PrepareJob(ConversionJob& job, const ProgramSettings& settings);

/// A fresh "%rnd%" value, 1 to 99999, from `generator`.
int32_t DrawRandomNumber(std::mt19937& generator);

/// A generator seeded from the system's random source, for a run or a reset of its own.
std::mt19937 SeededGenerator();
