// Scene preparation: the editor's numbers, partial effects of failures, the
// rig values, and the example scene drawn headless (stored as pictures in the
// build tree for a person to look at).
#include <GL/gl.h>

#include "io/bmp.h"
#include "scene/locale_number.h"
#include "scene/scene_text.h"
#include "render_fixture.h"

namespace tovimar::test {
namespace {

class PrepareTest : public ViewerTest {
 protected:
  void MakeCommaViewer() {
    renderer = std::make_unique<Renderer>(settings, editor, notifier, ',', 64, 48);
    renderer->SetLineNotifier(&lines);
    ASSERT_TRUE(renderer->Initialise());
  }
};

TEST_F(PrepareTest, EditorNumbersStartAndSceneLinesOverrideThem) {
  MakeCommaViewer();
  editor.focalLength = 389.5;
  editor.baseline = 0.12;
  editor.lines = {"NOISE;1,5", "FOG;", "SPHERE;1;-1;1;1;1;0;0;0;0;0;0;0.5", "EGO;0;0;0.1;0;0;0"};
  renderer->PrepareScene();
  EXPECT_EQ(renderer->Rig().RigFocalLength, 389.5);
  EXPECT_EQ(renderer->Rig().RigBaseline, 0.12);
  EXPECT_EQ(renderer->Rig().RigNoise, 1.5);
  EXPECT_TRUE(renderer->GetPrefs()->fog);
  // The drawing turned exponential grey fog of density 0.5 on.
  EXPECT_TRUE(glIsEnabled(GL_FOG));
  GLint fogMode = 0;
  GLfloat fogDensity = 0, fogColour[4] = {};
  glGetIntegerv(GL_FOG_MODE, &fogMode);
  glGetFloatv(GL_FOG_DENSITY, &fogDensity);
  glGetFloatv(GL_FOG_COLOR, fogColour);
  EXPECT_EQ(fogMode, GL_EXP);
  EXPECT_EQ(fogDensity, 0.5f);
  EXPECT_EQ(fogColour[0], 0.5f);
  EXPECT_EQ(fogColour[2], 0.5f);
  EXPECT_EQ(fogColour[3], 1.0f);
  EXPECT_EQ(editor.objectCount, 1u);
  EXPECT_EQ(editor.frameCount, 1u);
  EXPECT_TRUE(renderer->SceneReady());

  // A BASELINE line wins over the editor's number; a scene without NOISE and
  // FOG lines resets both.
  editor.lines = {"BASELINE;0,3", "FOCALLENGTH;400"};
  renderer->PrepareScene();
  EXPECT_EQ(renderer->Rig().RigBaseline, 0.3);
  EXPECT_EQ(renderer->Rig().RigFocalLength, 400.0);
  EXPECT_EQ(renderer->Rig().RigNoise, 0.0);
  EXPECT_FALSE(renderer->GetPrefs()->fog);
  EXPECT_FALSE(glIsEnabled(GL_FOG));
  EXPECT_EQ(editor.objectCount, 0u);
  EXPECT_EQ(editor.frameCount, 0u);
  EXPECT_TRUE(lines.messages.empty());
}

// The desktop's editor: numbers read from field texts, which may not convert.
struct FieldEditor : PlainEditor {
  std::string focalText = "389", baselineText = "0,12";
  double FocalLength() override { return FocalLengthFieldValue(focalText, ','); }
  double Baseline() override { return BaselineFieldValue(baselineText, ','); }
};

TEST_F(PrepareTest, BadEditorNumbersStopWithTheirPartialEffects) {
  FieldEditor fields;
  renderer = std::make_unique<Renderer>(settings, fields, notifier, ',', 64, 48);
  renderer->SetLineNotifier(&lines);
  ASSERT_TRUE(renderer->Initialise());
  fields.lines = {"SPHERE;1;-1;1;1;1;0;0;0;0;0;0;0.5"};
  renderer->PrepareScene();
  const SceneObject* previous = renderer->Scene().solidObjects.at(0).get();

  // Bad focal length: textures reloaded, nothing else.
  fields.lines = {};
  fields.focalText = "3,8x";
  try {
    renderer->PrepareScene();
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()), "'3,8x' is not a valid floating point value");
  }
  EXPECT_EQ(renderer->TextureNames().size(), 11u);
  EXPECT_EQ(renderer->Scene().solidObjects.at(0).get(), previous);
  EXPECT_EQ(renderer->Rig().RigFocalLength, 389.0);

  // Bad baseline: the focal length has already been taken over.
  fields.focalText = "420";
  fields.baselineText = "";
  EXPECT_THROW(renderer->PrepareScene(), Error);
  EXPECT_EQ(renderer->Rig().RigFocalLength, 420.0);
  EXPECT_EQ(renderer->GetPrefs()->focalLength, 389.0);
  EXPECT_EQ(renderer->Scene().solidObjects.at(0).get(), previous);

  // A focal length that is not positive would turn the picture over: refused
  // whatever the editor gives.
  fields.baselineText = "0,12";
  fields.focalText = "0";
  EXPECT_THROW(renderer->PrepareScene(), Error);
  editor.focalLength = -1;
  MakeCommaViewer();
  EXPECT_THROW(renderer->PrepareScene(), Error);
  editor.focalLength = 389;
  editor.lines = {"FOCALLENGTH;"};
  renderer->PrepareScene();
  EXPECT_EQ(renderer->Rig().RigFocalLength, 389.0);
  ASSERT_EQ(lines.messages.size(), 1u);
  EXPECT_EQ(lines.messages[0].line, 1);
  EXPECT_NE(lines.messages[0].text.find("FOCALLENGTH"), std::string::npos);
}

TEST_F(PrepareTest, ParserReportsCarryLineNumbers) {
  MakeViewer(64, 48);
  editor.lines = {"//a", "", "SPHERE;1;x1x2;1;1;1", "KULA;2;-1"};
  renderer->PrepareScene();
  ASSERT_EQ(lines.messages.size(), 1u);
  EXPECT_EQ(lines.messages[0].line, 3);
  EXPECT_EQ(lines.messages[0].text.rfind("Convert error: ", 0), 0u) << lines.messages[0].text;
  EXPECT_EQ(editor.objectCount, 2u);

  // Without a line notifier of its own the renderer forwards the text led by
  // the scene's name and the line, as the desktop's message box shows it.
  renderer->SetLineNotifier(nullptr);
  renderer->PrepareScene();
  editor.sceneName = "/home/u/room.txt";
  renderer->PrepareScene();
  ASSERT_EQ(notifier.messages.size(), 2u);
  EXPECT_EQ(notifier.messages[0].text, "line 3: " + lines.messages[0].text);
  EXPECT_EQ(notifier.messages[1].text, "/home/u/room.txt:3: " + lines.messages[0].text);
}

TEST_F(PrepareTest, DestroyedViewerRefusesToPrepare) {
  MakeViewer(64, 48);
  Show({"SPHERE;1;-1;1;1;1;0;0;0;0;0;0;0.5"});
  renderer->Shutdown();
  EXPECT_FALSE(renderer->HasContext());
  EXPECT_TRUE(renderer->Scene().solidObjects.empty());
  EXPECT_THROW(renderer->PrepareScene(), Error);
  renderer->ResetViewAndDraw();
}

void SaveBmp(const std::string& name, const Picture& p) {
  // The picture is read bottom row first in red-green-blue; the writer takes
  // the top row first in blue-green-red.
  std::vector<uint8_t> bgr(p.rgb.size());
  const std::size_t row = static_cast<std::size_t>(p.width) * 3;
  for (int y = 0; y < p.height; ++y) {
    const uint8_t* src = &p.rgb[static_cast<std::size_t>(p.height - 1 - y) * row];
    uint8_t* dst = &bgr[static_cast<std::size_t>(y) * row];
    for (std::size_t k = 0; k < row; k += 3) {
      dst[k] = src[k + 2];
      dst[k + 1] = src[k + 1];
      dst[k + 2] = src[k];
    }
  }
  const std::string path = std::string(TOVIMAR_TEST_OUTPUT_DIR) + "/" + name;
  EXPECT_NO_THROW(WriteBmp24(path, bgr.data(), p.width, p.height)) << path;
}

TEST_F(ViewerTest, ExampleSceneRendersTheCorridor) {
  const std::string text = ReadFileBytes(std::string(TOVIMAR_SOURCE_DIR) + "/examples/sceneexample.txt");
  MakeViewer(512, 384);
  Show(SplitLines(text));
  EXPECT_EQ(editor.objectCount, 9u);
  EXPECT_EQ(editor.frameCount, 5u);
  EXPECT_EQ(renderer->Rig().RigNoise, 2.0);
  EXPECT_EQ(renderer->Rig().RigFocalLength, 389.0);
  EXPECT_FALSE(renderer->GetPrefs()->fog);
  EXPECT_TRUE(lines.messages.empty());
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
  const Picture left = Read();
  SaveBmp("example_left.bmp", left);

  // The background sphere surrounds the camera: every pixel is drawn.
  for (float d : left.depth) ASSERT_LT(d, 1.0f);
  // The cone stands in front of the textured sphere (id 25, centre 4 units
  // ahead, 0.2 below the axis), which shows on either side of it.
  EXPECT_NEAR(DepthToDistance(left.Depth(256, 200)), 3.3 - 0.24, 0.05);
  const double sphere = DepthToDistance(left.Depth(256 + 45, 200));
  EXPECT_GT(sphere, 3.35);
  EXPECT_LT(sphere, 3.6);
  // The floor (z = -1.4) near the bottom of the image, 1.4 * 389 / 180 ahead.
  EXPECT_NEAR(DepthToDistance(left.Depth(256 + 120, 372)), 1.4 * 389.0 / 180.5, 0.05);

  settings.rightCamera = true;
  renderer->PrepareScene();
  renderer->ResetViewAndDraw();
  const Picture right = Read();
  SaveBmp("example_right.bmp", right);
  EXPECT_NE(right.rgb, left.rgb);

  // A few frames of the run.
  for (int frame = 0; frame < 5; ++frame) {
    renderer->Rig().FrameCounter = frame;
    renderer->DrawScene(true, -1, renderer->viewAzimuth, renderer->viewElevation, renderer->viewDistance);
  }
  SaveBmp("example_right_frame4.bmp", Read());
}

}  // namespace
}  // namespace tovimar::test
