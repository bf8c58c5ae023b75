#include "io/texture_image.h"

#include <png.h>
#include <jpeglib.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>

namespace tovimar {
namespace {

std::string SideError(int width, int height) {
  return "its size " + std::to_string(width) + "x" + std::to_string(height) + " is outside 1.." +
         std::to_string(kMaxTextureSide) + " on a side";
}

bool SideOk(long width, long height) {
  return width >= 1 && height >= 1 && width <= kMaxTextureSide && height <= kMaxTextureSide;
}

std::string DecodePngTexture(const uint8_t* data, std::size_t size, RgbImage& image) {
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&png, data, size))
    return std::string("it is not a readable PNG (") + png.message + ")";
  if (!SideOk(png.width, png.height)) {
    png_image_free(&png);
    return SideError(static_cast<int>(png.width), static_cast<int>(png.height));
  }
  png.format = PNG_FORMAT_RGB;  // alpha is composited onto black, grey and palettes expanded
  image.width = static_cast<int>(png.width);
  image.height = static_cast<int>(png.height);
  image.rgb.assign(PNG_IMAGE_SIZE(png), 0);
  if (!png_image_finish_read(&png, nullptr, image.rgb.data(), 0, nullptr)) {
    const std::string why = png.message;
    png_image_free(&png);
    image = {};
    return "it is not a readable PNG (" + why + ")";
  }
  return "";
}

// libjpeg reports errors through its error_exit hook, which must not
// return: it jumps back to DecodeJpegTexture with the message kept.
struct JpegErrors {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void OnJpegError(j_common_ptr info) {
  auto* errors = reinterpret_cast<JpegErrors*>(info->err);
  errors->manager.format_message(info, errors->message);
  std::longjmp(errors->jump, 1);
}

// A warning (level -1: the data is damaged or ends early, and libjpeg would
// fill in grey) is kept, and the picture refused after it is read.
void OnJpegMessage(j_common_ptr info, int level) {
  auto* errors = reinterpret_cast<JpegErrors*>(info->err);
  if (level >= 0) return;
  if (errors->manager.num_warnings++ == 0) errors->manager.format_message(info, errors->message);
}

// Nothing with a destructor lives in this function's frame between the
// setjmp and a jump back to it but the caller's image, which outlives it.
std::string DecodeJpegTexture(const uint8_t* data, std::size_t size, RgbImage& image) {
  jpeg_decompress_struct info;
  JpegErrors errors;
  info.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = OnJpegError;
  errors.manager.emit_message = OnJpegMessage;
  errors.message[0] = '\0';
  if (setjmp(errors.jump)) {
    jpeg_destroy_decompress(&info);
    image = {};
    return std::string("it is not a readable JPEG (") + errors.message + ")";
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
  jpeg_read_header(&info, TRUE);
  if (!SideOk(info.image_width, info.image_height)) {
    const std::string why = SideError(static_cast<int>(info.image_width), static_cast<int>(info.image_height));
    jpeg_destroy_decompress(&info);
    return why;
  }
  info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  image.width = static_cast<int>(info.output_width);
  image.height = static_cast<int>(info.output_height);
  const std::size_t stride = static_cast<std::size_t>(image.width) * 3;
  image.rgb.assign(stride * static_cast<std::size_t>(image.height), 0);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = image.rgb.data() + stride * info.output_scanline;
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  if (errors.manager.num_warnings > 0) {
    image = {};
    return std::string("it is not a sound JPEG (") + errors.message + ")";
  }
  return "";
}

}  // namespace

std::string DecodeTextureImage(const uint8_t* data, std::size_t size, RgbImage& image) {
  image = {};
  static const uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  if (size >= 8 && std::memcmp(data, kPngSignature, 8) == 0) return DecodePngTexture(data, size, image);
  if (size >= 3 && data[0] == 0xff && data[1] == 0xd8 && data[2] == 0xff) return DecodeJpegTexture(data, size, image);
  return "it is neither a PNG nor a JPEG picture";
}

}  // namespace tovimar
