#pragma once
// Which solid is in front at each pixel of the frame just drawn, for the
// ground truth that needs it: the MOVE group of every pixel (the flow of
// objects that move on their own) and the 16-bit id map. One flat drawing
// with a code per solid (Renderer::DrawFrontCodes), made only when one of
// them is asked for.
namespace tovimar {

class Renderer;
struct CaptureBuffers;
struct FrameTruth;

// Fills truth.motionGroup and truth.groupPoses (when `motion` and the scene
// has MOVE lines) and truth.ids (when `ids`), clearing what is not made.
// Needs the camera drawing's depth in buffers.depth (CaptureFrame) and its
// colours in buffers.colour (put back into a shown window). Pixels whose flat
// depth differs from the camera drawing's by more than rounding are left
// unlabelled. Throws Error
// when the flat drawing cannot be made (anti-aliasing, matrix log) or the
// scene has more than 65535 solids.
void LabelFrontSolids(Renderer& renderer, CaptureBuffers& buffers, bool motion, bool ids, FrameTruth& truth);

}  // namespace tovimar
