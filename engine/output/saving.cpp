#include "engine/output/saving.h"

#include <fcntl.h>

#include <algorithm>
#include <vector>

#include "engine/image/file_stream.h"
#include "engine/output/formats.h"
#include "engine/output/png_encoder.h"
#include "platform/atomic_file.h"

namespace {

int32_t PngFlags(const OutputSettings& output) {
  int32_t flags = 0;
  switch (output.png_compression) {
    case 0:
      flags |= PNG_Z_NO_COMPRESSION;
      break;
    case 1:
      flags |= PNG_Z_BEST_SPEED;
      break;
    case 2:
      flags |= PNG_Z_DEFAULT_COMPRESSION;
      break;
    case 3:
      flags |= PNG_Z_BEST_COMPRESSION;
      break;
    default:
      break;
  }
  if (output.png_interlaced == 1) flags |= PNG_INTERLACED;
  // Unless the document's own colours are kept, every picture leaves as sRGB.
  if (output.keep_icc_profile != 1) flags |= PngSrgbChunk;
  return flags;
}

int32_t JpegFlags(const OutputSettings& output) {
  int32_t flags = 0;
  // The quality forms the low bits; anything outside 1..100 would be read as other flags.
  if (output.jpg_quality >= 1 && output.jpg_quality <= 100) flags += output.jpg_quality;
  switch (output.jpg_chroma) {
    case 0:
      flags |= JPEG_SUBSAMPLING_444;
      break;
    case 1:
      flags |= JPEG_SUBSAMPLING_422;
      break;
    case 2:
      flags |= JPEG_SUBSAMPLING_420;
      break;
    case 3:
      flags |= JPEG_SUBSAMPLING_411;
      break;
    default:
      break;
  }
  switch (output.jpg_save_as) {
    case 0:
      break;
    case 1:
      flags |= JPEG_BASELINE;
      break;
    case 2:
      flags |= JPEG_OPTIMIZE;
      break;
    case 3:
      flags |= JPEG_PROGRESSIVE;
      break;
    default:
      break;
  }
  return flags;
}

int32_t TiffFlags(const OutputSettings& output) {
  int32_t flags = 0;
  switch (output.tiff_compression) {
    case 0:
      flags |= TIFF_NONE;
      break;
    case 1:
      flags |= TIFF_CCITTFAX3;
      break;
    case 2:
      flags |= TIFF_CCITTFAX4;
      break;
    case 3:
      flags |= TIFF_PACKBITS;
      break;
    case 4:
      flags |= TIFF_DEFLATE;
      break;
    case 5:
      flags |= TIFF_ADOBE_DEFLATE;
      break;
    case 6:
      flags |= TIFF_LZW;
      break;
    case 7:
      flags |= TIFF_JPEG;
      break;
    case 8:
      flags |= TIFF_LOGLUV;
      break;
    default:
      break;
  }
  if (output.tiff_color_model == 1) flags |= TIFF_CMYK;
  return flags;
}

int32_t ExrFlags(const OutputSettings& output) {
  switch (output.exr_compression) {
    case 0:
      return EXR_NONE;
    case 1:
      return EXR_ZIP;
    case 2:
      return EXR_PIZ;
    case 3:
      return EXR_PXR24;
    case 4:
      return EXR_B44;
    default:
      return 0;
  }
}

// The palette depth for formats that take greyscale at 8 bits rather than a quantised palette.
bool TakesGreyAtEightBits(std::string_view key) {
  return key == "j2k" || key == "jp2" || key == "jpg" || key == "jxr";
}

Bitmap Converted(FIBITMAP* result) { return Bitmap(result); }

}  // namespace

int32_t SaveFlagsFor(std::string_view output_key, const ProgramSettings& settings) {
  const OutputSettings& output = settings.output;
  if (output_key == "bmp") return output.bmp_compression == 1 ? BMP_SAVE_RLE : BMP_DEFAULT;
  if (output_key == "exr") return ExrFlags(output);
  if (output_key == "jpg") return JpegFlags(output);
  if (output_key == "jxr") return JXR_LOSSLESS;
  if (output_key == "png") return PngFlags(output);
  if (output_key == "tga") return output.tga_compression == 1 ? TARGA_SAVE_RLE : TARGA_DEFAULT;
  if (output_key == "tiff") return TiffFlags(output);
  if (output_key == "webp") return WEBP_LOSSLESS;
  return 0;
}

int32_t TargetDepthSetting(std::string_view output_key, const ProgramSettings& settings) {
  // The lookup hands out a writable field; it is only read here.
  const int32_t* value = OutputBppSetting(settings, output_key);
  return value ? *value : 0;
}

int32_t ChooseAutoDepth(std::string_view output_key, int32_t source_bpp) {
  const OutputFormatEntry* entry = FindOutputFormat(output_key);
  if (!entry) return 0;
  const std::vector<int32_t> depths = ParseDepthList(entry->depths);
  if (depths.empty()) return 0;
  for (int32_t depth : depths) {
    if (depth >= source_bpp) return depth;
  }
  return depths.back();
}

int32_t ChooseAutoDepth(std::string_view output_key, FIBITMAP* image, int32_t source_bpp,
                        bool eight_bits_needed) {
  const int32_t chosen = ChooseAutoDepth(output_key, source_bpp);
  if (!image || FreeImage_GetColorType(image) != FIC_MINISBLACK) return chosen;
  switch (FreeImage_GetImageType(image)) {
    case FIT_UINT16: {
      if (output_key == "png" && !eight_bits_needed) return 16;
      const OutputFormatEntry* entry = FindOutputFormat(output_key);
      if (!entry) return chosen;
      const std::vector<int32_t> depths = ParseDepthList(entry->depths);
      return std::find(depths.begin(), depths.end(), 8) != depths.end() ? 8 : chosen;
    }
    default:
      return chosen;  // 8-bit grey finds 8 itself; other grey kinds are made standard later
  }
}

bool KeepsGreyInRgba(std::string_view output_key, FIBITMAP* image) {
  if (output_key != "png" || !image || !FreeImage_HasPixels(image)) return false;
  const FREE_IMAGE_TYPE type = FreeImage_GetImageType(image);
  const bool eight = type == FIT_BITMAP && FreeImage_GetBPP(image) == 32;
  if (!eight && type != FIT_RGBA16) return false;
  const unsigned width = FreeImage_GetWidth(image);
  const unsigned height = FreeImage_GetHeight(image);
  // One pass that stops at the first coloured pixel: a frame or a watermark shows at once.
  for (unsigned y = 0; y < height; ++y) {
    const BYTE* row = FreeImage_GetScanLine(image, static_cast<int>(y));
    if (eight) {
      for (unsigned x = 0; x < width; ++x, row += 4) {
        if (row[FI_RGBA_RED] != row[FI_RGBA_GREEN] || row[FI_RGBA_RED] != row[FI_RGBA_BLUE]) {
          return false;
        }
      }
    } else {
      const auto* pixel = reinterpret_cast<const FIRGBA16*>(row);
      for (unsigned x = 0; x < width; ++x, ++pixel) {
        if (pixel->red != pixel->green || pixel->red != pixel->blue) return false;
      }
    }
  }
  return true;
}

Bitmap ConvertToTargetDepth(Bitmap image, std::string_view output_key, int32_t target_bpp) {
  if (!image) return image;
  FIBITMAP* dib = image.get();
  if (static_cast<int32_t>(FreeImage_GetBPP(dib)) == target_bpp) return image;

  switch (target_bpp) {
    case 96:
      return Converted(FreeImage_ConvertToRGBF(dib));
    case 64:
      return Converted(FreeImage_ConvertToRGBA16(dib));
    case 48:
      return Converted(FreeImage_ConvertToRGB16(dib));
    case 32:
      return Converted(FreeImage_ConvertTo32Bits(dib));
    case 24:
      return Converted(FreeImage_ConvertTo24Bits(dib));
    case 16: {
      if (FreeImage_GetBPP(dib) > 32) {
        image = Converted(FreeImage_ConvertTo24Bits(dib));
        if (!image) return image;
        dib = image.get();
      }
      if (output_key == "ico" || output_key == "tga") {
        return Converted(FreeImage_ConvertTo16Bits555(dib));
      }
      return Converted(FreeImage_ConvertTo16Bits565(dib));
    }
    case 8: {
      if (TakesGreyAtEightBits(output_key)) return Converted(FreeImage_ConvertTo8Bits(dib));
      if (FreeImage_GetBPP(dib) != 24 || FreeImage_GetImageType(dib) != FIT_BITMAP) {
        image = Converted(FreeImage_ConvertTo24Bits(dib));
        if (!image) return image;
        dib = image.get();
      }
      return Converted(FreeImage_ColorQuantizeEx(dib, FIQ_WUQUANT, 256, 0, nullptr));
    }
    case 4:
      return Converted(FreeImage_ConvertTo4Bits(dib));
    case 1:
      return Converted(FreeImage_Dither(dib, FID_FS));
    default:
      return {};
  }
}

bool SaveImage(const Bitmap& image, int32_t fif, const std::string& path, int32_t flags) {
  if (!image || path.empty() || path.back() == '/') return false;
  AtomicFile file;
  if (!file.Open(path)) return false;
  // Some writers read back what they wrote, hence a stream open for both. It gets its own
  // descriptor: the writer still needs the temporary's after the stream is closed.
  // Our PNG encoder writes whole chunks, which pass a small buffer by.
  FileStream stream(fcntl(file.fd(), F_DUPFD_CLOEXEC, 0), "w+b",
                    fif == FIF_PNG ? FileStream::SmallBufferBytes : FileStream::BufferBytes);
  if (!stream.IsOpen()) return false;
  // A failed save can leave a partial file: it only ever reaches the temporary. A full disk
  // shows only in the stream: FreeImage's writers do not look at what their writes return.
  // PNG is written by our own encoder, which compresses on every core; the rest by FreeImage.
  const bool encoded =
      fif == FIF_PNG ? WritePng(image.get(), stream.file(), PngEncodingFor(flags))
                     : FreeImage_SaveToHandle(static_cast<FREE_IMAGE_FORMAT>(fif), image.get(),
                                              stream.io(), stream.handle(), flags) != FALSE;
  const bool written = stream.Close();
  return encoded && written && file.Commit(AtomicFile::Sync::Fast);
}
