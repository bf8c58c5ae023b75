#include "render/gl_context.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>

#include <unistd.h>

#include <array>
#include <mutex>
#include <string>
#include <string_view>

namespace tovimar {
namespace {

bool HasExtension(const char* list, const char* name) {
  if (list == nullptr) return false;
  const std::string_view all(list);
  const std::string_view want(name);
  std::size_t pos = 0;
  while ((pos = all.find(want, pos)) != std::string_view::npos) {
    const bool startOk = pos == 0 || all[pos - 1] == ' ';
    const std::size_t end = pos + want.size();
    const bool endOk = end == all.size() || all[end] == ' ';
    if (startOk && endOk) return true;
    pos = end;
  }
  return false;
}

EGLDisplay TryInitialise(EGLDisplay display) {
  if (display == EGL_NO_DISPLAY) return EGL_NO_DISPLAY;
  EGLint major = 0, minor = 0;
  if (eglInitialize(display, &major, &minor) != EGL_TRUE) return EGL_NO_DISPLAY;
  return display;
}

EGLDisplay OpenDisplay() {
  const char* clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
  auto getPlatformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
      eglGetProcAddress("eglGetPlatformDisplayEXT"));

  if (getPlatformDisplay != nullptr) {
    // 1. Mesa's surfaceless platform: no display server, no device node needed.
    if (HasExtension(clientExtensions, "EGL_MESA_platform_surfaceless")) {
      EGLDisplay d = TryInitialise(getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr));
      if (d != EGL_NO_DISPLAY) return d;
    }
    // 2. The first EGL device (a GPU driver without Mesa's platform).
    if (HasExtension(clientExtensions, "EGL_EXT_platform_device")) {
      auto queryDevices =
          reinterpret_cast<PFNEGLQUERYDEVICESEXTPROC>(eglGetProcAddress("eglQueryDevicesEXT"));
      if (queryDevices != nullptr) {
        std::array<EGLDeviceEXT, 8> devices{};
        EGLint count = 0;
        if (queryDevices(static_cast<EGLint>(devices.size()), devices.data(), &count) == EGL_TRUE) {
          for (EGLint i = 0; i < count; ++i) {
            EGLDisplay d = TryInitialise(getPlatformDisplay(EGL_PLATFORM_DEVICE_EXT, devices[i], nullptr));
            if (d != EGL_NO_DISPLAY) return d;
          }
        }
      }
    }
  }
  // 3. Whatever the platform's default display is.
  return TryInitialise(eglGetDisplay(EGL_DEFAULT_DISPLAY));
}

// One EGL display for the whole process, opened at the first context and
// terminated only by ReleaseEglDisplay when no context lives on it (several
// renderers may live in one process). The process that opened it is kept: the
// driver's threads behind it are not in a process forked from that one.
struct SharedDisplay {
  std::mutex mutex;
  bool opened = false;
  EGLDisplay display = EGL_NO_DISPLAY;
  pid_t process = 0;
  int contexts = 0;  // live EglContexts
};

SharedDisplay& Shared() {
  static SharedDisplay shared;
  return shared;
}

EGLint ConfigAttrib(EGLDisplay display, EGLConfig config, EGLint name) {
  EGLint value = 0;
  eglGetConfigAttrib(display, config, name, &value);
  return value;
}

// The first configuration with exactly 8 bits per colour channel, among those
// that offer OpenGL, pbuffers and the requested depth and stencil sizes.
bool ChooseConfig(EGLDisplay display, const GlContextRequest& request, EGLConfig& chosen) {
  const EGLint attributes[] = {EGL_SURFACE_TYPE,    EGL_PBUFFER_BIT,
                               EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
                               EGL_COLOR_BUFFER_TYPE, EGL_RGB_BUFFER,
                               EGL_RED_SIZE,        8,
                               EGL_GREEN_SIZE,      8,
                               EGL_BLUE_SIZE,       8,
                               EGL_ALPHA_SIZE,      8,
                               EGL_DEPTH_SIZE,      request.depthBits,
                               EGL_STENCIL_SIZE,    request.stencilBits,
                               EGL_NONE};
  std::array<EGLConfig, 64> configs{};
  EGLint count = 0;
  if (eglChooseConfig(display, attributes, configs.data(), static_cast<EGLint>(configs.size()), &count) != EGL_TRUE) {
    return false;
  }
  for (EGLint i = 0; i < count; ++i) {
    const EGLConfig c = configs[i];
    if (ConfigAttrib(display, c, EGL_RED_SIZE) == 8 && ConfigAttrib(display, c, EGL_GREEN_SIZE) == 8 &&
        ConfigAttrib(display, c, EGL_BLUE_SIZE) == 8 && ConfigAttrib(display, c, EGL_ALPHA_SIZE) == 8) {
      chosen = c;
      return true;
    }
  }
  return false;
}

class EglContext final : public GlContext {
 public:
  EglContext(EGLDisplay display, EGLSurface surface, EGLContext context, int width, int height)
      : display_(display), surface_(surface), context_(context), width_(width), height_(height) {
    std::lock_guard<std::mutex> lock(Shared().mutex);
    ++Shared().contexts;
  }

  ~EglContext() override {
    eglBindAPI(EGL_OPENGL_API);
    if (eglGetCurrentContext() == context_) {
      eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    }
    eglDestroyContext(display_, context_);
    eglDestroySurface(display_, surface_);
    std::lock_guard<std::mutex> lock(Shared().mutex);
    --Shared().contexts;
  }

  EglContext(const EglContext&) = delete;
  EglContext& operator=(const EglContext&) = delete;

  bool MakeCurrent() override {
    eglBindAPI(EGL_OPENGL_API);
    if (eglGetCurrentContext() == context_ && eglGetCurrentSurface(EGL_DRAW) == surface_) return true;
    return eglMakeCurrent(display_, surface_, surface_, context_) == EGL_TRUE;
  }

  void Release() override {
    eglBindAPI(EGL_OPENGL_API);
    if (eglGetCurrentContext() == context_) eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
  }

  // A pbuffer has one colour buffer: presenting means finishing the drawing
  // in it, so that a read-back sees the complete image.
  void SwapBuffers() override {
    eglSwapBuffers(display_, surface_);
    glFinish();
  }

  unsigned PresentedBuffer() const override { return presented_; }
  int Width() const override { return width_; }
  int Height() const override { return height_; }

  void SetPresentedBuffer(unsigned buffer) { presented_ = buffer; }

 private:
  EGLDisplay display_;
  EGLSurface surface_;
  EGLContext context_;
  int width_;
  int height_;
  unsigned presented_ = GL_BACK;
};

}  // namespace

bool ReleaseEglDisplay() {
  SharedDisplay& shared = Shared();
  std::lock_guard<std::mutex> lock(shared.mutex);
  if (!shared.opened) return true;
  if (shared.process != getpid() || shared.contexts > 0) return false;
  if (shared.display != EGL_NO_DISPLAY) eglTerminate(shared.display);
  shared.display = EGL_NO_DISPLAY;
  shared.opened = false;
  return true;
}

std::unique_ptr<GlContext> CreateEglContext(const GlContextRequest& request, Notifier& notifier) {
  auto fail = [&](const std::string& text) -> std::unique_ptr<GlContext> {
    notifier.Notify(kContextErrorCaption, text);
    return nullptr;
  };
  const std::string size = std::to_string(request.width) + "x" + std::to_string(request.height);

  EGLDisplay display = EGL_NO_DISPLAY;
  {
    SharedDisplay& shared = Shared();
    std::lock_guard<std::mutex> lock(shared.mutex);
    if (shared.opened && shared.process != getpid()) return fail(kForkedDisplayText);
    if (!shared.opened) {
      shared.display = OpenDisplay();
      shared.opened = true;
      shared.process = getpid();
    }
    display = shared.display;
  }
  if (display == EGL_NO_DISPLAY) return fail(kNoDisplayText);
  if (eglBindAPI(EGL_OPENGL_API) != EGL_TRUE) return fail(kNoOpenGlText);

  EGLConfig config = nullptr;
  if (!ChooseConfig(display, request, config))
    return fail(std::string(kNoConfigText) + " (8 bits per colour channel, at least " +
                std::to_string(request.depthBits) + " depth and " + std::to_string(request.stencilBits) +
                " stencil bits)");

  if (request.width < 1 || request.height < 1) return fail(kNoSurfaceText + (" of " + size));
  const EGLint surfaceAttributes[] = {EGL_WIDTH, request.width, EGL_HEIGHT, request.height, EGL_NONE};
  const EGLSurface surface = eglCreatePbufferSurface(display, config, surfaceAttributes);
  if (surface == EGL_NO_SURFACE) return fail(kNoSurfaceText + (" of " + size));

  // A compatibility-profile context; drivers without the profile attribute
  // get a plain legacy context, which is a compatibility context as well.
  const EGLint compatAttributes[] = {EGL_CONTEXT_OPENGL_PROFILE_MASK,
                                     EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT, EGL_NONE};
  EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, compatAttributes);
  if (context == EGL_NO_CONTEXT) context = eglCreateContext(display, config, EGL_NO_CONTEXT, nullptr);
  if (context == EGL_NO_CONTEXT) {
    eglDestroySurface(display, surface);
    return fail(kNoContextText);
  }

  auto result = std::make_unique<EglContext>(display, surface, context, request.width, request.height);
  if (!result->MakeCurrent()) return fail(kNotCurrentText);

  // The surface may come out smaller than asked (a driver's pbuffer limit):
  // the viewport must equal the client size, so that is a failure too.
  EGLint gotWidth = 0, gotHeight = 0;
  eglQuerySurface(display, surface, EGL_WIDTH, &gotWidth);
  eglQuerySurface(display, surface, EGL_HEIGHT, &gotHeight);
  if (gotWidth != request.width || gotHeight != request.height)
    return fail(kNoSurfaceText + (" of " + size) + ": the driver gave " + std::to_string(gotWidth) + "x" +
                std::to_string(gotHeight));

  GLint drawBuffer = GL_BACK;
  glGetIntegerv(GL_DRAW_BUFFER, &drawBuffer);
  result->SetPresentedBuffer(static_cast<unsigned>(drawBuffer));
  glViewport(0, 0, request.width, request.height);
  return result;
}

}  // namespace tovimar
