#include "io/png.h"

#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include "base/error.h"
#include "io/file.h"

// libpng reports errors through longjmp. Every function below that calls
// setjmp keeps no C++ object alive across it: buffers are made by its caller,
// and the callbacks never throw, so nothing is skipped by the jump.

namespace tovimar {

namespace {

// Shared by the reading and writing callbacks.
struct PngContext {
  const uint8_t* in = nullptr;  // reading: the file's bytes
  std::size_t inSize = 0;
  uint8_t* out = nullptr;  // writing: a buffer sized in advance
  std::size_t outCapacity = 0;
  std::size_t pos = 0;
  char message[160] = {};
};

[[noreturn]] void OnError(png_structp png, png_const_charp message) {
  auto* ctx = static_cast<PngContext*>(png_get_error_ptr(png));
  std::snprintf(ctx->message, sizeof ctx->message, "%s", message);
  png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

void ReadBytes(png_structp png, png_bytep out, png_size_t n) {
  auto* ctx = static_cast<PngContext*>(png_get_io_ptr(png));
  if (n > ctx->inSize - ctx->pos) png_error(png, "truncated");
  std::memcpy(out, ctx->in + ctx->pos, n);
  ctx->pos += n;
}

void WriteBytes(png_structp png, png_bytep data, png_size_t n) {
  auto* ctx = static_cast<PngContext*>(png_get_io_ptr(png));
  if (n > ctx->outCapacity - ctx->pos) png_error(png, "encoded size past its bound");
  std::memcpy(ctx->out + ctx->pos, data, n);
  ctx->pos += n;
}

void Flush(png_structp) {}

void CheckShape(int width, int height, int channels) {
  if (channels != 1 && channels != 3) throw Error("PNG: channels must be 1 or 3");
  if (width < 1 || height < 1 || width > kMaxPngSide || height > kMaxPngSide) throw Error("PNG: size out of range");
}

// Runs libpng over prepared rows; false with ctx.message on failure.
bool WriteWithLibpng(png_structp png, png_infop info, png_bytepp rows, int width, int height, int channels,
                     int bitDepth) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), bitDepth,
               channels == 1 ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  // Speed over size: a frame's PNGs are written at rendering rate, at zlib
  // level 1 with one filter for every row. Rendered pictures repeat from row
  // to row, so the Up filter beats Sub both in time and in size (about half
  // the time and two thirds of the size for 16-bit disparities). For 8-bit
  // pictures (camera images, masks) run-length matching is faster still and
  // gives smaller files; 16-bit disparities and flow compress far better with
  // the default matching.
  png_set_compression_level(png, 1);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_UP);
  if (bitDepth == 8) png_set_compression_strategy(png, Z_RLE);
  png_set_rows(png, info, rows);
  png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
  return true;
}

// raw: the rows as the file stores them (16-bit samples big-endian).
std::string Encode(const uint8_t* raw, int width, int height, int channels, int bitDepth) {
  const std::size_t rowBytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(channels) *
                               static_cast<std::size_t>(bitDepth / 8);
  const std::size_t rawBytes = (rowBytes + 1) * static_cast<std::size_t>(height);
  // zlib's stored blocks and libpng's IDAT chunks add a few bytes per
  // kilobyte at worst; the headers a few dozen.
  std::string out(rawBytes + rawBytes / 256 + 1024, '\0');
  std::vector<png_bytep> rows(static_cast<std::size_t>(height));
  for (int y = 0; y < height; ++y)
    rows[static_cast<std::size_t>(y)] = const_cast<png_bytep>(raw + static_cast<std::size_t>(y) * rowBytes);
  PngContext ctx;
  ctx.out = reinterpret_cast<uint8_t*>(out.data());
  ctx.outCapacity = out.size();
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &ctx, OnError, OnWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  bool ok = info != nullptr;
  if (ok) {
    png_set_write_fn(png, &ctx, WriteBytes, Flush);
    ok = WriteWithLibpng(png, info, rows.data(), width, height, channels, bitDepth);
  }
  png_destroy_write_struct(&png, &info);
  if (!ok) throw Error(std::string("PNG encoding failed: ") + ctx.message);
  out.resize(ctx.pos);
  return out;
}

struct PngHeader {
  png_uint_32 width = 0, height = 0;
  int bitDepth = 0, colorType = 0;
};

bool ReadHeaderWithLibpng(png_structp png, png_infop info, PngHeader& h) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_info(png, info);
  int interlace = 0;
  png_get_IHDR(png, info, &h.width, &h.height, &h.bitDepth, &h.colorType, &interlace, nullptr, nullptr);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  return true;
}

bool ReadRowsWithLibpng(png_structp png, png_infop info, png_bytepp rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_image(png, rows);
  png_read_end(png, info);
  return true;
}

}  // namespace

std::string EncodePng8(const uint8_t* pixels, int width, int height, int channels) {
  CheckShape(width, height, channels);
  return Encode(pixels, width, height, channels, 8);
}

std::string EncodePng16(const uint16_t* samples, int width, int height, int channels) {
  CheckShape(width, height, channels);
  const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) *
                            static_cast<std::size_t>(channels);
  std::vector<uint8_t> bigEndian(count * 2);
  for (std::size_t i = 0; i < count; ++i) {
    bigEndian[2 * i] = static_cast<uint8_t>(samples[i] >> 8);
    bigEndian[2 * i + 1] = static_cast<uint8_t>(samples[i]);
  }
  return Encode(bigEndian.data(), width, height, channels, 16);
}

void WritePng8(const std::string& path, const uint8_t* pixels, int width, int height, int channels) {
  const std::string bytes = EncodePng8(pixels, width, height, channels);
  WriteWholeFile(path, bytes.data(), bytes.size());
}

void WritePng16(const std::string& path, const uint16_t* samples, int width, int height, int channels) {
  const std::string bytes = EncodePng16(samples, width, height, channels);
  WriteWholeFile(path, bytes.data(), bytes.size());
}

std::string DecodePng(const uint8_t* data, std::size_t size, PngImage& image) {
  if (size < 8 || png_sig_cmp(data, 0, 8) != 0) return "no PNG signature";
  PngContext ctx;
  ctx.in = data;
  ctx.inSize = size;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &ctx, OnError, OnWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  // Frees libpng's state on every way out.
  struct Release {
    png_structp& png;
    png_infop& info;
    ~Release() { png_destroy_read_struct(&png, &info, nullptr); }
  } release{png, info};
  if (info == nullptr) return "out of memory";
  png_set_read_fn(png, &ctx, ReadBytes);
  png_set_user_limits(png, kMaxPngSide, kMaxPngSide);
  PngHeader h;
  if (!ReadHeaderWithLibpng(png, info, h)) return ctx.message;
  if (h.colorType != PNG_COLOR_TYPE_GRAY && h.colorType != PNG_COLOR_TYPE_RGB)
    return "colour type " + std::to_string(h.colorType) + " (only grey and RGB are read)";
  if (h.bitDepth != 8 && h.bitDepth != 16) return std::to_string(h.bitDepth) + "-bit samples (only 8 and 16 are read)";
  if (uint64_t{h.width} * h.height > kMaxPngPixels) return "too many pixels";
  const int channels = h.colorType == PNG_COLOR_TYPE_GRAY ? 1 : 3;
  const std::size_t perRow = std::size_t{h.width} * static_cast<std::size_t>(channels);
  const std::size_t rowBytes = perRow * static_cast<std::size_t>(h.bitDepth / 8);
  if (png_get_rowbytes(png, info) != rowBytes) return "unexpected row size";
  std::vector<uint8_t> raw(rowBytes * h.height);
  std::vector<png_bytep> rows(h.height);
  for (std::size_t y = 0; y < h.height; ++y) rows[y] = raw.data() + y * rowBytes;
  if (!ReadRowsWithLibpng(png, info, rows.data())) return ctx.message;
  image.width = static_cast<int>(h.width);
  image.height = static_cast<int>(h.height);
  image.channels = channels;
  image.bitDepth = h.bitDepth;
  image.samples.resize(perRow * h.height);
  if (h.bitDepth == 8) {
    for (std::size_t i = 0; i < image.samples.size(); ++i) image.samples[i] = raw[i];
  } else {
    for (std::size_t i = 0; i < image.samples.size(); ++i)
      image.samples[i] = static_cast<uint16_t>((raw[2 * i] << 8) | raw[2 * i + 1]);
  }
  return {};
}

PngImage ReadPng(const std::string& path, const HeaderSizeCheck& check) {
  ReadOnlyFile file;
  OpenForReading(file, path, "PNG");
  const auto refuse = [&path](const std::string& why) { return NotReadable(path, "PNG", why); };
  // The signature and the header chunk (IHDR: width and height, big-endian)
  // before anything else is read.
  uint8_t head[24];
  if (file.Size() < sizeof head || !file.ReadAt(0, head, sizeof head) || png_sig_cmp(head, 0, 8) != 0)
    throw refuse("no PNG signature");
  if (std::memcmp(head + 12, "IHDR", 4) != 0) throw refuse("no header chunk");
  const auto big32 = [](const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
  };
  const uint32_t width = big32(head + 16), height = big32(head + 20);
  if (width < 1 || height < 1 || width > uint32_t{kMaxPngSide} || height > uint32_t{kMaxPngSide})
    throw refuse("size out of range");
  if (uint64_t{width} * height > kMaxPngPixels) throw refuse("too many pixels");
  if (check) check(static_cast<int>(width), static_cast<int>(height));
  // Compressed data is never larger than this for an accepted picture.
  constexpr uint64_t kMaxBytes = uint64_t{1} << 30;
  if (file.Size() > kMaxBytes) throw refuse("file too large");
  std::vector<uint8_t> bytes(static_cast<std::size_t>(file.Size()));
  if (!bytes.empty() && !file.ReadAt(0, bytes.data(), bytes.size())) throw refuse("read failed");
  PngImage image;
  const std::string why = DecodePng(bytes.data(), bytes.size(), image);
  if (!why.empty()) throw refuse(why);
  return image;
}

}  // namespace tovimar
