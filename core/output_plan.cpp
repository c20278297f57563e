#include "core/output_plan.h"

#include <unordered_set>

#include "engine/output/naming.h"
#include "platform/ascii.h"
#include "platform/text.h"
#include "settings/program_settings.h"

namespace {

// The tokens a name may read before decoding: the input's name and the output's extension.
constexpr size_t NameOnlyTokens = 7;

bool ReadsAny(const std::string& text, size_t first_token, size_t last_token) {
  const std::string lower = ToLowerAscii(text);
  for (size_t i = first_token; i < last_token; ++i) {
    if (lower.find(NamingTokens[i]) != std::string::npos) return true;
  }
  return false;
}

bool ReadsNumbering(const std::string& text) {
  const std::string lower = ToLowerAscii(text);
  return lower.find("%n%") != std::string::npos || lower.find("%rnd%") != std::string::npos;
}

bool NameKnownBeforeDecoding(const ProgramSettings& settings) {
  return !ReadsAny(settings.advanced.filename_mask, NameOnlyTokens, NamingTokens.size());
}

}  // namespace

bool NeedsOrderedNaming(const ProgramSettings& settings) {
  if (!NameKnownBeforeDecoding(settings)) return true;
  return settings.watermark.do_watermark == ToValue(WatermarkType::Text) &&
         ReadsNumbering(settings.watermark.text);
}

std::string OutputFolderFor(const RunRequest& request, const std::string& input) {
  if (request.placement == OutputPlacement::OutputFolder) return request.job.output_folder;
  const std::string folder = FolderOf(input);
  return folder.empty() ? "./" : folder;
}

std::string OutputSubfolderFor(const RunRequest& request, const InputFileEntry& entry) {
  if (request.placement == OutputPlacement::BesideInput) return {};
  return request.settings.advanced.keep_subfolders == 1 ? entry.subfolder : std::string();
}

std::vector<std::string> PlanOutputPaths(const RunRequest& request) {
  std::vector<std::string> planned;
  planned.reserve(request.inputs.Size());
  const bool known = NameKnownBeforeDecoding(request.settings);
  for (const auto& [input, entry] : request.inputs) {
    if (!known) {
      planned.emplace_back();
      continue;
    }
    TokenValues tokens;
    tokens.input_path = input;
    tokens.output_format = request.job.output_format;
    const std::string name = BuildOutputName(request.settings.advanced.filename_mask, tokens);
    planned.push_back(BuildOutputPath(OutputFolderFor(request, input),
                                      OutputSubfolderFor(request, entry), true, name));
  }
  return planned;
}

std::vector<FileFailure> FindCollisions(const std::vector<std::string>& planned) {
  std::vector<FileFailure> failures(planned.size(), FileFailure::None);
  std::unordered_set<std::string> seen;
  for (size_t i = 0; i < planned.size(); ++i) {
    if (planned[i].empty()) continue;
    if (!seen.insert(planned[i]).second) failures[i] = FileFailure::NameCollision;
  }
  return failures;
}
