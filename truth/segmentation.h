#pragma once
// The segmentation map from two flat-colour drawings instead of one redraw
// per id. It gives the map of BuildSegmentationMap (below), which
// stays as the reference, byte for byte, and leaves the random state as its
// redraws leave it.
//
// Why two drawings suffice: the depth buffer after a drawing holds, per
// pixel, the least depth of all fragments, whatever their order. So removing
// id k changes a pixel's depth exactly when k is the only id with fragments at
// the front depth: another id there keeps the depth, and with k alone there
// the next layer is deeper. (With at most 24 depth bits every stored depth
// reads back as its own float, so "deeper" is also "a different float".) At
// most one id per pixel qualifies, so the order of painting in the reference
// never matters. The objects are drawn sorted by class (id 0..255, and one
// class for all other ids, which occlude but are never labelled): with
// GL_LESS the first class at the front depth keeps the pixel, with GL_LEQUAL
// the last; where both drawings show the same class, that class alone holds
// the front. The flat drawings go where the camera drawing went (another
// framebuffer may rasterise differently), whose colours are put back after.
// The second drawing's depth must equal the camera drawing's everywhere, or
// the reference path is taken; it is also taken where flat drawing could
// cover other pixels or is not possible (Renderer::DrawFrontCodes).
#include <array>
#include <cstdint>

#include "scene/scene_model.h"

namespace tovimar {

class Renderer;
struct CaptureBuffers;

// Object count per id 0..255 over the solid objects (other ids not counted).
std::array<int32_t, 256> IdHistogram(const SceneModel& scene);

// The segmentation passes: one redraw per id in use leaving that id out,
// painting (k, k, k) or SegmentationPalette[k] where the depth changed,
// white elsewhere. The result is left in buffers.segmentation.
void BuildSegmentationMap(Renderer& renderer, bool palette, CaptureBuffers& buffers);


// The planes that one drawing of the scene draws (each steps the random state once).
uint64_t DrawablePlanes(const SceneModel& scene);

// The number of plane drawings that the reference's redraws make: one per
// drawable plane per id in use, leaving out the planes of that id.
uint64_t ReferencePlaneDrawings(const SceneModel& scene, const std::array<int32_t, 256>& histogram);

// As BuildSegmentationMap: the map in buffers.segmentation, the random state
// stepped as the reference's redraws step it. Returns false when it took the
// reference path.
bool BuildSegmentationMapFast(Renderer& renderer, bool palette, CaptureBuffers& buffers);

// No map: only the random state, stepped as the redraws would step it.
void StepRandomAsSegmentation(Renderer& renderer);

}  // namespace tovimar
