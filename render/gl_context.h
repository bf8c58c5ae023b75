#pragma once
// The renderer's OpenGL context behind a small platform interface. The one
// implementation is a headless EGL context (Mesa's surfaceless platform, an
// EGL device, or the default display, in this order of preference) with a
// pbuffer surface of the renderer's client size, so the renderer runs without
// any display server.
#include <functional>
#include <memory>

#include "scene/notifier.h"

namespace tovimar {

// What the renderer asks of the platform.
struct GlContextRequest {
  int width = 512;   // client size in pixels
  int height = 384;
  int depthBits = 24;    // at least this many depth bits
  int stencilBits = 8;   // at least this many stencil bits
};

class GlContext {
 public:
  virtual ~GlContext() = default;

  // Makes the context current on the calling thread if it is not already
  // (another library in the process may have made its own context current).
  virtual bool MakeCurrent() = 0;
  // Makes the context current on no thread if it is current on the calling
  // one, so that another thread may make it current next.
  virtual void Release() {}
  // Presents the finished drawing; afterwards PresentedBuffer() holds it.
  virtual void SwapBuffers() = 0;
  // The colour buffer (GL_FRONT, GL_BACK, ...) that holds the presented image.
  virtual unsigned PresentedBuffer() const = 0;
  virtual int Width() const = 0;
  virtual int Height() const = 0;
};

// The message caption and texts of a failed context set-up: each names the
// step that failed (the text of a surface failure adds the size).
inline constexpr const char* kContextErrorCaption = "Blad";
inline constexpr const char* kNoDisplayText =
    "No EGL display could be opened (no Mesa surfaceless platform, EGL device or default display)";
inline constexpr const char* kNoOpenGlText = "The EGL display offers no desktop OpenGL";
inline constexpr const char* kNoConfigText = "The EGL display has no OpenGL pbuffer configuration";
inline constexpr const char* kNoSurfaceText = "No EGL pbuffer surface could be made";
inline constexpr const char* kNoContextText = "No OpenGL context could be made on the EGL display";
inline constexpr const char* kNotCurrentText = "The OpenGL context could not be made current";
inline constexpr const char* kForkedDisplayText =
    "The EGL display was opened before this process was forked from its parent, with contexts still made on it; "
    "the driver's threads behind it are not in this process";

// Creates, makes current and returns a compatibility-profile OpenGL context
// with an RGBA 8-bit, depth and stencil surface of the requested size.
// On failure reports through notifier with caption "Blad" and the text of
// the step that failed, and returns nullptr.
std::unique_ptr<GlContext> CreateEglContext(const GlContextRequest& request, Notifier& notifier);

// Terminates the process's EGL display when no context lives on it, so that
// a process forked next starts with none (a display opened before a fork
// cannot be used or terminated in the child: the driver's threads stay in the
// parent); the next context opens it again. True when no display is open
// afterwards.
bool ReleaseEglDisplay();

using GlContextFactory =
    std::function<std::unique_ptr<GlContext>(const GlContextRequest& request, Notifier& notifier)>;

}  // namespace tovimar
