#pragma once
// The stereo renderer's core: the one OpenGL context, the camera model, scene
// drawing, textures, scene assembly and the camera switch. The desktop
// window, the command-line tool and the tests all drive this object.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "render/gl_context.h"
#include "render/rig_state.h"
#include "render/settings.h"
#include "render/textures.h"
#include "scene/scene_line_parser.h"
#include "scene/assembly.h"
#include "scene/notifier.h"
#include "scene/prefs.h"
#include "scene/scene_model.h"

namespace tovimar {

class GlPainter;  // render/painter.h

class Renderer {
 public:
  // decimalSeparator: the user's locale decimal mark, used by the parser,
  // NormaliseDecimalText and the memo logs.
  Renderer(RenderSettings& settings, EditorLink& editor, Notifier& notifier, char decimalSeparator,
         int clientWidth = 512, int clientHeight = 384);
  ~Renderer();  // Shutdown
  Renderer(const Renderer&) = delete;
  Renderer& operator=(const Renderer&) = delete;

  // Where the parser's reports go during PrepareScene, with line numbers
  // (nullptr: to the Notifier, the text led by "scene:line: "). Not owned;
  // must outlive its use.
  void SetLineNotifier(LineNotifier* notifier);
  // How CreateRenderContext makes its context (default: CreateEglContext).
  void SetContextFactory(GlContextFactory factory);
  // The texture folder: set Rig().StartDirectory before Initialise to use
  // another folder than the current directory.

  // --- life cycle ---
  // sceneReady false, StartDirectory = current directory (unless already
  // set), parser and Prefs, CreateRenderContext. False when no context.
  bool Initialise();
  void Shutdown();  // ReleaseSceneResources, then ReleaseRenderContext
  void ReleaseSceneResources();
  void ResetViewAndDraw();  // view defaults (3.0, 90, 0), then one drawing
  // Back to the state Initialise leaves, keeping the rendering context (the
  // next scene of a batch): rig values (random state, frame counter, light,
  // focal length, baseline, noise) as a new renderer has them, the start
  // directory kept, no scene, a new parser and Prefs, the rendering set-up
  // (projection and lighting) made afresh. False when there is no context.
  bool StartOver();

  // --- context, projection, lighting ---
  bool CreateRenderContext();  // reports "Blad" messages on failure
  void ReleaseRenderContext();
  bool HasContext() const;
  // Leaves the context current on no thread (if it is current on the calling
  // one): the renderer may then be used from another thread, whose first use
  // makes the context current there. One thread at a time uses a renderer.
  void DetachFromThread();
  int ClientWidth() const { return clientWidth_; }
  int ClientHeight() const { return clientHeight_; }
  void SetClientSize(int width, int height);
  // "Apply": size, release, create; a prepared scene keeps its textures
  // (loaded into the new context) and the chosen camera's projection.
  void ChangeResolution(int width, int height);
  void SetupProjection(int width, int height, bool antiAlias);
  void SetupRendering(int width, int height, bool antiAlias);

  // --- drawing ---
  // skipId: leave out every object with this id; kSkipNone draws them all.
  static constexpr int kSkipNone = -1;
  void DrawScene(bool applyEgo, int skipId, double azimuth, double elevation, double distance);
  // DrawScene(false, kSkipNone, current view); while drawings are unseen,
  // StepRandomAsDrawing instead.
  void Redraw();
  // The random steps of one colour drawing of the whole prepared scene (one
  // per drawn plane, DrawnPlaneCount), done as arithmetic; nothing when
  // DrawScene would draw nothing (no scene, no context).
  void StepRandomAsDrawing();
  // What DrawScene(true, current view) does before it draws, without
  // drawing: the view matrix, the camera motion of frame
  // Rig().FrameCounter applied to the projection, the
  // solids' poses of that frame, the motion log and the overflow checks.
  // Leaves the random state alone. Throws Cancelled as DrawScene does.
  void ApplyFrameMotion();
  // While set, nobody looks at the drawings that only show the scene (after
  // a preparation, a camera switch, a change of view): Redraw makes none and
  // steps the random state as it would have (a session of its own, whose
  // frames draw everything they read). Off by default (the desktop).
  void SetDrawingsUnseen(bool unseen) { drawingsUnseen_ = unseen; }
  void DrawObjects(int skipId);
  void LoadTextures();  // throws Error naming the file that cannot be read
  void FreeTextures();
  const std::vector<uint32_t>& TextureNames() const { return textureNames_; }
  // The folder the last LoadTextures read (the scene's own texture set when
  // preferred and present, else the start directory, or the bundled textures
  // when the start directory has no tex0.bmp).
  const std::string& TextureDirectory() const { return textureDirectory_; }
  // A scene read from a file with a texture set beside it (SceneTextureFolder
  // of the editor's SceneName) is drawn with that set; off when a host was
  // told which folder to use.
  void SetSceneTexturesPreferred(bool on) { sceneTexturesPreferred_ = on; }
  // Folders where a MESH file that is not beside the scene is looked for, in
  // order (LoadSceneMeshes).
  void SetModelFolders(std::vector<std::string> folders) { modelFolders_ = std::move(folders); }
  // Decoded texture files: each is read once while it does not change.
  const TextureCache& Textures() const { return textureCache_; }

  // --- scene assembly ---
  // The preparation of a sequence. Throws Error (conversion message of the
  // focal length or baseline text, unreadable texture, no context); what was
  // done before the failing step stays done, the previous scene stays.
  void PrepareScene();
  // A prepared scene started again as PrepareScene leaves it, without
  // reading its text, models or textures again: the rendering set-up with
  // the scene's focal length, the chosen camera's baseline shift, the frame
  // counter at -1, the solids at their first pose, then Redraw. For a host
  // whose scene text has not changed since its preparation (a session's
  // second camera). Throws Error when no scene is prepared.
  void RestartPreparedScene();
  void ClearScene();
  const SceneModel& Scene() const { return scene_; }
  const Prefs* GetPrefs() const { return prefs_.get(); }
  bool SceneReady() const { return sceneReady_; }

  // --- navigation and camera ---
  void CameraSwitch(bool checked);  // the camera check box changed to `checked`
  void SetLightZ(int trackBarPosition);
  // The developer controls: adds the changes to the view, then redraws
  // ("/\\" elevation -2, "V" +2, "<" azimuth +2, ">" -2, "-" distance +0.2, "+" -0.2).
  void ChangeView(float dAzimuth, float dElevation, double dDistance);
  float viewAzimuth = 0.0f;
  float viewElevation = 0.0f;
  double viewDistance = 0.0;

  // --- matrices, read back as the GL holds them (column-major) ---
  // The perspective alone, as the last projection set-up made it.
  const std::array<double, 16>& PerspectiveMatrix() const { return perspective_; }
  // The current projection (perspective, camera shift, accumulated motion)
  // and the current view (modelview) matrix.
  std::array<double, 16> ProjectionMatrix();
  std::array<double, 16> ModelViewMatrix();
  // Replaces the current projection (one that ProjectionMatrix returned).
  void LoadProjectionMatrix(const std::array<double, 16>& m);
  // Applies the camera motion of frames 0..frames-1 to the projection as
  // their drawings did, without drawing or logging: a run can then go on
  // from frame `frames` as if it had drawn those before. `afterEach`, when
  // set, is asked after each frame's motion (the frame's index) and stops the
  // replay there by returning false; the return value is false then.
  bool ReplayCameraMotion(std::size_t frames, const std::function<bool(std::size_t)>& afterEach = {});

  // --- read-back of the last presented drawing (bottom row first) ---
  void ReadColour(uint8_t* rgb);  // W*H*3 bytes, pack alignment 1
  void ReadDepth(float* depth);   // W*H floats, window depth 0..1

  // --- flat colour drawings (segmentation), render/viewer_flat.cpp ---
  // Draws the solid objects order[i] (indices into Scene().solidObjects), in
  // that order, placed as DrawScene(false, -1, current view) places them, in
  // flat colours from codes[i] (low byte, high byte), with lighting,
  // texturing, fog, blending and dithering off, twice: with the depth test
  // GL_LESS into red and green, then, depth cleared, with GL_LEQUAL into blue
  // and alpha. Where several objects reach a pixel's front depth, red/green
  // hold the first one's code and blue/alpha the last one's; 0 where nothing
  // was drawn. Reads back the colours (W*H*4 bytes RGBA, bottom row first) and
  // the depth (W*H floats). It draws where DrawScene draws (the same
  // framebuffer gives the same fragments) but presents nothing; plane
  // drawings leave the random state alone and the GL state of the camera
  // drawing is restored. Returns false, having drawn nothing, where the
  // drawing could differ in its fragments or colours: no scene or context, a
  // context of another size, smoothing on, multisampling, colour channels
  // other than 8 bits, more than 24 depth bits, matrix logging on.
  // With nearRgba, two more drawings over the second one's depth (depth
  // writes off, GL_LEQUAL, each fragment pulled nearer by kFrontTieUnits
  // steps of the depth buffer) find the objects whose surface lies that close
  // behind the front: red/green the first of them in `order`, blue/alpha the
  // last (W*H*4 bytes, bottom row first), so coplanar faces that rounding
  // puts a step apart count as at the same depth.
  static constexpr int kFrontTieUnits = 8;
  bool DrawFrontCodes(const std::vector<std::size_t>& order, const std::vector<uint16_t>& codes, uint8_t* rgba,
                      float* depth, uint8_t* nearRgba = nullptr);
  // Puts a picture as ReadColour gives it back into the presented buffer
  // (after flat drawings, so the window shows the camera drawing again).
  void WriteColour(const uint8_t* rgb);

  // Asked before every drawing (DrawScene, each of DrawFrontCodes' two) while
  // set; true throws Cancelled there, the GL state left as it was.
  void SetCancelCheck(std::function<bool()> cancelled) { cancelCheck_ = std::move(cancelled); }

  // The frame whose MOVE poses the solids are drawn in: set by every drawing
  // that applies a frame's camera motion (and by ReplayCameraMotion), -1
  // (as written) for a new scene.
  int32_t ObjectFrame() const { return objectFrame_; }

  // The work done since the renderer was made, for tests and benchmarks.
  struct WorkCounts {
    int scenePreparations = 0;  // PrepareScene calls that read the scene text
    int textureLoads = 0;       // LoadTextures calls (texture images put into the GL)
    uint64_t drawings = 0;      // DrawScene calls that drew
  };
  const WorkCounts& Work() const { return work_; }

  // Called after every presented drawing (the desktop renderer shows it).
  std::function<void()> onPresented;

  RigState& Rig() { return rig_; }
  const RigState& Rig() const { return rig_; }
  RenderSettings& GetRenderSettings() { return settings_; }
  EditorLink& Editor() { return editor_; }

 private:
  // One frame's camera motion, multiplied onto the current matrix (the
  // projection) in 256 steps, as the renderer accumulates it.
  static void ApplyCameraMotion(const CameraMotion& ego);
  // The frame's camera motion on the projection and its checks (DrawScene
  // with applyEgo); the current matrix mode becomes the projection.
  void ApplyEgoOfFrame();
  // The view (modelview) matrix of a drawing from this azimuth, elevation and
  // distance; the current matrix mode becomes the modelview.
  static void LoadViewMatrix(double azimuth, double elevation, double distance);
  bool drawingsUnseen_ = false;
  WorkCounts work_;
  // Multiplies solid `index`'s MOVE pose at ObjectFrame onto the modelview
  // matrix; nothing for a solid that does not move.
  void ApplyObjectMotion(std::size_t index) const;
  int32_t objectFrame_ = -1;

  RenderSettings& settings_;
  EditorLink& editor_;
  Notifier& notifier_;
  char decimalSeparator_;
  int clientWidth_;
  int clientHeight_;
  RigState rig_;
  SceneModel scene_;
  std::unique_ptr<Prefs> prefs_;
  std::vector<uint32_t> textureNames_;
  std::unique_ptr<GlContext> context_;
  bool sceneReady_ = false;

  bool Current();  // context exists and is current
  bool StopAsked() const { return cancelCheck_ && cancelCheck_(); }
  void ThrowIfCancelled() const;
  std::function<bool()> cancelCheck_;

  std::unique_ptr<GlPainter> painter_;
  LocatingLineNotifier defaultLineNotifier_;
  LineNotifier* lineNotifier_;
  GlContextFactory contextFactory_;
  std::string textureDirectory_;
  bool sceneTexturesPreferred_ = false;
  std::vector<std::string> modelFolders_;
  TextureCache textureCache_;
  std::array<double, 16> perspective_{};
};

}  // namespace tovimar
