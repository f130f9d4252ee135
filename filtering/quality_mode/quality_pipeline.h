#pragma once

#include <opencv2/core.hpp>

#include "default_mode/pipeline.h"
#include "frame_io/frame.h"

namespace filtering {

/// How the quality mode filters a frame. The defaults are what
/// `filtering --quality` uses; every strength is relative to what the mode
/// measures on the frame itself, so none of them needs changing per frame.
struct QualityParameters {
    // Geometry guide: a channel counts one range unit when it changes by its
    // deviation. Normals are unit vectors; the plane offset (normal . (point
    // - camera)) is relative to the frame's median distance to the camera.
    float normalDeviation = 0.3f;
    // How much light changes across the normals' edges depends on the
    // light: shading that follows each facet, or indirect light that hardly
    // does. For each layer the normals' deviation is multiplied by this
    // (a power of 2; 1: never) where the layer's light plainly gains from
    // it (LayerJudge::adoptIfPays), else by half of it, and so on.
    float normalLoosening = 4.0f;
    float offsetDeviation = 0.6f;
    // World positions count one range unit per this share of the median
    // distance (0: left out). Light changes over distances in the scene, not
    // on the screen: the filter then reaches about as far in the scene on a
    // surface near the camera as on one far off, and ground that recedes to
    // the horizon is not smeared where each pixel spans metres of it.
    float positionDeviation = 0.5f;
    // Later passes: the logarithm of the previous pass's luminance joins the
    // guide, one unit per `lightDeviation` times the relative noise left
    // after filtering, taken as the layer's relative noise over
    // sigmaS^residualPower. `logFloor` (a share of the layer's level: its
    // noise deviation over its relative noise) keeps
    // dark pixels from steering.
    float lightDeviation = 1.0f;
    float residualPower = 0.5f;
    float logFloor = 0.1f;
    int passes = 2;
    // Spatial sigma: spatialBase times the layer's relative noise (the robust
    // deviation of each pixel's luminance over its neighbourhood's mean, on
    // flat geometry) to spatialPower,
    // held to [spatialLow, spatialHigh].
    float spatialBase = 7.0f;
    float spatialPower = 0.5f;
    float spatialLow = 1.0f, spatialHigh = 40.0f;
    // A layer whose light has no edges of its own is filtered up to three
    // times as wide after its first pass (widerFilterScale).
    bool widenSmoothLight = true;
    // Anti-aliased edges (pixels whose normals mix samples of two surfaces)
    // are evened out along the edge after recombining (smoothAntiAliasedEdges).
    bool smoothEdges = true;
    // A layer whose relative noise is below this is left as it is.
    float leastRelativeNoise = 0.005f;
    // Outliers: the limit above the local median, in local robust
    // deviations; the reach of the clipped light's spreading, in pixels.
    float fireflySpread = 6.0f;
    float fireflyReach = 8.0f;
};

/// The filtered light layers of the quality mode.
struct QualityLight {
    cv::Mat primary, secondary;
    cv::Mat glossy;  // empty when the frame has no glossy layers
};

/// Builds the mode's guide from the frame's geometry, measures the noise of
/// each light layer (the primary, the secondary, and the glossy light when
/// the frame has it), handles its outliers and filters it, then scales it
/// so that the frame keeps its brightness: the work the program times.
/// `ticks` receives its duration in cv::getTickCount units. A layer without
/// measurable noise comes back unchanged; so do the pixels of a layer that
/// hold no sample of it (no surface, or a colour of 0).
QualityLight filterLightForQuality(const Frame& frame, const QualityParameters& parameters,
                                   int64_t& ticks);

/// The quality mode on a loaded frame whose layers share one size:
/// rest + texColor * (filtered primary + filtered secondary); with glossy
/// layers, their share of the rest is glossyColor * filtered glossy light;
/// then its anti-aliased edges evened out (`smoothEdges`). The seconds are
/// those of filterLightForQuality and of the edges.
DenoisedFrame denoiseForQuality(const Frame& frame,
                                const QualityParameters& parameters = QualityParameters());

}  // namespace filtering
