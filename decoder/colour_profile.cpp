#include "decoder/colour_profile.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "decoder/lcms_handles.h"
#include "decoder/matrix_shaper.h"
#include "engine/psd/psd_header.h"
#include "platform/mapped_file.h"
#include "platform/system.h"

namespace {

// IEC 61966-2.1: the parametric curve of type 4 with these parameters.
constexpr std::array<double, 5> SrgbCurve = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};

ToneCurve MakeSrgbCurve() {
  return ToneCurve(cmsBuildParametricToneCurve(nullptr, 4, SrgbCurve.data()));
}

// Grey encoded with the sRGB curve under a D50 white: what an untagged grey document, and a grey
// PNG with an sRGB chunk, mean.
Profile MakeSrgbGrey() {
  const ToneCurve curve = MakeSrgbCurve();
  if (!curve) return {};
  return Profile(cmsCreateGrayProfile(cmsD50_xyY(), curve.get()));
}

Profile OpenProfile(std::span<const uint8_t> bytes) {
  if (bytes.empty()) return {};
  return Profile(cmsOpenProfileFromMem(bytes.data(), static_cast<cmsUInt32Number>(bytes.size())));
}

// A curve is sRGB's when encoding what it gives with sRGB's own curve leads back to where it
// started, within an eighth of an 8-bit level at 4097 points: the sampled sRGB curves in
// circulation (1024 entries) stay well inside that, and a document's pixels would not change.
bool CurveIsSrgb(const cmsToneCurve* curve, const cmsToneCurve* srgb_encode) {
  if (!curve) return false;
  constexpr int Points = 4096;
  constexpr float Tolerance = 1.0f / (8 * 255);
  for (int i = 0; i <= Points; ++i) {
    const float x = static_cast<float>(i) / Points;
    const float back = cmsEvalToneCurveFloat(srgb_encode, cmsEvalToneCurveFloat(curve, x));
    if (std::fabs(back - x) > Tolerance) return false;
  }
  return true;
}

bool XyzClose(const void* tag, const void* srgb_tag) {
  if (!tag || !srgb_tag) return false;
  const auto* a = static_cast<const cmsCIEXYZ*>(tag);
  const auto* b = static_cast<const cmsCIEXYZ*>(srgb_tag);
  // The s15.16 colorants of sRGB profiles in circulation differ in their last digits.
  constexpr double Tolerance = 0.0005;
  return std::fabs(a->X - b->X) < Tolerance && std::fabs(a->Y - b->Y) < Tolerance &&
         std::fabs(a->Z - b->Z) < Tolerance;
}

// A matrix-shaper with sRGB's colorants and curves, or a grey profile with the sRGB curve.
bool IsSrgbEquivalent(cmsHPROFILE profile) {
  const ToneCurve srgb_decode = MakeSrgbCurve();
  if (!srgb_decode) return false;
  const ToneCurve srgb_curve(cmsReverseToneCurve(srgb_decode.get()));
  if (!srgb_curve) return false;
  switch (cmsGetColorSpace(profile)) {
    case cmsSigGrayData:
      return CurveIsSrgb(static_cast<const cmsToneCurve*>(cmsReadTag(profile, cmsSigGrayTRCTag)),
                         srgb_curve.get());
    case cmsSigRgbData: {
      if (!cmsIsMatrixShaper(profile)) return false;
      const Profile srgb(cmsCreate_sRGBProfile());
      if (!srgb) return false;
      for (const cmsTagSignature tag :
           {cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag}) {
        if (!XyzClose(cmsReadTag(profile, tag), cmsReadTag(srgb.get(), tag))) return false;
      }
      for (const cmsTagSignature tag : {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag}) {
        if (!CurveIsSrgb(static_cast<const cmsToneCurve*>(cmsReadTag(profile, tag)),
                         srgb_curve.get())) {
          return false;
        }
      }
      return true;
    }
    default:
      return false;
  }
}

// The LittleCMS layouts of a bitmap's samples, as they come in and go out.
struct SampleFormats {
  cmsUInt32Number in = 0;
  cmsUInt32Number out = 0;
};

// FreeImage keeps 8-bit colour as blue, green, red (alpha) on this platform, and 16-bit colour as
// red, green, blue (alpha); PSD_LAB puts L, a, b in memory order at either depth.
std::optional<SampleFormats> FormatsOf(FIBITMAP* image, DocumentColours colours) {
  constexpr bool Bgr = FI_RGBA_RED == 2;
  const FREE_IMAGE_TYPE type = FreeImage_GetImageType(image);
  const unsigned bpp = FreeImage_GetBPP(image);
  switch (colours) {
    case DocumentColours::Grey:
      return std::nullopt;  // by a table of every level, see ConvertGrey
    case DocumentColours::Rgb:
      if (type == FIT_BITMAP && bpp == 24) {
        return SampleFormats{Bgr ? TYPE_BGR_8 : TYPE_RGB_8, Bgr ? TYPE_BGR_8 : TYPE_RGB_8};
      }
      if (type == FIT_BITMAP && bpp == 32) {
        return SampleFormats{Bgr ? TYPE_BGRA_8 : TYPE_RGBA_8, Bgr ? TYPE_BGRA_8 : TYPE_RGBA_8};
      }
      if (type == FIT_RGB16) return SampleFormats{TYPE_RGB_16, TYPE_RGB_16};
      if (type == FIT_RGBA16) return SampleFormats{TYPE_RGBA_16, TYPE_RGBA_16};
      return std::nullopt;
    case DocumentColours::Lab:
      if (type == FIT_BITMAP && bpp == 24) {
        return SampleFormats{TYPE_Lab_8, Bgr ? TYPE_BGR_8 : TYPE_RGB_8};
      }
      if (type == FIT_BITMAP && bpp == 32) {
        return SampleFormats{COLORSPACE_SH(PT_Lab) | EXTRA_SH(1) | CHANNELS_SH(3) | BYTES_SH(1),
                             Bgr ? TYPE_BGRA_8 : TYPE_RGBA_8};
      }
      // ICC's version 4 encoding; Photoshop's 16-bit a and b are moved onto it first
      // (IccLabScale).
      if (type == FIT_RGB16) return SampleFormats{TYPE_Lab_16, TYPE_RGB_16};
      if (type == FIT_RGBA16) {
        return SampleFormats{COLORSPACE_SH(PT_Lab) | EXTRA_SH(1) | CHANNELS_SH(3) | BYTES_SH(2),
                             TYPE_RGBA_16};
      }
      return std::nullopt;
  }
  return std::nullopt;
}

cmsColorSpaceSignature SpaceOf(DocumentColours colours) {
  switch (colours) {
    case DocumentColours::Grey:
      return cmsSigGrayData;
    case DocumentColours::Rgb:
      return cmsSigRgbData;
    case DocumentColours::Lab:
      return cmsSigLabData;
  }
  return cmsSigRgbData;
}

// A grey picture's bitmap: 8- or 16-bit grey, or grey widened to 32-bit or RGBA16 colour (every
// pixel's red, green and blue alike) to carry its transparency.
enum class GreyKind { None, Grey8, Grey16, Widened8, Widened16 };

GreyKind GreyKindOf(FIBITMAP* image) {
  const FREE_IMAGE_TYPE type = FreeImage_GetImageType(image);
  const unsigned bpp = FreeImage_GetBPP(image);
  if (type == FIT_BITMAP && bpp == 8) {
    return FreeImage_GetColorType(image) == FIC_MINISBLACK ? GreyKind::Grey8 : GreyKind::None;
  }
  if (type == FIT_UINT16) return GreyKind::Grey16;
  if (type == FIT_BITMAP && bpp == 32) return GreyKind::Widened8;
  if (type == FIT_RGBA16) return GreyKind::Widened16;
  return GreyKind::None;
}

// A grey conversion is one curve: every level goes through LittleCMS once, and the pixels look
// their answer up, widened grey included (LittleCMS cannot read grey from a colour bitmap).
void ConvertGrey(FIBITMAP* image, GreyKind kind, cmsHPROFILE source, cmsHPROFILE target) {
  const bool deep = kind == GreyKind::Grey16 || kind == GreyKind::Widened16;
  const cmsUInt32Number format = deep ? TYPE_GRAY_16 : TYPE_GRAY_8;
  // Exact: the table is made once, and LittleCMS's joined curves stray at the dark end.
  const Transform transform(
      cmsCreateTransform(source, format, target, format, INTENT_RELATIVE_COLORIMETRIC,
                         cmsFLAGS_BLACKPOINTCOMPENSATION | cmsFLAGS_NOOPTIMIZE));
  if (!transform) return;
  const size_t levels = deep ? 65536 : 256;
  std::vector<uint16_t> table(levels);
  if (deep) {
    for (size_t i = 0; i < levels; ++i) table[i] = static_cast<uint16_t>(i);
    cmsDoTransform(transform.get(), table.data(), table.data(),
                   static_cast<cmsUInt32Number>(levels));
  } else {
    std::vector<uint8_t> ramp(levels);
    for (size_t i = 0; i < levels; ++i) ramp[i] = static_cast<uint8_t>(i);
    cmsDoTransform(transform.get(), ramp.data(), ramp.data(), static_cast<cmsUInt32Number>(levels));
    for (size_t i = 0; i < levels; ++i) table[i] = ramp[i];
  }
  const unsigned width = FreeImage_GetWidth(image);
  const unsigned height = FreeImage_GetHeight(image);
  for (unsigned y = 0; y < height; ++y) {
    BYTE* row = FreeImage_GetScanLine(image, static_cast<int>(y));
    for (unsigned x = 0; x < width; ++x) {
      switch (kind) {
        case GreyKind::Grey8:
          row[x] = static_cast<BYTE>(table[row[x]]);
          break;
        case GreyKind::Grey16: {
          uint16_t& value = reinterpret_cast<uint16_t*>(row)[x];
          value = table[value];
          break;
        }
        case GreyKind::Widened8: {
          BYTE* pixel = row + 4 * x;
          pixel[FI_RGBA_RED] = pixel[FI_RGBA_GREEN] = pixel[FI_RGBA_BLUE] =
              static_cast<BYTE>(table[pixel[FI_RGBA_RED]]);
          break;
        }
        case GreyKind::Widened16: {
          FIRGBA16& pixel = reinterpret_cast<FIRGBA16*>(row)[x];
          pixel.red = pixel.green = pixel.blue = table[pixel.red];
          break;
        }
        case GreyKind::None:
          return;
      }
    }
  }
}

// Rows per thread at least: fewer are not worth a thread.
constexpr unsigned RowsPerThread = 64;

// Calls `convert` with bands of the rows of `image` (its first row and how many), on every usable
// core at once: a 12-megapixel picture takes about half a second on one through LittleCMS.
void ForEachBand(FIBITMAP* image, const std::function<void(BYTE* first, unsigned rows)>& convert) {
  const unsigned height = FreeImage_GetHeight(image);
  const unsigned pitch = FreeImage_GetPitch(image);
  BYTE* bits = FreeImage_GetBits(image);
  const auto cores = static_cast<unsigned>(std::max<int32_t>(1, UsableProcessorCount()));
  const unsigned bands = std::clamp(height / RowsPerThread, 1u, cores);
  const unsigned rows_per_band = (height + bands - 1) / bands;
  const auto band = [&](unsigned first) {
    convert(bits + static_cast<size_t>(first) * pitch, std::min(rows_per_band, height - first));
  };
  std::vector<std::thread> helpers;
  for (unsigned first = rows_per_band; first < height; first += rows_per_band) {
    try {
      helpers.emplace_back(band, first);
    } catch (const std::system_error&) {
      band(first);  // no thread to be had: this one does the band
    }
  }
  band(0);
  for (std::thread& helper : helpers) helper.join();
}

void TransformRows(cmsHTRANSFORM transform, FIBITMAP* image) {
  const unsigned width = FreeImage_GetWidth(image);
  const unsigned pitch = FreeImage_GetPitch(image);
  ForEachBand(image, [&](BYTE* first, unsigned rows) {
    cmsDoTransformLineStride(transform, first, first, width, rows, pitch, pitch, 0, 0);
  });
}

// Photoshop stores a 16-bit Lab document's a and b as 32768 plus 256 a unit (-128 at 0, 0 at
// 32768); ICC's version 4 encoding, which LittleCMS reads, as 257 a unit from -128 (0 at 32896).
// Read as the latter, every colour would lean by up to a unit of a and b towards green and blue.
void IccLabScale(FIBITMAP* image) {
  const FREE_IMAGE_TYPE type = FreeImage_GetImageType(image);
  if (type != FIT_RGB16 && type != FIT_RGBA16) return;
  const unsigned width = FreeImage_GetWidth(image);
  const unsigned step = type == FIT_RGBA16 ? 4 : 3;
  ForEachBand(image, [&](BYTE* first, unsigned rows) {
    const unsigned pitch = FreeImage_GetPitch(image);
    for (unsigned y = 0; y < rows; ++y) {
      auto* pixel = reinterpret_cast<uint16_t*>(first + y * pitch);
      for (unsigned x = 0; x < width; ++x, pixel += step) {
        for (unsigned c = 1; c <= 2; ++c) {
          pixel[c] =
              static_cast<uint16_t>(std::min<uint32_t>((pixel[c] * 257u + 128) / 256, 65535));
        }
      }
    }
  });
}

void ConvertRows(const MatrixShaperToSrgb& conversion, FIBITMAP* image) {
  const unsigned width = FreeImage_GetWidth(image);
  const unsigned pitch = FreeImage_GetPitch(image);
  const unsigned step = FreeImage_GetBPP(image) / 8;
  ForEachBand(image, [&](BYTE* first, unsigned rows) {
    for (unsigned y = 0; y < rows; ++y) conversion.ConvertPixels(first + y * pitch, width, step);
  });
}

}  // namespace

bool IsSrgbEquivalent(std::span<const uint8_t> profile) {
  const Profile opened = OpenProfile(profile);
  return opened && IsSrgbEquivalent(opened.get());
}

Bitmap ConvertToSrgb(Bitmap image, std::span<const uint8_t> profile, DocumentColours colours,
                     const std::function<void(FIBITMAP*)>& before_conversion) {
  if (!image) return image;
  const GreyKind grey = colours == DocumentColours::Grey ? GreyKindOf(image.get()) : GreyKind::None;
  const std::optional<SampleFormats> formats = FormatsOf(image.get(), colours);
  if (!formats && grey == GreyKind::None) return image;
  // Whatever happens below, the samples that leave here are sRGB or taken as such.
  FreeImage_DestroyICCProfile(image.get());

  Profile source = OpenProfile(profile);
  if (source && cmsGetColorSpace(source.get()) != SpaceOf(colours)) source.reset();
  if (!source && colours == DocumentColours::Lab) source = Profile(cmsCreateLab4Profile(nullptr));
  if (!source || (colours != DocumentColours::Lab && IsSrgbEquivalent(source.get()))) return image;
  const Profile target(colours == DocumentColours::Grey ? MakeSrgbGrey()
                                                        : Profile(cmsCreate_sRGBProfile()));
  if (!target) return image;
  if (grey != GreyKind::None) {
    if (before_conversion) before_conversion(image.get());
    ConvertGrey(image.get(), grey, source.get(), target.get());
    return image;
  }
  // 8-bit colour between matrix-shapers, the common case, by tables of our own.
  const bool bytes = FreeImage_GetImageType(image.get()) == FIT_BITMAP;
  if (const std::unique_ptr<MatrixShaperToSrgb> fast =
          bytes && colours == DocumentColours::Rgb
              ? MatrixShaperToSrgb::Between(source.get(), target.get())
              : nullptr) {
    if (before_conversion) before_conversion(image.get());
    ConvertRows(*fast, image.get());
    return image;
  }
  // Alpha rides along untouched. Between matrix-shapers LittleCMS's optimised path stays within
  // a level; from Lab its precalculated table puts saturated colours up to 18 levels off, where
  // the exact path is still cheap (Lab to XYZ, a matrix, three curves).
  // Without the one-pixel cache a transform may run on several threads at once.
  const cmsUInt32Number exact = colours == DocumentColours::Lab ? cmsFLAGS_NOOPTIMIZE : 0;
  const Transform transform(cmsCreateTransform(
      source.get(), formats->in, target.get(), formats->out, INTENT_RELATIVE_COLORIMETRIC,
      cmsFLAGS_BLACKPOINTCOMPENSATION | cmsFLAGS_COPY_ALPHA | cmsFLAGS_NOCACHE | exact));
  if (!transform) return image;
  if (before_conversion) before_conversion(image.get());
  if (colours == DocumentColours::Lab) IccLabScale(image.get());
  TransformRows(transform.get(), image.get());
  return image;
}

Bitmap RebuiltPictureToSrgb(Bitmap picture, const char* path) {
  if (!picture) return picture;
  const MappedFile file(path);
  const std::optional<PsdHeader> header = ReadPsdHeader(file.bytes());
  if (!header) return picture;
  const std::span<const uint8_t> found =
      FindPsdResource(file.bytes(), *header, PsdIccProfileResourceId);
  // A copy: the file may shrink under the mapping while LittleCMS reads it.
  const std::vector<uint8_t> profile(found.begin(), found.end());
  if (!file.Intact()) return picture;
  switch (header->mode) {
    case PsdModeGreyscale:
      return ConvertToSrgb(std::move(picture), profile, DocumentColours::Grey);
    case PsdModeRgb:
      return ConvertToSrgb(std::move(picture), profile, DocumentColours::Rgb);
    default:
      return picture;
  }
}
