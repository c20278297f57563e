#include "core/pipeline.h"

#include <string>

#include "engine/image/memory_budget.h"
#include "engine/isolation/decoder_stop.h"
#include "engine/loading/loading.h"
#include "engine/output/naming.h"
#include "engine/output/saving.h"
#include "engine/steps/colour.h"
#include "engine/steps/frame.h"
#include "engine/steps/normalise.h"
#include "engine/steps/transforms.h"
#include "engine/steps/watermark.h"
#include "settings/program_settings.h"

FileFailure ConvertFile(ConversionJob& job, const ProgramSettings& settings,
                        const RunResources& resources) {
  job.output_path.clear();
  const LayerRequest layers{settings.input.rebuild_from_layers == 1, job.hidden_layers};
  job.left_out.clear();
  Bitmap image = LoadInputImage(job.input_path, layers, &job.left_out);
  if (!image) return FileFailure::LoadFailed;
  const auto source_bpp = static_cast<int32_t>(FreeImage_GetBPP(image.get()));

  image = RotateImage(std::move(image), settings);
  image = ResizeImage(std::move(image), settings, AvailableMemoryBytes());
  // The size every later step keeps; "%width%" and "%height%" tell it.
  const auto result_width = static_cast<int32_t>(FreeImage_GetWidth(image.get()));
  const auto result_height = static_cast<int32_t>(FreeImage_GetHeight(image.get()));

  // The depth this file goes out with decides whether its 16 bits per channel can stay.
  const int32_t output_bpp =
      job.auto_bpp == 1 ? ChooseAutoDepth(job.output_format, source_bpp) : job.target_bpp;
  const bool eight_bits = NeedsEightBitChannels(settings, output_bpp);
  const TokenValues tokens{job.input_path, job.output_format, output_bpp,         result_width,
                           result_height,  job.random_number, job.sequence_number};

  image = NormaliseGreyscale(std::move(image), eight_bits);
  image = ReduceDeepColour(std::move(image), eight_bits, output_bpp);
  image = FlipImage(std::move(image), settings);
  image = CorrectColours(std::move(image), settings);
  image = MakeGreyscale(std::move(image), settings);
  image = ApplyThreshold(std::move(image), settings);
  image = DrawFrame(std::move(image), settings);
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
  if (!SaveImage(image, job.output_fif, job.output_path, job.save_flags)) {
    return FileFailure::SaveFailed;
  }
  return FileFailure::None;
}
