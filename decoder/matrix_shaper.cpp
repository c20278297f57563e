#include "decoder/matrix_shaper.h"

#include <algorithm>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "decoder/lcms_handles.h"

namespace {

using Matrix = std::array<std::array<double, 3>, 3>;

constexpr cmsTagSignature ColorantTags[3] = {cmsSigRedColorantTag, cmsSigGreenColorantTag,
                                             cmsSigBlueColorantTag};
constexpr cmsTagSignature CurveTags[3] = {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag};

// Columns: the colorants, the PCS XYZ (D50) of full red, green and blue.
bool ReadColorants(cmsHPROFILE profile, Matrix& matrix) {
  for (int c = 0; c < 3; ++c) {
    const auto* xyz = static_cast<const cmsCIEXYZ*>(cmsReadTag(profile, ColorantTags[c]));
    if (!xyz) return false;
    matrix[0][c] = xyz->X;
    matrix[1][c] = xyz->Y;
    matrix[2][c] = xyz->Z;
  }
  return true;
}

bool Invert(const Matrix& m, Matrix& inverse) {
  const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                     m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                     m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
  if (!std::isfinite(det) || std::fabs(det) < 1e-9) return false;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      const int j1 = (j + 1) % 3, j2 = (j + 2) % 3, i1 = (i + 1) % 3, i2 = (i + 2) % 3;
      inverse[i][j] = (m[j1][i1] * m[j2][i2] - m[j1][i2] * m[j2][i1]) / det;
    }
  }
  return true;
}

// LittleCMS takes a lookup table of the intent's, or else of the perceptual one, over the
// matrix and curves whenever the profile has one.
bool IsPlainMatrixShaper(cmsHPROFILE profile) {
  if (cmsGetColorSpace(profile) != cmsSigRgbData || !cmsIsMatrixShaper(profile)) return false;
  for (const cmsTagSignature table :
       {cmsSigAToB0Tag, cmsSigAToB1Tag, cmsSigDToB0Tag, cmsSigDToB1Tag, cmsSigBToA0Tag,
        cmsSigBToA1Tag, cmsSigBToD0Tag, cmsSigBToD1Tag}) {
    if (cmsIsTag(profile, table)) return false;
  }
  return true;
}

// One sample of linear sRGB to its level, clipped as LittleCMS clips out-of-gamut colours.
[[maybe_unused]] inline uint8_t Encode(
    const std::array<uint8_t, MatrixShaperToSrgb::LinearSteps + 1>& encode, float value) {
  value = std::min(std::max(value, 0.0f), 1.0f);
  return encode[static_cast<int>(value * MatrixShaperToSrgb::LinearSteps + 0.5f)];
}

}  // namespace

std::unique_ptr<MatrixShaperToSrgb> MatrixShaperToSrgb::Between(cmsHPROFILE source,
                                                                cmsHPROFILE srgb) {
  if (!IsPlainMatrixShaper(source) || !IsPlainMatrixShaper(srgb)) return nullptr;
  Matrix to_pcs{};
  Matrix from_srgb{};
  Matrix to_srgb{};
  if (!ReadColorants(source, to_pcs) || !ReadColorants(srgb, from_srgb) ||
      !Invert(from_srgb, to_srgb)) {
    return nullptr;
  }
  std::unique_ptr<MatrixShaperToSrgb> conversion(new MatrixShaperToSrgb);
  for (int c = 0; c < 3; ++c) {
    const auto* curve = static_cast<const cmsToneCurve*>(cmsReadTag(source, CurveTags[c]));
    if (!curve) return nullptr;
    for (int level = 0; level < 256; ++level) {
      const float value = cmsEvalToneCurveFloat(curve, static_cast<float>(level) / 255);
      if (!std::isfinite(value)) return nullptr;
      conversion->linear_[c][level] = value;
    }
    // A source black above zero would be moved by the black-point compensation.
    if (std::fabs(conversion->linear_[c][0]) > 1e-6f) return nullptr;
  }
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      double sum = 0;
      for (int k = 0; k < 3; ++k) sum += to_srgb[i][k] * to_pcs[k][j];
      conversion->matrix_[i][j] = static_cast<float>(sum);
    }
  }
  const auto* srgb_curve = static_cast<const cmsToneCurve*>(cmsReadTag(srgb, cmsSigRedTRCTag));
  const ToneCurve encode(srgb_curve ? cmsReverseToneCurve(srgb_curve) : nullptr);
  if (!encode) return nullptr;
  for (int step = 0; step <= LinearSteps; ++step) {
    const float value = cmsEvalToneCurveFloat(encode.get(), static_cast<float>(step) / LinearSteps);
    conversion->encode_[step] =
        static_cast<uint8_t>(std::lround(std::clamp(value, 0.0f, 1.0f) * 255));
  }
  return conversion;
}

#if defined(__SSE2__)

// The matrix, clipping and scaling of the three samples at once: 0.55 of the scalar loop's time.
void MatrixShaperToSrgb::ConvertPixels(BYTE* pixels, unsigned count, unsigned step) const {
  const auto& m = matrix_;
  const __m128 red = _mm_setr_ps(m[0][0], m[1][0], m[2][0], 0);
  const __m128 green = _mm_setr_ps(m[0][1], m[1][1], m[2][1], 0);
  const __m128 blue = _mm_setr_ps(m[0][2], m[1][2], m[2][2], 0);
  const __m128 zero = _mm_setzero_ps();
  const __m128 one = _mm_set1_ps(1.0f);
  const __m128 steps = _mm_set1_ps(static_cast<float>(LinearSteps));
  const __m128 half = _mm_set1_ps(0.5f);
  alignas(16) int32_t index[4];
  for (BYTE* pixel = pixels; count > 0; --count, pixel += step) {
    __m128 value =
        _mm_add_ps(_mm_add_ps(_mm_mul_ps(red, _mm_set1_ps(linear_[0][pixel[FI_RGBA_RED]])),
                              _mm_mul_ps(green, _mm_set1_ps(linear_[1][pixel[FI_RGBA_GREEN]]))),
                   _mm_mul_ps(blue, _mm_set1_ps(linear_[2][pixel[FI_RGBA_BLUE]])));
    value = _mm_min_ps(_mm_max_ps(value, zero), one);
    _mm_store_si128(reinterpret_cast<__m128i*>(index),
                    _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(value, steps), half)));
    pixel[FI_RGBA_RED] = encode_[index[0]];
    pixel[FI_RGBA_GREEN] = encode_[index[1]];
    pixel[FI_RGBA_BLUE] = encode_[index[2]];
  }
}

#else

void MatrixShaperToSrgb::ConvertPixels(BYTE* pixels, unsigned count, unsigned step) const {
  const auto& m = matrix_;
  for (BYTE* pixel = pixels; count > 0; --count, pixel += step) {
    const float r = linear_[0][pixel[FI_RGBA_RED]];
    const float g = linear_[1][pixel[FI_RGBA_GREEN]];
    const float b = linear_[2][pixel[FI_RGBA_BLUE]];
    pixel[FI_RGBA_RED] = Encode(encode_, m[0][0] * r + m[0][1] * g + m[0][2] * b);
    pixel[FI_RGBA_GREEN] = Encode(encode_, m[1][0] * r + m[1][1] * g + m[1][2] * b);
    pixel[FI_RGBA_BLUE] = Encode(encode_, m[2][0] * r + m[2][1] * g + m[2][2] * b);
  }
}

#endif
