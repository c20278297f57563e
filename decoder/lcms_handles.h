#pragma once

// Owners of LittleCMS objects: a profile and a transform close with their handle.

#include <lcms2.h>

#include <memory>

struct ProfileClose {
  void operator()(void* profile) const noexcept { cmsCloseProfile(profile); }
};
using Profile = std::unique_ptr<void, ProfileClose>;

struct TransformDelete {
  void operator()(void* transform) const noexcept { cmsDeleteTransform(transform); }
};
using Transform = std::unique_ptr<void, TransformDelete>;

struct ToneCurveFree {
  void operator()(cmsToneCurve* curve) const noexcept { cmsFreeToneCurve(curve); }
};
using ToneCurve = std::unique_ptr<cmsToneCurve, ToneCurveFree>;
