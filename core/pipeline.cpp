#include "core/pipeline.h"

#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "engine/image/bitmap.h"
#include "engine/image/memory_budget.h"
#include "engine/isolation/decoder_stop.h"
#include "engine/loading/loading.h"
#include "engine/output/naming.h"
#include "engine/output/png_encoder.h"
#include "engine/output/saving.h"
#include "engine/steps/colour.h"
#include "engine/steps/frame.h"
#include "engine/steps/normalise.h"
#include "engine/steps/transforms.h"
#include "engine/steps/watermark.h"
#include "platform/text.h"
#include "settings/program_settings.h"

namespace {

FileFailure LoadFailure(LoadFault fault) {
  switch (fault) {
    case LoadFault::NotDocument:
      return FileFailure::NotDocument;
    case LoadFault::TooLarge:
      return FileFailure::TooLarge;
    default:
      return FileFailure::LoadFailed;
  }
}

// Makes the input's subfolder below the output folder when it is missing; false when it cannot
// be made. Folders a mask names are the user's to make, as for a single file.
bool MakeInputSubfolder(const std::string& folder) {
  if (folder.empty()) return true;
  std::error_code error;
  if (std::filesystem::is_directory(folder, error)) return true;
  std::filesystem::create_directories(folder, error);
  return std::filesystem::is_directory(folder, error);
}

bool IsWritableFolderOf(const std::string& output_path) {
  const std::string folder = FolderOf(output_path);
  return access(folder.empty() ? "." : folder.c_str(), W_OK | X_OK) == 0;
}

// One pass over the file, saved with `save_flags`. When the document's kept profile cannot describe
// the picture the steps made, false in `profile_fits` and nothing is saved.
FileFailure ConvertOnce(ConversionJob& job, const ProgramSettings& settings, int32_t save_flags,
                        const RunResources& resources, const FileHooks& hooks, bool& profile_fits) {
  job.output_path.clear();
  const LoadRequest request{settings.output.keep_icc_profile == 1,
                            {settings.input.rebuild_from_layers == 1, job.hidden_layers}};
  LoadReport report;
  Bitmap image = LoadInputImage(job.input_path, request, &report);
  job.left_out = report.left_out;
  if (!image) return LoadFailure(report.fault);
  // The steps make new bitmaps; a kept profile goes out with the picture they leave.
  const std::string kept_profile = request.keep_profile ? IccProfileOf(image.get()) : std::string();
  const auto source_bpp = static_cast<int32_t>(FreeImage_GetBPP(image.get()));

  image = RotateImage(std::move(image), settings);
  image = ResizeImage(std::move(image), settings, AvailableMemoryBytes());
  // The size every later step keeps; "%width%" and "%height%" tell it.
  const auto result_width = static_cast<int32_t>(FreeImage_GetWidth(image.get()));
  const auto result_height = static_cast<int32_t>(FreeImage_GetHeight(image.get()));

  // The depth this file goes out with decides whether its 16 bits per channel can stay.
  // An automatic depth keeps grey grey, and 16-bit grey at 16 bits where nothing needs 8.
  const bool steps_need_eight_bits = StepsNeedEightBitChannels(settings);
  const int32_t output_bpp = job.auto_bpp == 1 ? ChooseAutoDepth(job.output_format, image.get(),
                                                                 source_bpp, steps_need_eight_bits)
                                               : job.target_bpp;
  const bool eight_bits = KeepsDeepGrey(image.get(), output_bpp)
                              ? steps_need_eight_bits
                              : NeedsEightBitChannels(settings, output_bpp);

  image = NormaliseGreyscale(std::move(image), eight_bits);
  image = ReduceDeepColour(std::move(image), eight_bits, output_bpp);
  image = FlipImage(std::move(image), settings);
  image = CorrectColours(std::move(image), settings);
  image = MakeGreyscale(std::move(image), settings);
  image = ApplyThreshold(std::move(image), settings);
  image = DrawFrame(std::move(image), settings);

  // From here on the file reads its number, which earlier files of the run may decide.
  if (hooks.before_naming && !hooks.before_naming(job)) return FileFailure::NotReached;
  const TokenValues tokens{job.input_path, job.output_format, output_bpp,         result_width,
                           result_height,  job.random_number, job.sequence_number};
  // A watermark picture is as untrusted as the input: it is decoded like a document, apart from
  // the step that draws it.
  Bitmap picture;
  if (image && settings.watermark.do_watermark == ToValue(WatermarkType::Image)) {
    picture = LoadWatermarkImage(settings.watermark.image);
    // A stopped run's file is not saved without the watermark its decode was cut short of.
    if (!picture && DecodersStopped()) image = {};
  }
  image = DrawWatermark(std::move(image), settings, tokens,
                        {resources.watermark_font.get(), picture.get()});
  image = ConvertToTargetDepth(std::move(image), job.output_format, output_bpp);
  // A grey document's transparency widened it to RGBA: at an automatic depth it goes back to grey
  // with alpha unless the steps coloured it.
  const bool grey_in_rgba =
      report.grey && job.auto_bpp == 1 && KeepsGreyInRgba(job.output_format, image.get());
  if (!kept_profile.empty() && !IccProfileFits(kept_profile, image.get(), grey_in_rgba)) {
    profile_fits = false;
    return FileFailure::None;
  }
  image = WithIccProfile(std::move(image), kept_profile, grey_in_rgba);

  const bool keep_subfolders = settings.advanced.keep_subfolders == 1;
  const std::string name = BuildOutputName(settings.advanced.filename_mask, tokens);
  job.source_bpp = source_bpp;
  job.result_width = result_width;
  job.result_height = result_height;
  job.target_bpp = output_bpp;
  job.output_path = BuildOutputPath(job.output_folder, job.input_subfolder, keep_subfolders, name);
  // A mask may make subfolders, never a name outside the output folder.
  const std::string relative = (keep_subfolders ? job.input_subfolder : std::string()) + name;
  if (!StaysInOutputFolder(relative)) return FileFailure::OutsideOutputFolder;
  if (hooks.claim_output && !hooks.claim_output(job.output_path)) {
    return FileFailure::NameCollision;
  }
  if (keep_subfolders && !job.input_subfolder.empty() &&
      !MakeInputSubfolder(job.output_folder + job.input_subfolder)) {
    return FileFailure::OutputNotWritable;
  }
  const int32_t flags = save_flags | (grey_in_rgba ? PngGreyFromRgba : 0);
  if (!SaveImage(image, job.output_fif, job.output_path, flags)) {
    return IsWritableFolderOf(job.output_path) ? FileFailure::SaveFailed
                                               : FileFailure::OutputNotWritable;
  }
  return FileFailure::None;
}

}  // namespace

FileFailure ConvertFile(ConversionJob& job, const ProgramSettings& settings,
                        const RunResources& resources, const FileHooks& hooks) {
  bool profile_fits = true;
  const FileFailure failure =
      ConvertOnce(job, settings, job.save_flags, resources, hooks, profile_fits);
  if (profile_fits) return failure;
  // A grey profile cannot go into the colour or palette PNG the steps made of a grey document, nor
  // an RGB one into a grey PNG: that file goes as by default, through its profile to sRGB.
  ProgramSettings converted = settings;
  converted.output.keep_icc_profile = 0;
  return ConvertOnce(job, converted, SaveFlagsFor(job.output_format, converted), resources, hooks,
                     profile_fits);
}
