#pragma once
// The camera image's Gaussian noise on two threads, identical to
// AddPixelNoise applied channel by channel in read-back order: the generator
// and its accept/reject loop run serially on the calling thread and record
// each accepted pair of draws; the logarithm, root and clamping, the costly
// part, follow in row blocks on the calling thread and the helper of
// ForEachChunk (parallel_chunks.h), with the same functions
// in the same order of operations, so every value is the same.
#include <cstdint>
#include <vector>

#include "render/rig_state.h"
#include "io/bmp.h"

namespace tovimar {

// rgb: W*H*3 bytes red-green-blue, bottom row first (Renderer::ReadColour).
// Writes the noisy picture into image (already W x H) and steps random as
// the per-channel AddPixelNoise calls would. draws is working memory.
void AddCameraNoise(const uint8_t* rgb, int width, int height, double sigma, RandomState& random,
                    BmpImage24& image, std::vector<uint32_t>& draws);

// Steps random as AddCameraNoise does for a W x H picture, making no picture.
void StepRandomAsCameraNoise(int width, int height, RandomState& random, std::vector<uint32_t>& draws);

}  // namespace tovimar
