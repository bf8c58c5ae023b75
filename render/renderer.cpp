#include "render/renderer.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <system_error>

#include "render/camera.h"
#include "render/painter.h"
#include "render/textures.h"
#include "layout/file_names.h"
#include "scene/locale_number.h"

namespace tovimar {
namespace {

// Client sizes are kept within what a context can be made for.
constexpr int kMaxClientSize = 16384;

int ClampSize(int value) { return std::clamp(value, 1, kMaxClientSize); }

}  // namespace

Renderer::Renderer(RenderSettings& settings, EditorLink& editor, Notifier& notifier, char decimalSeparator, int clientWidth,
               int clientHeight)
    : settings_(settings),
      editor_(editor),
      notifier_(notifier),
      decimalSeparator_(decimalSeparator),
      clientWidth_(ClampSize(clientWidth)),
      clientHeight_(ClampSize(clientHeight)),
      painter_(std::make_unique<GlPainter>(rig_.random)),
      defaultLineNotifier_(notifier, [&editor] { return editor.SceneName(); }),
      lineNotifier_(&defaultLineNotifier_),
      contextFactory_(CreateEglContext) {}

Renderer::~Renderer() { Shutdown(); }

void Renderer::SetLineNotifier(LineNotifier* notifier) {
  lineNotifier_ = notifier != nullptr ? notifier : &defaultLineNotifier_;
}

void Renderer::SetContextFactory(GlContextFactory factory) {
  contextFactory_ = factory ? std::move(factory) : GlContextFactory(CreateEglContext);
}

// ---------------------------------------------------------------- life cycle

bool Renderer::Initialise() {
  sceneReady_ = false;
  if (rig_.StartDirectory.empty()) {
    std::error_code ec;
    rig_.StartDirectory = std::filesystem::current_path(ec).string();
  }
  prefs_ = std::make_unique<Prefs>();
  prefs_->fog = false;
  return CreateRenderContext();
}

void Renderer::Shutdown() {
  ReleaseSceneResources();
  ReleaseRenderContext();
}

void Renderer::ReleaseSceneResources() {
  prefs_.reset();
  FreeTextures();
  scene_.Clear();
  // Without Prefs nothing can be drawn; a new Initialise and preparation
  // start over.
  sceneReady_ = false;
}

bool Renderer::StartOver() {
  if (context_ == nullptr) return false;
  const std::string startDirectory = rig_.StartDirectory;
  rig_ = RigState{};  // the painter keeps its reference to rig_.random
  rig_.StartDirectory = startDirectory;
  FreeTextures();
  scene_.Clear();
  sceneReady_ = false;
  prefs_ = std::make_unique<Prefs>();
  prefs_->fog = false;
  SetupRendering(clientWidth_, clientHeight_, settings_.AntiAlias());
  return Current();
}

void Renderer::ResetViewAndDraw() {
  viewDistance = 3.0;
  viewElevation = 90.0f;
  viewAzimuth = 0.0f;
  Redraw();
}

// ------------------------------------------------------- context and projection

bool Renderer::HasContext() const { return context_ != nullptr; }

bool Renderer::Current() { return context_ != nullptr && context_->MakeCurrent(); }

void Renderer::DetachFromThread() {
  if (context_ != nullptr) context_->Release();
}

void Renderer::ThrowIfCancelled() const {
  if (StopAsked()) throw Cancelled("stopped before a drawing");
}

void Renderer::SetClientSize(int width, int height) {
  clientWidth_ = ClampSize(width);
  clientHeight_ = ClampSize(height);
}

bool Renderer::CreateRenderContext() {
  ReleaseRenderContext();
  GlContextRequest request;
  request.width = clientWidth_;
  request.height = clientHeight_;
  context_ = contextFactory_(request, notifier_);
  if (context_ == nullptr || !context_->MakeCurrent()) {
    context_.reset();
    Shutdown();
    return false;
  }
  SetupRendering(clientWidth_, clientHeight_, settings_.AntiAlias());
  return true;
}

void Renderer::ReleaseRenderContext() {
  if (context_ == nullptr) return;
  if (context_->MakeCurrent()) {
    // Textures and the quadric die with the context.
    FreeTextures();
    painter_->Release();
  }
  textureNames_.clear();
  context_.reset();
}

void Renderer::ChangeResolution(int width, int height) {
  const std::vector<uint32_t> oldNames = textureNames_;
  SetClientSize(width, height);
  ReleaseRenderContext();
  if (!CreateRenderContext() || !sceneReady_) return;
  // The textures died with the old context: they are loaded into the new one
  // and every object points at the new name of its texture, so that the
  // prepared scene looks as before, only larger or smaller.
  if (!oldNames.empty()) {
    LoadTextures();
    for (const std::unique_ptr<SceneObject>& object : scene_.solidObjects) {
      for (std::size_t n = 0; n < oldNames.size() && n < textureNames_.size(); ++n) {
        if (object->texture != 0 && object->texture == oldNames[n]) {
          object->SetTexture(textureNames_[n]);
          break;
        }
      }
    }
  }
  // The camera chosen stays the one drawn, as after a preparation.
  glMatrixMode(GL_PROJECTION);
  if (settings_.RightCamera()) glTranslated(-rig_.RigBaseline, 0.0, 0.0);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
}

void Renderer::SetupProjection(int width, int height, bool antiAlias) {
  if (!Current()) return;
  glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
  glClearDepth(1.0);
  glEnable(GL_DEPTH_TEST);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  const double fovy = FieldOfViewY(height, rig_.RigFocalLength);
  const float aspect = AspectRatio(width, std::max(height, 1));
  gluPerspective(fovy, aspect, kNearPlane, kFarPlane);
  glGetDoublev(GL_PROJECTION_MATRIX, perspective_.data());
  if (antiAlias) {
    glEnable(GL_POINT_SMOOTH);
    glEnable(GL_LINE_SMOOTH);
    glEnable(GL_POLYGON_SMOOTH);
    glHint(GL_POLYGON_SMOOTH_HINT, GL_NICEST);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  } else {
    glDisable(GL_POINT_SMOOTH);
    glDisable(GL_LINE_SMOOTH);
    glDisable(GL_POLYGON_SMOOTH);
    glDisable(GL_BLEND);
  }
}

void Renderer::SetupRendering(int width, int height, bool antiAlias) {
  rig_.FrameCounter = -1;
  objectFrame_ = -1;  // the camera starts again: so do the solids
  if (!Current()) return;
  SetupProjection(width, height, antiAlias);
  glMatrixMode(GL_MODELVIEW);
  glEnable(GL_LIGHTING);
  glEnable(GL_NORMALIZE);

  const GLfloat globalAmbient[4] = {0.3f, 0.3f, 0.3f, 1.0f};
  const GLfloat lightAmbient[4] = {0.3f, 0.3f, 0.3f, 1.0f};
  const GLfloat lightDiffuse[4] = {0.7f, 0.7f, 0.7f, 1.0f};
  const GLfloat lightSpecular[4] = {0.9f, 0.9f, 0.9f, 1.0f};
  glLightModelfv(GL_LIGHT_MODEL_AMBIENT, globalAmbient);
  glLightfv(GL_LIGHT0, GL_AMBIENT, lightAmbient);
  glLightfv(GL_LIGHT0, GL_DIFFUSE, lightDiffuse);
  glLightfv(GL_LIGHT0, GL_SPECULAR, lightSpecular);
  glEnable(GL_LIGHT0);

  glColorMaterial(GL_FRONT, GL_AMBIENT_AND_DIFFUSE);
  glEnable(GL_COLOR_MATERIAL);

  const GLfloat materialSpecular[4] = {0.6f, 0.6f, 0.6f, 1.0f};
  glMaterialfv(GL_FRONT, GL_SPECULAR, materialSpecular);
  glMaterialf(GL_FRONT, GL_SHININESS, 64.0f);

  glEnable(GL_TEXTURE_2D);
}

// ------------------------------------------------------------------- drawing

void Renderer::DrawScene(bool applyEgo, int skipId, double azimuth, double elevation, double distance) {
  if (!sceneReady_ || prefs_ == nullptr || !Current()) return;
  ThrowIfCancelled();

  const std::array<int, 3> background = settings_.BackgroundColour();
  const double scale = 1.0 / 255.0;
  const double red = background[0] * scale;
  const double green = background[1] * scale;
  const double blue = background[2] * scale;

  if (prefs_->fog) {
    const GLfloat fogColour[4] = {0.5f, 0.5f, 0.5f, 1.0f};
    glEnable(GL_FOG);
    glFogfv(GL_FOG_COLOR, fogColour);
    glFogi(GL_FOG_MODE, GL_EXP);
    glFogf(GL_FOG_DENSITY, 0.5f);
  } else {
    glDisable(GL_FOG);
  }

  glClearColor(static_cast<GLfloat>(red), static_cast<GLfloat>(green), static_cast<GLfloat>(blue), 1.0f);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);

  LoadViewMatrix(azimuth, elevation, distance);

  glMatrixMode(GL_PROJECTION);
  if (applyEgo) ApplyEgoOfFrame();

  glMatrixMode(GL_MODELVIEW);
  glLightfv(GL_LIGHT0, GL_POSITION, rig_.LightPosition.data());

  DrawObjects(skipId);
  ++work_.drawings;

  context_->SwapBuffers();
  if (onPresented) onPresented();
}

void Renderer::LoadViewMatrix(double azimuth, double elevation, double distance) {
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glTranslated(0.0, 0.0, -distance);
  glRotated(-elevation, 1.0, 0.0, 0.0);
  glRotated(-azimuth, 0.0, 0.0, 1.0);
}

void Renderer::ApplyEgoOfFrame() {
  glMatrixMode(GL_PROJECTION);
  if (rig_.FrameCounter < 0 || static_cast<std::size_t>(rig_.FrameCounter) >= scene_.egoFrames.size()) return;
  const CameraMotion& ego = *scene_.egoFrames[static_cast<std::size_t>(rig_.FrameCounter)];
  ApplyCameraMotion(ego);
  objectFrame_ = rig_.FrameCounter;
  if (const ObjectMotionTable::Overflow o = scene_.motion.OverflowAt(objectFrame_); o.line != 0) {
    throw Error(LineLocation(editor_.SceneName(), o.line) + "MOVE: the motion of id " + std::to_string(o.id) +
                " is no longer a finite number (the accumulated motion overflows)");
  }
  const MotionLogLines lines = FormatMotionLog(ego.position, ego.rotation, decimalSeparator_);
  editor_.AppendMotionLog(lines.table, lines.plain);
  // A motion that overflows (an EGO of 1e308, or many that add up) would
  // draw nothing but background, silently: stop at the line that did it.
  std::array<double, 16> projection{};
  glGetDoublev(GL_PROJECTION_MATRIX, projection.data());
  for (const double v : projection) {
    if (!std::isfinite(v)) {
      throw Error(LineLocation(editor_.SceneName(), ego.line) +
                  "EGO: the camera motion is no longer a finite number (the accumulated motion overflows)");
    }
  }
}

void Renderer::ApplyFrameMotion() {
  if (!sceneReady_ || prefs_ == nullptr || !Current()) return;
  ThrowIfCancelled();
  LoadViewMatrix(viewAzimuth, viewElevation, viewDistance);
  try {
    ApplyEgoOfFrame();
  } catch (...) {
    glMatrixMode(GL_MODELVIEW);
    throw;
  }
  glMatrixMode(GL_MODELVIEW);
}

void Renderer::StepRandomAsDrawing() {
  if (!sceneReady_ || prefs_ == nullptr || context_ == nullptr) return;
  rig_.random.SkipPlaneShades(DrawnPlaneCount(scene_));
}

void Renderer::ApplyCameraMotion(const CameraMotion& ego) {
  const double tx = ego.position[0] / 256.0, ty = ego.position[1] / 256.0, tz = ego.position[2] / 256.0;
  const double ax = ego.rotation[0] / 256.0, ay = ego.rotation[1] / 256.0, az = ego.rotation[2] / 256.0;
  for (double step = 0.0; step < 256.0; step += 1.0) {
    glTranslated(tx, ty, tz);
    glRotated(ax, 1.0, 0.0, 0.0);
    glRotated(ay, 0.0, 1.0, 0.0);
    glRotated(az, 0.0, 0.0, 1.0);
  }
}

bool Renderer::ReplayCameraMotion(std::size_t frames, const std::function<bool(std::size_t)>& afterEach) {
  if (!Current()) return true;
  frames = std::min(frames, scene_.egoFrames.size());
  bool wholly = true;
  for (std::size_t f = 0; f < frames; ++f) {
    glMatrixMode(GL_PROJECTION);
    ApplyCameraMotion(*scene_.egoFrames[f]);
    glMatrixMode(GL_MODELVIEW);
    objectFrame_ = static_cast<int32_t>(f);
    if (afterEach && !afterEach(f)) {
      wholly = false;
      break;
    }
  }
  if (frames == 0) objectFrame_ = -1;
  return wholly;
}

void Renderer::ApplyObjectMotion(std::size_t index) const {
  const int group = scene_.motion.GroupOfSolid(index);
  if (group < 0) return;
  const RigidPose& p = scene_.motion.Pose(static_cast<std::size_t>(group), objectFrame_);
  // Row-major to the GL's column-major order.
  const GLdouble m[16] = {p[0], p[4], p[8],  p[12], p[1], p[5], p[9],  p[13],
                          p[2], p[6], p[10], p[14], p[3], p[7], p[11], p[15]};
  glMultMatrixd(m);
}

void Renderer::LoadProjectionMatrix(const std::array<double, 16>& m) {
  if (!Current()) return;
  glMatrixMode(GL_PROJECTION);
  glLoadMatrixd(m.data());
  glMatrixMode(GL_MODELVIEW);
}

void Renderer::Redraw() {
  if (drawingsUnseen_) {
    // The matrices as the drawing would leave them (a replay of the camera
    // motion reads the view's), the random state stepped as it would be.
    if (!sceneReady_ || prefs_ == nullptr || !Current()) return;
    ThrowIfCancelled();
    LoadViewMatrix(viewAzimuth, viewElevation, viewDistance);
    StepRandomAsDrawing();
    return;
  }
  DrawScene(false, kSkipNone, viewAzimuth, viewElevation, viewDistance);
}

void Renderer::DrawObjects(int skipId) {
  if (!Current()) return;
  const bool logMatrices = editor_.MatrixLogEnabled();
  std::array<double, 16> matrix{};
  const bool moving = !scene_.motion.Empty();
  for (std::size_t index = 0; index < scene_.solidObjects.size(); ++index) {
    const std::unique_ptr<SceneObject>& object = scene_.solidObjects[index];
    if (skipId != kSkipNone && object->id == skipId) continue;
    glPushMatrix();
    if (moving) ApplyObjectMotion(index);
    object->Draw(*painter_);
    if (logMatrices) {
      glGetDoublev(GL_MODELVIEW_MATRIX, matrix.data());
      editor_.AppendMatrixLog(FormatMatrixLog(matrix, decimalSeparator_));
    }
    GlPainter::EndObject();  // inside the object's matrix push: the translation goes with it
    glPopMatrix();
  }
}

void Renderer::LoadTextures() {
  FreeTextures();
  ++work_.textureLoads;
  if (!Current()) throw Error("The viewer has no OpenGL context; textures cannot be loaded");
  textureDirectory_ = ChooseTextureDirectory(rig_.StartDirectory);
  if (sceneTexturesPreferred_ && !editor_.SceneName().empty()) {
    const std::string own = SceneTextureFolder(editor_.SceneName());
    std::error_code ec;
    if (std::filesystem::is_regular_file(own + TextureFileName(0), ec)) textureDirectory_ = own;
  }
  for (int n = 0; n < kTextureCount; ++n) {
    const std::vector<uint8_t>& image = textureCache_.Load(TexturePath(textureDirectory_, n));
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, kTextureSize, kTextureSize, 0, GL_RGBA, GL_UNSIGNED_BYTE, image.data());
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    textureNames_.push_back(name);
  }
}

void Renderer::FreeTextures() {
  if (!textureNames_.empty() && Current()) {
    for (uint32_t name : textureNames_) {
      const GLuint n = name;
      glDeleteTextures(1, &n);
    }
  }
  textureNames_.clear();
}

// ------------------------------------------------------------- scene assembly

void Renderer::ClearScene() {
  scene_.Clear();
  objectFrame_ = -1;
  if (prefs_ != nullptr) prefs_->fog = false;
}

void Renderer::PrepareScene() {
  if (context_ == nullptr || prefs_ == nullptr) {
    throw Error("The viewer has no OpenGL context, so no scene can be prepared");
  }

  // Textures first: the parser looks texture numbers up in them.
  ++work_.scenePreparations;
  LoadTextures();

  // Focal length and baseline as the editor gives them (its fields, read
  // one after the other); a bad field stops the preparation with its message.
  const double focal = editor_.FocalLength();
  if (!(focal > 0.0)) throw Error("the focal length must be a positive number of pixels");
  rig_.RigFocalLength = focal;
  rig_.RigBaseline = editor_.Baseline();

  // The fields are the scene's starting values; the scene text may override
  // them, and noise is off unless it asks for it.
  prefs_->focalLength = rig_.RigFocalLength;
  prefs_->baseline = rig_.RigBaseline;
  prefs_->noise = 0.0;
  ClearScene();

  // Every line, in order.
  ParseScene(editor_.SceneLines(), textureNames_, decimalSeparator_, *prefs_, scene_, *lineNotifier_);
  // The models of MESH lines; a model that cannot be used refuses the scene.
  try {
    LoadSceneMeshes(scene_, editor_.SceneName(), modelFolders_);
  } catch (const Error&) {
    ClearScene();
    sceneReady_ = false;
    throw;
  }

  // The editor shows what was found.
  editor_.ShowCounts(scene_.solidObjects.size(), scene_.egoFrames.size());

  // The scene's values become the rig's (a FOCALLENGTH line that is not
  // positive was ignored while parsing).
  rig_.RigFocalLength = prefs_->focalLength;
  rig_.RigBaseline = prefs_->baseline;
  rig_.RigNoise = prefs_->noise;

  sceneReady_ = true;
  RestartPreparedScene();
}

void Renderer::RestartPreparedScene() {
  if (!sceneReady_ || prefs_ == nullptr) throw Error("no scene is prepared");
  // A fresh rendering set-up with the scene's focal length; the right camera
  // is the left one moved by the baseline along x, applied on the projection.
  SetupRendering(clientWidth_, clientHeight_, settings_.AntiAlias());
  if (Current()) {
    glMatrixMode(GL_PROJECTION);
    if (settings_.RightCamera()) glTranslated(-rig_.RigBaseline, 0.0, 0.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
  }

  // Show the prepared scene.
  Redraw();
}

// ------------------------------------------------------ navigation and camera

void Renderer::CameraSwitch(bool checked) {
  if (!Current()) return;
  glMatrixMode(GL_PROJECTION);
  glTranslated(checked ? -rig_.RigBaseline : rig_.RigBaseline, 0.0, 0.0);
  glMatrixMode(GL_MODELVIEW);
  Redraw();
}

void Renderer::SetLightZ(int trackBarPosition) {
  rig_.LightPosition[2] = static_cast<float>(trackBarPosition);
  Redraw();
}

void Renderer::ChangeView(float dAzimuth, float dElevation, double dDistance) {
  viewAzimuth += dAzimuth;
  viewElevation += dElevation;
  viewDistance += dDistance;
  Redraw();
}

// ------------------------------------------------------------------ read-back

std::array<double, 16> Renderer::ProjectionMatrix() {
  std::array<double, 16> m{};
  if (Current()) glGetDoublev(GL_PROJECTION_MATRIX, m.data());
  return m;
}

std::array<double, 16> Renderer::ModelViewMatrix() {
  std::array<double, 16> m{};
  if (Current()) glGetDoublev(GL_MODELVIEW_MATRIX, m.data());
  return m;
}

void Renderer::ReadColour(uint8_t* rgb) {
  const std::size_t bytes = static_cast<std::size_t>(clientWidth_) * clientHeight_ * 3;
  if (!Current()) {
    std::fill(rgb, rgb + bytes, uint8_t{0});
    return;
  }
  if (context_->Width() != clientWidth_ || context_->Height() != clientHeight_) {
    std::fill(rgb, rgb + bytes, uint8_t{0});
  }
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glPixelStorei(GL_PACK_ROW_LENGTH, clientWidth_);
  glReadBuffer(static_cast<GLenum>(context_->PresentedBuffer()));
  glReadPixels(0, 0, std::min(clientWidth_, context_->Width()), std::min(clientHeight_, context_->Height()), GL_RGB,
               GL_UNSIGNED_BYTE, rgb);
  glPixelStorei(GL_PACK_ROW_LENGTH, 0);
}

void Renderer::ReadDepth(float* depth) {
  const std::size_t count = static_cast<std::size_t>(clientWidth_) * clientHeight_;
  if (!Current()) {
    std::fill(depth, depth + count, 1.0f);
    return;
  }
  if (context_->Width() != clientWidth_ || context_->Height() != clientHeight_) {
    std::fill(depth, depth + count, 1.0f);
  }
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glPixelStorei(GL_PACK_ROW_LENGTH, clientWidth_);
  glReadPixels(0, 0, std::min(clientWidth_, context_->Width()), std::min(clientHeight_, context_->Height()),
               GL_DEPTH_COMPONENT, GL_FLOAT, depth);
  glPixelStorei(GL_PACK_ROW_LENGTH, 0);
}

}  // namespace tovimar
