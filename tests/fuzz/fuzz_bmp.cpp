// Fuzzes the checking BMP reader with arbitrary bytes: the header check, the
// decoding of the top-left corner a texture uses, and the AVI export's whole
// bitmap load. Any crash, sanitizer report or broken invariant (an accepted
// layout whose rows are not inside the input, a picture of the wrong size, a
// loaded AVI frame whose sizes disagree) is a finding.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "avi/bitmap_file.h"
#include "io/bmp.h"

namespace {

using namespace tovimar;

[[noreturn]] void Fail() { std::abort(); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  // An exactly sized copy, so that a read past the end trips the address sanitizer.
  std::vector<uint8_t> copy(data, data + size);
  const MemoryByteSource source(copy.data(), copy.size());
  BmpLayout layout;
  if (ReadBmpLayout(source, layout).empty()) {
    if (layout.width < 1 || layout.width > kMaxBmpSide || layout.height < 1 || layout.height > kMaxBmpSide) Fail();
    if (layout.pixelOffset > size || size - layout.pixelOffset < layout.imageBytes) Fail();
    for (int side : {128, 3}) {
      RgbPicture picture;
      if (DecodeBmpTopLeft(source, layout, side, side, picture).empty()) {
        if (picture.width != std::min(side, layout.width) || picture.height != std::min(side, layout.height)) Fail();
        if (picture.rgb.size() != static_cast<std::size_t>(picture.width) * picture.height * 3) Fail();
      }
    }
  }
  const std::unique_ptr<Bitmap> frame = ParseBitmapImage(copy.data(), copy.size());
  if (frame != nullptr) {
    const BitmapInfoHeader& h = frame->header;
    if (frame->bits.size() != h.sizeImage ||
        h.sizeImage != BitmapRowBytes(h.width, h.bitCount) * static_cast<std::size_t>(h.height) ||
        frame->colourTable.size() != 4 * std::size_t{h.clrUsed})
      Fail();
  }
  return 0;
}
