// The camera model, the rendering context and its failures, the motion of a
// run and the camera switch.
#include <GL/gl.h>

#include "render/gl_context.h"
#include "render/rig_state.h"
#include "render_fixture.h"

namespace tovimar::test {
namespace {

std::array<double, 16> Matrix(GLenum which) {
  std::array<double, 16> m{};
  glGetDoublev(which, m.data());
  return m;
}

// m * v for a column-major 4 x 4 matrix.
std::array<double, 4> Apply(const std::array<double, 16>& m, const std::array<double, 4>& v) {
  std::array<double, 4> r{};
  for (int row = 0; row < 4; ++row) {
    for (int k = 0; k < 4; ++k) r[row] += m[k * 4 + row] * v[k];
  }
  return r;
}

TEST(CameraModel, FieldOfViewKeepsTheFocalLengthInPixels) {
  EXPECT_NEAR(FieldOfViewY(384, 389.0), 52.5410, 5e-5);
  EXPECT_NEAR(FieldOfViewY(240, 389.0), 34.2893, 5e-5);
  EXPECT_NEAR(FieldOfViewY(600, 389.0), 75.2816, 5e-5);
  EXPECT_NEAR(FieldOfViewY(768, 389.0), 89.2614, 5e-5);
  // 3.1415 rather than pi: the angle is a little wider than 2 atan(h / 2f).
  EXPECT_GT(FieldOfViewY(384, 389.0), 2.0 * std::atan(384.0 / 778.0) * 180.0 / M_PI + 1e-3);
  EXPECT_EQ(AspectRatio(512, 384), 1.33333337f);
  EXPECT_EQ(AspectRatio(1024, 768), 1.33333337f);
}

TEST(CameraModel, RandomStateStepsLikeTheRuntime) {
  RandomState fresh;
  EXPECT_EQ(fresh.NextNoise(), 346);
  EXPECT_EQ(fresh.NextNoise(), 130);
  EXPECT_EQ(fresh.NextNoise(), 10982);
  EXPECT_EQ(fresh.NextNoise(), 1090);

  // A plane shade steps the whole 64-bit number, the noise only its low word.
  RandomState shades;
  EXPECT_EQ(shades.NextPlaneShade(), 49);
  EXPECT_EQ(shades.low, 20022u);
  EXPECT_EQ(shades.high, 0x15Au);
  EXPECT_EQ(shades.NextPlaneShade(), 26);
  EXPECT_EQ(shades.NextPlaneShade(), 71);
  RandomState mixed;
  mixed.NextPlaneShade();
  RandomState lowOnly;
  lowOnly.low = 20022u;
  EXPECT_EQ(mixed.NextNoise(), lowOnly.NextNoise());
}

TEST(CameraModel, SkippedPlaneShadesEqualTheStepsOneByOne) {
  for (const uint64_t count : {0ull, 1ull, 2ull, 3ull, 64ull, 999ull, 123457ull}) {
    RandomState stepped, skipped;
    stepped.low = skipped.low = 0x9E3779B9u;
    stepped.high = skipped.high = 0x7F4A7C15u;
    for (uint64_t s = 0; s < count; ++s) stepped.NextPlaneShade();
    skipped.SkipPlaneShades(count);
    EXPECT_EQ(skipped.low, stepped.low) << count;
    EXPECT_EQ(skipped.high, stepped.high) << count;
  }
}

TEST(CameraModel, LogLinesUseTheThreeDecimalText) {
  const MotionLogLines point = FormatMotionLog({0.0, 0.0, 0.1}, {0.0, 1.0, 0.0}, '.');
  EXPECT_EQ(point.table, "0.000&0.000&0.100&0.000&1.000&0.000&T & T & T & R & R & R \\\\");
  EXPECT_EQ(point.plain, "0.000;0.000;0.100;0.000;1.000;0.000;");
  const MotionLogLines comma = FormatMotionLog({0.25, 0.0, 0.0}, {0.0, 0.0, 12.345}, ',');
  EXPECT_EQ(comma.plain, "0,250;0,000;0,000;0,000;0,000;12,300;");

  std::array<double, 16> identity{};
  for (int i = 0; i < 4; ++i) identity[static_cast<std::size_t>(i * 5)] = 1.0;
  EXPECT_EQ(FormatMatrixLog(identity, '.'),
            "1.000; 0.000; 0.000; 0.000; 0.000; 1.000; 0.000; 0.000; 0.000; 0.000; 1.000; 0.000; "
            "0.000; 0.000; 0.000; 1.000; ");
}

TEST_F(ViewerTest, ContextMatchesTheClientSizeAndTheProjection) {
  settings.antiAlias = true;
  MakeViewer(512, 384);
  GLint viewport[4] = {};
  glGetIntegerv(GL_VIEWPORT, viewport);
  EXPECT_EQ(viewport[2], 512);
  EXPECT_EQ(viewport[3], 384);
  EXPECT_EQ(renderer->Rig().FrameCounter, -1);
  EXPECT_TRUE(glIsEnabled(GL_BLEND));
  EXPECT_TRUE(glIsEnabled(GL_POLYGON_SMOOTH));
  EXPECT_TRUE(glIsEnabled(GL_LIGHTING));
  EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
  EXPECT_TRUE(glIsEnabled(GL_NORMALIZE));
  EXPECT_TRUE(glIsEnabled(GL_LIGHT0));
  EXPECT_TRUE(glIsEnabled(GL_COLOR_MATERIAL));
  EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
  EXPECT_FALSE(glIsEnabled(GL_CULL_FACE));
  auto light = [](GLenum name) {
    std::array<GLfloat, 4> v{};
    glGetLightfv(GL_LIGHT0, name, v.data());
    return v;
  };
  EXPECT_EQ(light(GL_AMBIENT), (std::array<GLfloat, 4>{0.3f, 0.3f, 0.3f, 1.0f}));
  EXPECT_EQ(light(GL_DIFFUSE), (std::array<GLfloat, 4>{0.7f, 0.7f, 0.7f, 1.0f}));
  EXPECT_EQ(light(GL_SPECULAR), (std::array<GLfloat, 4>{0.9f, 0.9f, 0.9f, 1.0f}));
  std::array<GLfloat, 4> v{};
  glGetFloatv(GL_LIGHT_MODEL_AMBIENT, v.data());
  EXPECT_EQ(v, (std::array<GLfloat, 4>{0.3f, 0.3f, 0.3f, 1.0f}));
  glGetMaterialfv(GL_FRONT, GL_SPECULAR, v.data());
  EXPECT_EQ(v, (std::array<GLfloat, 4>{0.6f, 0.6f, 0.6f, 1.0f}));
  glGetMaterialfv(GL_FRONT, GL_SHININESS, v.data());
  EXPECT_EQ(v[0], 64.0f);
  GLint face = 0, parameter = 0;
  glGetIntegerv(GL_COLOR_MATERIAL_FACE, &face);
  glGetIntegerv(GL_COLOR_MATERIAL_PARAMETER, &parameter);
  EXPECT_EQ(face, GL_FRONT);
  EXPECT_EQ(parameter, GL_AMBIENT_AND_DIFFUSE);
  GLint stencil = 0, depthBits = 0;
  glGetIntegerv(GL_STENCIL_BITS, &stencil);
  glGetIntegerv(GL_DEPTH_BITS, &depthBits);
  EXPECT_EQ(stencil, 8);
  EXPECT_GE(depthBits, 24);

  // gluPerspective: m[5] = cot(fovy / 2), m[0] = m[5] / aspect.
  std::array<double, 16> p = Matrix(GL_PROJECTION_MATRIX);
  const double cot = 1.0 / std::tan(52.5409790 * M_PI / 360.0);
  EXPECT_NEAR(p[5], cot, 1e-5);
  EXPECT_NEAR(p[0], cot / 1.33333337, 1e-5);

  // A resolution change: new context of the new size, wider field, same focal length.
  settings.antiAlias = false;
  renderer->ChangeResolution(1024, 768);
  ASSERT_TRUE(renderer->HasContext());
  glGetIntegerv(GL_VIEWPORT, viewport);
  EXPECT_EQ(viewport[2], 1024);
  EXPECT_EQ(viewport[3], 768);
  EXPECT_FALSE(glIsEnabled(GL_BLEND));
  p = Matrix(GL_PROJECTION_MATRIX);
  EXPECT_NEAR(p[5], 1.0 / std::tan(89.2614297 * M_PI / 360.0), 1e-5);
  EXPECT_TRUE(notifier.messages.empty());

  // The set-up leaves the model-view matrix selected, the projection alone
  // the projection matrix.
  GLint mode = 0;
  glGetIntegerv(GL_MATRIX_MODE, &mode);
  EXPECT_EQ(mode, GL_MODELVIEW);
  renderer->SetupProjection(1024, 768, false);
  glGetIntegerv(GL_MATRIX_MODE, &mode);
  EXPECT_EQ(mode, GL_PROJECTION);
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(ViewerTest, ResolutionChangeKeepsTheSceneAndItsTextures) {
  Show({"KULA;7;4;1;0;0;0;0;0;0;0;0;0.5"});
  ASSERT_EQ(renderer->TextureNames().size(), 11u);
  renderer->ChangeResolution(320, 240);
  // Loaded again into the new context, the sphere pointing at texture 4's new name.
  ASSERT_EQ(renderer->TextureNames().size(), 11u);
  EXPECT_EQ(renderer->Scene().solidObjects[0]->texture, renderer->TextureNames()[4]);
  renderer->ResetViewAndDraw();
  const Picture p = Read();
  ASSERT_EQ(p.width, 320);
  const Picture::Blob blob = p.DrawnBlob();
  EXPECT_NEAR(blob.x, 159.5, 0.05);
  EXPECT_NEAR(blob.y, 119.5, 0.05);
  // The focal length stays 389 pixels, so the sphere keeps its size in pixels.
  const double radius = 389.0 * 0.5 / std::sqrt(9.0 - 0.25);
  EXPECT_NEAR(blob.count, M_PI * radius * radius, 0.02 * M_PI * radius * radius);
  // The picture is the one a preparation at the new size draws, texture included.
  renderer->PrepareScene();
  renderer->ResetViewAndDraw();
  EXPECT_EQ(Read().rgb, p.rgb);

  // The right camera stays the one drawn.
  settings.rightCamera = true;
  renderer->PrepareScene();
  renderer->ResetViewAndDraw();
  const Picture right = Read();
  renderer->ChangeResolution(320, 240);
  renderer->ResetViewAndDraw();
  EXPECT_EQ(Read().rgb, right.rgb);
  EXPECT_NE(right.rgb, p.rgb);
}

TEST(RenderContext, FailuresReportWithTheirTexts) {
  CollectingNotifier notifier;
  GlContextRequest noConfig;
  noConfig.depthBits = 99;
  EXPECT_EQ(CreateEglContext(noConfig, notifier), nullptr);
  ASSERT_EQ(notifier.messages.size(), 1u);
  EXPECT_EQ(notifier.messages[0].caption, "Blad");
  EXPECT_EQ(notifier.messages[0].text,
            "The EGL display has no OpenGL pbuffer configuration (8 bits per colour channel, at least 99 depth and "
            "8 stencil bits)");

  GlContextRequest noSurface;
  noSurface.width = -1;
  EXPECT_EQ(CreateEglContext(noSurface, notifier), nullptr);
  ASSERT_EQ(notifier.messages.size(), 2u);
  EXPECT_EQ(notifier.messages[1].caption, "Blad");
  EXPECT_EQ(notifier.messages[1].text, "No EGL pbuffer surface could be made of -1x384");
}

TEST_F(ViewerTest, ViewerWithoutContextRefusesToPrepareAndDrawsNothing) {
  renderer = std::make_unique<Renderer>(settings, editor, notifier, '.', 64, 48);
  renderer->SetContextFactory([](const GlContextRequest& request, Notifier& n) {
    GlContextRequest impossible = request;
    impossible.depthBits = 99;
    return CreateEglContext(impossible, n);
  });
  EXPECT_FALSE(renderer->Initialise());
  EXPECT_FALSE(renderer->HasContext());
  EXPECT_EQ(renderer->GetPrefs(), nullptr);
  ASSERT_EQ(notifier.messages.size(), 1u);
  EXPECT_EQ(notifier.messages[0].text.rfind("The EGL display has no OpenGL pbuffer configuration", 0), 0u);

  editor.lines = {"SPHERE;1;-1;1;0;0;0;0;0;0;0;0;0.5"};
  EXPECT_THROW(renderer->PrepareScene(), Error);
  EXPECT_TRUE(renderer->Scene().solidObjects.empty());
  bool presented = false;
  renderer->onPresented = [&] { presented = true; };
  renderer->ResetViewAndDraw();
  renderer->CameraSwitch(true);
  renderer->DrawScene(true, -1, 0, 90, 3);
  EXPECT_FALSE(presented);
  std::vector<uint8_t> rgb(64 * 48 * 3, 7);
  renderer->ReadColour(rgb.data());
  EXPECT_EQ(rgb[0], 0);
  renderer->Shutdown();
}

TEST_F(ViewerTest, NothingIsDrawnBeforeTheFirstPreparation) {
  MakeViewer(64, 48);
  int presented = 0;
  renderer->onPresented = [&] { ++presented; };
  renderer->ResetViewAndDraw();
  EXPECT_EQ(presented, 0);
  Show({});
  EXPECT_EQ(presented, 2);  // the preparation's drawing and the paint
  // An empty scene: background everywhere, depth 1.0 everywhere.
  const Picture p = Read();
  for (int y = 0; y < p.height; ++y) {
    for (int x = 0; x < p.width; ++x) {
      ASSERT_EQ(p.Depth(x, y), 1.0f);
      ASSERT_EQ(p.Colour(x, y), (std::array<int, 3>{0, 255, 255}));
    }
  }
}

// Frame motions accumulate on the projection, each expressed in the axes of
// the camera's pose at the start of the run.
TEST_F(ViewerTest, FrameMotionsAccumulateOnTheProjection) {
  editor.keepLogs = true;
  Show({"SPHERE;1;-1;1;0;0;0;5;0;0;0;0;0.05", "EGO;0;0;0;0;90;0", "EGO;0;0;1;0;0;0"});
  const std::array<double, 16> perspective = Matrix(GL_PROJECTION_MATRIX);
  const std::array<double, 4> ahead{0, 0, -5, 1};

  renderer->Rig().FrameCounter = 0;
  renderer->DrawScene(true, -1, 0, 90, 3);
  std::array<double, 4> got = Apply(Matrix(GL_PROJECTION_MATRIX), ahead);
  std::array<double, 4> want = Apply(perspective, {-5, 0, 0, 1});
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(got[i], want[i], 1e-4) << i;

  renderer->Rig().FrameCounter = 1;
  renderer->DrawScene(true, -1, 0, 90, 3);
  got = Apply(Matrix(GL_PROJECTION_MATRIX), ahead);
  want = Apply(perspective, {-4, 0, 0, 1});
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(got[i], want[i], 1e-4) << i;

  GLint mode = 0;
  glGetIntegerv(GL_MATRIX_MODE, &mode);
  EXPECT_EQ(mode, GL_MODELVIEW);

  ASSERT_EQ(editor.motionTable.size(), 2u);
  EXPECT_EQ(editor.motionTable[0], "0.000&0.000&0.000&0.000&90.000&0.000&T & T & T & R & R & R \\\\");
  EXPECT_EQ(editor.motionPlain[1], "0.000;0.000;1.000;0.000;0.000;0.000;");

  // Without ApplyEgo, or before a run, the projection stays as it is.
  const std::array<double, 16> before = Matrix(GL_PROJECTION_MATRIX);
  renderer->DrawScene(false, -1, 0, 90, 3);
  renderer->Rig().FrameCounter = -1;
  renderer->DrawScene(true, -1, 0, 90, 3);
  EXPECT_EQ(Matrix(GL_PROJECTION_MATRIX), before);
  EXPECT_EQ(editor.motionTable.size(), 2u);

  // A new preparation returns to the start pose.
  renderer->PrepareScene();
  const std::array<double, 16> again = Matrix(GL_PROJECTION_MATRIX);
  for (int i = 0; i < 16; ++i) EXPECT_DOUBLE_EQ(again[static_cast<std::size_t>(i)], perspective[static_cast<std::size_t>(i)]);
}

TEST_F(ViewerTest, TranslationTowardTheCameraShortensTheDistance) {
  // A point at world (0, 5, 0) lies on the optical axis, 8 units ahead.
  Show({"SPHERE;1;-1;1;0;0;0;5;0;0;0;0;0.05", "EGO;0;0;0.1;0;0;0", "EGO;0;0;0.1;0;0;0"});
  Picture p = Read();
  Picture::Blob blob = p.DrawnBlob();
  EXPECT_NEAR(blob.x, 255.5, 0.05);
  EXPECT_NEAR(blob.y, 191.5, 0.05);
  // the nearest point of the sphere
  EXPECT_NEAR(DepthToDistance(p.Depth(256, 192)), 7.95, 5e-3);

  for (int frame = 0; frame < 2; ++frame) {
    renderer->Rig().FrameCounter = frame;
    renderer->DrawScene(true, -1, 0, 90, 3);
  }
  p = Read();
  EXPECT_NEAR(DepthToDistance(p.Depth(256, 192)), 7.75, 5e-3);
}

TEST_F(ViewerTest, RightCameraShiftsImagePointsLeftByDisparity) {
  // A small sphere 5 units ahead (world y = 2): disparity B F / z.
  const std::vector<std::string> scene = {"BASELINE;0.5", "SPHERE;1;-1;1;0;0;0;2;0;0;0;0;0.05"};
  Show(scene);
  const Picture left = Read();
  const Picture::Blob l = left.DrawnBlob();

  renderer->CameraSwitch(true);
  const Picture switched = Read();
  const Picture::Blob r = switched.DrawnBlob();
  EXPECT_NEAR(l.x - r.x, 0.5 * 389.0 / 5.0, 0.25);
  EXPECT_NEAR(l.y, r.y, 1e-9);

  GLint mode = 0;
  glGetIntegerv(GL_MATRIX_MODE, &mode);
  EXPECT_EQ(mode, GL_MODELVIEW);

  // Unchecking restores the left view exactly.
  renderer->CameraSwitch(false);
  const Picture back = Read();
  EXPECT_EQ(back.rgb, left.rgb);
  EXPECT_EQ(back.depth, left.depth);

  // Preparing with the right camera selected gives the switched view.
  settings.rightCamera = true;
  renderer->PrepareScene();
  renderer->ResetViewAndDraw();
  const Picture prepared = Read();
  EXPECT_NEAR(prepared.DrawnBlob().x, r.x, 1e-6);
}

TEST_F(ViewerTest, ViewControlsAndLight) {
  Show({"SPHERE;1;-1;1;1;1;0;0;0;0;0;0;0.5"});
  const Picture before = Read();
  renderer->ChangeView(0, 0, 0.2);
  renderer->ChangeView(0, 0, 0.2);
  renderer->ChangeView(0, 0, 0.2);
  EXPECT_NEAR(renderer->viewDistance, 3.6, 1e-9);
  EXPECT_LT(Read().DrawnBlob().count, before.DrawnBlob().count);
  renderer->ResetViewAndDraw();
  EXPECT_EQ(renderer->viewDistance, 3.0);
  EXPECT_EQ(Read().rgb, before.rgb);

  renderer->SetLightZ(-50);
  EXPECT_EQ(renderer->Rig().LightPosition[2], -50.0f);
  GLfloat light[4] = {};
  glGetLightfv(GL_LIGHT0, GL_POSITION, light);
  // Stored in eye coordinates: the default view turns world (-10, 20, -50)
  // into (-10, -50, -23).
  EXPECT_NEAR(light[0], -10.0f, 1e-4f);
  EXPECT_NEAR(light[1], -50.0f, 1e-4f);
  EXPECT_NEAR(light[2], -23.0f, 1e-4f);
  EXPECT_NE(Read().rgb, before.rgb);
}

}  // namespace
}  // namespace tovimar::test
