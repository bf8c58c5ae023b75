// Renderer::DrawFrontCodes and WriteColour: drawings of
// frame generation beside the camera drawing.
#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>

#include "render/painter.h"
#include "render/renderer.h"

namespace tovimar {
namespace {

GLint GetInteger(GLenum name) {
  GLint value = 0;
  glGetIntegerv(name, &value);
  return value;
}

}  // namespace

bool Renderer::DrawFrontCodes(const std::vector<std::size_t>& order, const std::vector<uint16_t>& codes,
                            uint8_t* rgba, float* depth, uint8_t* nearRgba) {
  if (!sceneReady_ || prefs_ == nullptr || order.size() != codes.size() || !Current()) return false;
  ThrowIfCancelled();
  // Matrix logging would log these drawings; smoothing makes coverage part of
  // the colour; multisampled colours are averaged at edges.
  if (editor_.MatrixLogEnabled()) return false;
  if (context_->Width() != clientWidth_ || context_->Height() != clientHeight_) return false;
  if (glIsEnabled(GL_POLYGON_SMOOTH) || glIsEnabled(GL_LINE_SMOOTH) || glIsEnabled(GL_POINT_SMOOTH)) return false;
  if (GetInteger(GL_SAMPLE_BUFFERS) != 0 || GetInteger(GL_RED_BITS) != 8 || GetInteger(GL_GREEN_BITS) != 8 ||
      GetInteger(GL_BLUE_BITS) != 8 || GetInteger(GL_ALPHA_BITS) != 8) {
    return false;
  }
  const GLint depthBits = GetInteger(GL_DEPTH_BITS);
  if (depthBits <= 0 || depthBits > 24) return false;
  for (std::size_t index : order)
    if (index >= scene_.solidObjects.size() || !scene_.solidObjects[index]) return false;

  // Everything set here comes back with the pops below; the modelview matrix
  // is set as DrawScene sets it, the projection is left as it is.
  glPushAttrib(GL_ALL_ATTRIB_BITS);
  glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
  glDisable(GL_LIGHTING);
  glDisable(GL_COLOR_MATERIAL);
  glDisable(GL_TEXTURE_2D);
  glDisable(GL_FOG);
  glDisable(GL_BLEND);
  glDisable(GL_DITHER);
  glDisable(GL_ALPHA_TEST);
  glShadeModel(GL_FLAT);
  glEnable(GL_DEPTH_TEST);
  glDepthMask(GL_TRUE);
  glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
  glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
  glClear(GL_COLOR_BUFFER_BIT);

  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glTranslated(0.0, 0.0, -viewDistance);
  glRotated(-static_cast<double>(viewElevation), 1.0, 0.0, 0.0);
  glRotated(-static_cast<double>(viewAzimuth), 0.0, 0.0, 1.0);

  auto stopBetweenDrawings = [this] {
    if (!StopAsked()) return;
    // Left as the camera drawing had it, as at the end.
    painter_->SetFlat(false);
    glPopClientAttrib();
    glPopAttrib();
    throw Cancelled("stopped between the flat drawings");
  };
  auto drawCodes = [&](bool backwards) {
    for (std::size_t k = 0; k < order.size(); ++k) {
      const std::size_t i = backwards ? order.size() - 1 - k : k;
      const auto low = static_cast<GLubyte>(codes[i] & 0xFF);
      const auto high = static_cast<GLubyte>(codes[i] >> 8);
      glColor4ub(low, high, low, high);
      glPushMatrix();
      if (!scene_.motion.Empty()) ApplyObjectMotion(order[i]);
      scene_.solidObjects[order[i]]->Draw(*painter_);
      GlPainter::EndObject();
      glPopMatrix();
    }
  };
  painter_->SetFlat(true);
  for (const bool last : {false, true}) {
    if (last) stopBetweenDrawings();
    // First drawing: red and green, GL_LESS; second: blue and alpha, GL_LEQUAL.
    glColorMask(last ? GL_FALSE : GL_TRUE, last ? GL_FALSE : GL_TRUE, last ? GL_TRUE : GL_FALSE,
                last ? GL_TRUE : GL_FALSE);
    glDepthFunc(last ? GL_LEQUAL : GL_LESS);
    glClear(GL_DEPTH_BUFFER_BIT);
    drawCodes(false);
  }

  glPixelStorei(GL_PACK_ALIGNMENT, 4);
  glPixelStorei(GL_PACK_ROW_LENGTH, 0);
  glReadBuffer(static_cast<GLenum>(context_->PresentedBuffer()));
  glReadPixels(0, 0, clientWidth_, clientHeight_, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
  glReadPixels(0, 0, clientWidth_, clientHeight_, GL_DEPTH_COMPONENT, GL_FLOAT, depth);
  if (nearRgba != nullptr) {
    // Over the front depth just drawn, unchanged: every fragment that close
    // behind it passes, and the one drawn last keeps the pixel.
    glDepthMask(GL_FALSE);
    glDepthFunc(GL_LEQUAL);
    glEnable(GL_POLYGON_OFFSET_FILL);
    glPolygonOffset(0.0f, -static_cast<GLfloat>(kFrontTieUnits));
    for (const bool last : {false, true}) {
      stopBetweenDrawings();
      glColorMask(last ? GL_FALSE : GL_TRUE, last ? GL_FALSE : GL_TRUE, last ? GL_TRUE : GL_FALSE,
                  last ? GL_TRUE : GL_FALSE);
      drawCodes(!last);  // backwards, the first in order is drawn last
    }
    glReadPixels(0, 0, clientWidth_, clientHeight_, GL_RGBA, GL_UNSIGNED_BYTE, nearRgba);
  }
  painter_->SetFlat(false);
  glPopClientAttrib();
  glPopAttrib();
  return true;
}

void Renderer::WriteColour(const uint8_t* rgb) {
  if (!Current() || context_->Width() != clientWidth_ || context_->Height() != clientHeight_) return;
  glPushAttrib(GL_ALL_ATTRIB_BITS);
  glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
  // Pixels go through unchanged: no per-fragment work but the write.
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_LIGHTING);
  glDisable(GL_TEXTURE_2D);
  glDisable(GL_FOG);
  glDisable(GL_BLEND);
  glDisable(GL_DITHER);
  glDisable(GL_ALPHA_TEST);
  glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
  glPixelZoom(1.0f, 1.0f);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
  glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
  glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
  glDrawBuffer(static_cast<GLenum>(context_->PresentedBuffer()));
  glWindowPos2i(0, 0);
  glDrawPixels(clientWidth_, clientHeight_, GL_RGB, GL_UNSIGNED_BYTE, rgb);
  glPopClientAttrib();
  glPopAttrib();
}

}  // namespace tovimar
