// The compiled part of the Python package `tovimar`: scene checking, scene
// generation and in-memory rendering, with numpy arrays. Argument checking
// and the friendly signatures live in the package's Python part.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/check.h"
#include "base/error.h"
#include "scene/scene_dump.h"
#include "eval/dataset.h"
#include "eval/evaluate.h"
#include "eval/flow.h"
#include "eval/report.h"
#include "io/bmp.h"
#include "io/png.h"
#include "io/text.h"
#include "render/gl_context.h"
#include "scene/assembly.h"
#include "scene/notifier.h"
#include "scene/scene_text.h"
#include "scenegen/generator.h"
#include "run/memory_run.h"

namespace py = pybind11;

namespace tovimar {
namespace {

// The run's messages, kept for Python (as warnings): scene line reports led
// by "scene:line: " and printed once, as the command line prints them.
class CollectingNotifier : public Notifier, public LineNotifier {
 public:
  void Begin(const std::string& scene) {
    scene_ = scene;
    seen_.clear();
  }
  void Notify(const std::string& caption, const std::string& text) override {
    messages.push_back(caption.empty() ? text : caption + ": " + text);
  }
  void NotifyLine(int lineNumber, const std::string& caption, const std::string& text) override {
    if (!seen_.emplace(lineNumber, text).second) return;
    messages.push_back(LineLocation(scene_, lineNumber) + (caption.empty() ? "" : caption + ": ") + text);
  }
  std::vector<std::string> messages;

 private:
  std::string scene_;
  std::set<std::pair<int, std::string>> seen_;
};

template <typename T>
py::array_t<T> ArrayOf(const std::vector<T>& values, std::vector<py::ssize_t> shape) {
  py::array_t<T> out(shape);
  std::memcpy(out.mutable_data(), values.data(), values.size() * sizeof(T));
  return out;
}

// RGB (H, W, 3) of a picture stored as BMP rows (blue, green, red).
py::array_t<uint8_t> RgbOf(const BmpImage24& image) {
  const int W = image.Width(), H = image.Height();
  py::array_t<uint8_t> out({static_cast<py::ssize_t>(H), static_cast<py::ssize_t>(W), py::ssize_t{3}});
  uint8_t* dst = out.mutable_data();
  for (int y = 0; y < H; ++y) {
    const uint8_t* src = image.Row(y);
    for (int x = 0; x < W; ++x, src += 3, dst += 3) {
      dst[0] = src[2];
      dst[1] = src[1];
      dst[2] = src[0];
    }
  }
  return out;
}

// The map's grey value (H, W): the id, 255 where no labelled object is.
py::array_t<uint8_t> GreyOf(const BmpImage24& image) {
  const int W = image.Width(), H = image.Height();
  py::array_t<uint8_t> out({static_cast<py::ssize_t>(H), static_cast<py::ssize_t>(W)});
  uint8_t* dst = out.mutable_data();
  for (int y = 0; y < H; ++y) {
    const uint8_t* src = image.Row(y);
    for (int x = 0; x < W; ++x, src += 3) *dst++ = src[2];
  }
  return out;
}

py::dict CameraDict(const CameraProducts& c, const MemoryProducts& wanted, bool palette) {
  const FrameProducts& f = c.frame;
  const auto H = static_cast<py::ssize_t>(f.truth.height), W = static_cast<py::ssize_t>(f.truth.width);
  py::dict d;
  d["frame"] = f.frame;
  d["image"] = RgbOf(f.cameraImage);
  if (wanted.cleanImage) d["image_clean"] = ArrayOf(f.cleanImage, {H, W, 3});
  d["disparity"] = ArrayOf(f.truth.disparity, {H, W});
  py::array_t<bool> valid({H, W});
  std::transform(f.truth.valid.begin(), f.truth.valid.end(), valid.mutable_data(), [](uint8_t v) { return v != 0; });
  d["valid"] = valid;
  if (wanted.depth) d["depth"] = ArrayOf(f.truth.depth, {H, W});
  if (wanted.masks) d["mask"] = ArrayOf(c.mask, {H, W});
  if (wanted.ids16) d["ids16"] = ArrayOf(f.truth.ids, {H, W});
  if (wanted.segmentation) d["segmentation"] = palette ? py::object(RgbOf(f.segmentation)) : GreyOf(f.segmentation);
  if (c.flow) {
    const SceneFlow& flow = *c.flow;
    py::array_t<float> uv({H, W, py::ssize_t{2}});
    float* p = uv.mutable_data();
    for (std::size_t i = 0; i < flow.u.size(); ++i) {
      p[2 * i] = flow.u[i];
      p[2 * i + 1] = flow.v[i];
    }
    d["flow"] = uv;
    d["flow_mask"] = ArrayOf(flow.mask, {H, W});
    d["disparity_change"] = ArrayOf(flow.disparityChange, {H, W});
  }
  py::array_t<double> k({3, 3});
  const Intrinsics& in = f.intrinsics;
  const double kv[9] = {in.fx, 0, in.cx, 0, in.fy, in.cy, 0, 0, 1};
  std::copy_n(kv, 9, k.mutable_data());
  d["K"] = k;
  py::array_t<double> pose({4, 4});
  const Mat4 rigid = NearestRigidMotion(f.cameraToWorld);
  std::copy_n(rigid.data(), 16, pose.mutable_data());
  d["pose"] = pose;
  d["baseline"] = f.baseline;
  d["focal_length"] = f.focalLength;
  d["noise"] = f.noiseSigma;
  return d;
}

// One Renderer: its options and, once used, its sessions (rendering
// contexts), kept from scene to scene.
class PyRenderer;

// The frames of one render(): `held` lives as long as the iterator does.
class PyRun {
 public:
  PyRun(std::shared_ptr<PyRenderer> owner, uint64_t generation, std::shared_ptr<const void> held)
      : owner_(std::move(owner)), generation_(generation), held_(std::move(held)) {}
  py::object Next();
  std::size_t FrameCount() const;

 private:
  std::shared_ptr<PyRenderer> owner_;
  uint64_t generation_;
  std::shared_ptr<const void> held_;
};

// One call into a renderer at a time. Every member of PyRenderer is used
// with the GIL held, except the MemoryRun while a call renders with the GIL
// released: `busy` marks that time, and is cleared with the GIL held again.
class BusyMark {
 public:
  explicit BusyMark(bool& busy) : busy_(busy) { busy_ = true; }
  ~BusyMark() { busy_ = false; }
  BusyMark(const BusyMark&) = delete;
  BusyMark& operator=(const BusyMark&) = delete;

 private:
  bool& busy_;
};

// The renderers alive in this process (used with the GIL held).
std::set<PyRenderer*>& LiveRenderers() {
  static std::set<PyRenderer*> live;
  return live;
}

class PyRenderer : public std::enable_shared_from_this<PyRenderer> {
 public:
  PyRenderer(int width, int height, std::string textures, std::array<int, 3> background, bool antialias, bool palette,
             std::vector<std::string> models) {
    options_.modelFolders = std::move(models);
    options_.width = width;
    options_.height = height;
    options_.textureFolder = std::move(textures);
    options_.background = background;
    options_.antiAlias = antialias;
    options_.palette = palette;
    options_.Check();
    LiveRenderers().insert(this);
  }
  ~PyRenderer() {
    LiveRenderers().erase(this);
    DropInherited();
  }
  PyRenderer(const PyRenderer&) = delete;
  PyRenderer& operator=(const PyRenderer&) = delete;

  // Before a fork: ends the rendering state when no call and no iterator
  // with frames left needs it, so that the process's EGL display can be
  // terminated and the child (and this process, later) make their own.
  void ReleaseForFork() {
    if (!run_ || process_ != getpid() || busy_ || (!ended_ && !held_.expired())) return;
    run_.reset();  // an ended iterator still ends; none other lives
  }

  PyRun Start(const std::string& text, const std::string& name, const std::string& camera, MemoryProducts products) {
    RefuseBusy();
    DropInherited();
    // Another thread's render() with frames left is that thread's: starting a
    // scene here would end it under that thread's loop.
    if (holder_ != std::this_thread::get_id() && !ended_ && !held_.expired())
      throw Error("this Renderer is in use by another thread, whose render() has frames left: a renderer serves one "
                  "thread at a time (make one in each thread, or end or drop that thread's render() first)");
    RunOptions options = options_;
    if (camera == "left") {
      options.cameras = CameraChoice::Left;
    } else if (camera == "right") {
      options.cameras = CameraChoice::Right;
    } else if (camera == "both") {
      options.cameras = CameraChoice::Both;
    } else {
      throw py::value_error("camera must be 'left', 'right' or 'both', not '" + camera + "'");
    }
    BusyMark busy(busy_);
    ++generation_;
    frameCount_ = 0;
    // The same cameras and products go on in the same run, whose rendering
    // contexts then serve the next scene too.
    if (run_ && (options.cameras != runCameras_ || products != wanted_)) run_.reset();
    notifier_.messages.clear();
    notifier_.Begin(name);
    SceneInput scene;
    scene.name = name;
    scene.bytes = text;
    wanted_ = products;
    if (!run_) {
      try {
        run_ = std::make_unique<MemoryRun>(options, products, notifier_, &notifier_);
      } catch (const Error& e) {
        throw py::value_error(e.message());
      }
      runCameras_ = options.cameras;
      process_ = getpid();
    }
    ended_ = false;
    try {
      py::gil_scoped_release release;
      run_->Open(scene);
    } catch (const Error& e) {
      // No context in a process forked while its parent's renderer needed its
      // own: the cause, besides the run's message.
      for (const std::string& message : notifier_.messages)
        if (message.find(kForkedDisplayText) != std::string::npos)
          throw Error(e.message() + ": " + kForkedDisplayText + " (before the fork, a render() there had frames "
                      "left or was rendering: end or drop it before forking, or render in a 'spawn' process)");
      throw;
    }
    frameCount_ = run_->FrameCount();
    holder_ = std::this_thread::get_id();
    auto held = std::make_shared<char>();
    held_ = held;
    return PyRun(shared_from_this(), generation_, std::move(held));
  }

  py::object NextOf(uint64_t generation) {
    RefuseBusy();
    if (run_ && process_ != getpid())
      throw Error("this render() began in the process this one was forked from, whose rendering state stays there: "
                  "call render() again in this process");
    if (generation != generation_)
      throw std::runtime_error("this run was replaced by a later render() of the same renderer");
    if (ended_) throw py::stop_iteration();
    if (!run_) throw std::runtime_error("this run was replaced by a later render() of the same renderer");
    BusyMark busy(busy_);
    auto frame = std::make_unique<MemoryFrame>();
    bool more = false;
    {
      py::gil_scoped_release release;
      more = run_->Next(*frame);
    }
    if (!more) {
      ended_ = true;
      throw py::stop_iteration();
    }
    py::dict out;
    out["frame"] = frame->frame;
    if (frame->left) out["left"] = CameraDict(*frame->left, wanted_, options_.palette);
    if (frame->right) out["right"] = CameraDict(*frame->right, wanted_, options_.palette);
    return out;
  }

  std::size_t FrameCount(uint64_t generation) const { return generation == generation_ ? frameCount_ : 0; }
  // The messages of the calls made so far; none while a call renders (that
  // call's thread takes them when it has ended).
  std::vector<std::string> TakeMessages() {
    if (busy_) return {};
    return std::exchange(notifier_.messages, {});
  }

 private:
  // Its sessions work on threads of their own (MemoryRun), so any thread may
  // use a renderer, one call at a time.
  // A rendering state made before this process was forked from its parent is
  // left as it is, never used nor destroyed: its threads stay in the parent.
  void DropInherited() {
    if (run_ && process_ != getpid()) {
      static_cast<void>(run_.release());
      ++generation_;
    }
  }

  void RefuseBusy() const {
    if (busy_)
      throw Error("this Renderer is rendering in another thread: a renderer serves one thread at a time (make "
                  "one in each thread)");
  }

  RunOptions options_;
  CollectingNotifier notifier_;
  std::unique_ptr<MemoryRun> run_;
  CameraChoice runCameras_ = CameraChoice::Both;
  bool ended_ = false;  // the current run has handed on its last frame
  MemoryProducts wanted_;
  uint64_t generation_ = 0;
  std::size_t frameCount_ = 0;  // of the current run
  bool busy_ = false;           // a call renders, the GIL released
  std::thread::id holder_;      // the thread of the current run's render()
  pid_t process_ = 0;           // the process that made run_
  std::weak_ptr<const void> held_;  // the current run's iterator, while it lives
};

// A camera image file as RGB (H, W, 3): an 8-bit RGB PNG or a BMP. With a
// size (width, height), a file of another size is refused from its header,
// before its pixels are decoded.
py::array_t<uint8_t> ReadRgb(const std::string& path, std::optional<std::pair<int, int>> size) {
  const auto H = [](int v) { return static_cast<py::ssize_t>(v); };
  HeaderSizeCheck check;
  if (size) {
    check = [&path, size](int width, int height) {
      if (width != size->first || height != size->second)
        throw Error("'" + path + "' is " + std::to_string(width) + "x" + std::to_string(height) + ", not " +
                    std::to_string(size->first) + "x" + std::to_string(size->second));
    };
  }
  if (path.size() >= 4 && path.compare(path.size() - 4, 4, ".png") == 0) {
    const PngImage png = ReadPng(path, check);
    if (png.channels != 3 || png.bitDepth != 8) throw Error("'" + path + "' is not an 8-bit RGB PNG");
    py::array_t<uint8_t> out({H(png.height), H(png.width), py::ssize_t{3}});
    std::transform(png.samples.begin(), png.samples.end(), out.mutable_data(),
                   [](uint16_t v) { return static_cast<uint8_t>(v); });
    return out;
  }
  const RgbPicture picture = LoadBmpTopLeft(path, kMaxPngSide, kMaxPngSide, nullptr, check);
  return ArrayOf(picture.rgb, {H(picture.height), H(picture.width), 3});
}

// One camera's ground truth of a sequence folder in any layout (the
// evaluator's reader): a frame's disparity (NaN where there is none) and its
// occlusion classes (None without masks), and the paths of its image pair.
class PyFolder {
 public:
  PyFolder(const std::string& directory, const std::string& camera)
      : data_(eval::Dataset::Open(directory, CameraOf(camera))) {}
  std::string Layout() const { return eval::LayoutName(data_.layout()); }
  std::vector<int> Frames() const { return data_.Frames(); }
  py::tuple Load(int frame) const {
    eval::GroundTruthFrame truth;
    {
      py::gil_scoped_release release;
      truth = data_.Load(frame);
    }
    const auto H = static_cast<py::ssize_t>(truth.disparity.height);
    const auto W = static_cast<py::ssize_t>(truth.disparity.width);
    py::object occlusion = py::none();
    if (!truth.occlusion.empty()) occlusion = ArrayOf(truth.occlusion, {H, W});
    return py::make_tuple(ArrayOf(truth.disparity.values, {H, W}), occlusion);
  }
  std::pair<std::string, std::string> ImagePair(int frame) const { return data_.ImagePair(frame); }
  // The frames with flow to the next frame, and one's flow (H, W, 2; NaN
  // where there is none) with its classes at the next frame (None without a
  // flow mask), read as the evaluator reads them.
  std::vector<int> FlowFrames() const {
    py::gil_scoped_release release;
    return eval::FlowFrames(data_);
  }
  py::tuple LoadFlow(int frame) const {
    eval::FlowGroundTruth truth;
    {
      py::gil_scoped_release release;
      truth = eval::LoadFlowGroundTruth(data_, frame, eval::FlowTask::Flow, nullptr);
    }
    const auto H = static_cast<py::ssize_t>(truth.flow.height);
    const auto W = static_cast<py::ssize_t>(truth.flow.width);
    std::vector<float> uv(truth.flow.u.size() * 2);
    for (std::size_t i = 0; i < truth.flow.u.size(); ++i) {
      uv[2 * i] = truth.flow.u[i];
      uv[2 * i + 1] = truth.flow.v[i];
    }
    py::object occlusion = py::none();
    if (!truth.occlusion.empty()) occlusion = ArrayOf(truth.occlusion, {H, W});
    return py::make_tuple(ArrayOf(uv, {H, W, 2}), occlusion);
  }

  static eval::Camera CameraOf(const std::string& camera) {
    if (camera == "left") return eval::Camera::Left;
    if (camera == "right") return eval::Camera::Right;
    throw py::value_error("camera must be 'left' or 'right', not '" + camera + "'");
  }

 private:
  eval::Dataset data_;
};

py::object PyRun::Next() { return owner_->NextOf(generation_); }
std::size_t PyRun::FrameCount() const { return owner_->FrameCount(generation_); }

}  // namespace
}  // namespace tovimar

PYBIND11_MODULE(_tovimar, m) {
  using namespace tovimar;
  m.doc() = "Tovimar's compiled core: exact stereo ground truth rendered in memory.";
  // Errors of the scene or the run, with the message the command line prints;
  // a byte of a path that is not UTF-8 shows as \xNN rather than failing to decode.
  static py::exception<Error> errorType(m, "Error", PyExc_RuntimeError);
  py::register_exception_translator([](std::exception_ptr thrown) {
    try {
      if (thrown) std::rethrow_exception(thrown);
    } catch (const Error& e) {
      const std::string& text = e.message();
      PyObject* message =
          PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "backslashreplace");
      PyErr_SetObject(errorType.ptr(), message);
      Py_XDECREF(message);
    }
  });
  // An internal check that fails raises instead of ending the interpreter.
  SetAssertionReporter([](const std::string& message) { throw Error("internal check failed: " + message); });
  // A failing internal check, for the tests that it raises.
  m.def("_fail_internal_check", [] { TOVIMAR_CHECK(false); });

  // A scene file's bytes, read as tovimar-render reads them: a regular file
  // of at most kMaxSceneFileBytes (a FIFO or device is refused unopened).
  // Registered with os.register_at_fork(before=...).
  m.def("_release_for_fork", [] {
    for (PyRenderer* renderer : LiveRenderers()) renderer->ReleaseForFork();
    return ReleaseEglDisplay();
  });

  m.def("read_scene_file", [](const std::string& path) {
    std::string bytes;
    {
      py::gil_scoped_release release;
      bytes = ReadFileBytes(path);
    }
    return py::bytes(bytes);
  }, py::arg("path"));

  m.def("scene_dump", [](const std::string& text, const std::string& name) {
    const Prefs prefs = EditorPrefs(kDefaultFocalLengthText, kDefaultBaselineText, '.');
    return SceneDumpJson(name, SplitLines(text), prefs, '.');
  });

  m.def("generate_scene", [](const std::vector<std::string>& args, int index) {
    scenegen::GeneratorOptions options;
    try {
      options = scenegen::ParseArguments(args);
    } catch (const scenegen::OptionError& e) {
      throw py::value_error(e.what());
    }
    if (index < 0 || index >= scenegen::kMaxSceneCount) throw py::value_error("index out of range");
    return scenegen::GenerateScene(options, index);
  });
  // The limits the package's argument checks name.
  m.attr("MAX_SCENE_COUNT") = scenegen::kMaxSceneCount;
  m.attr("MAX_FRAME_SIDE") = kMaxFrameSide;

  py::class_<MemoryProducts>(m, "Products")
      .def(py::init<>())
      .def_readwrite("image_clean", &MemoryProducts::cleanImage)
      .def_readwrite("depth", &MemoryProducts::depth)
      .def_readwrite("segmentation", &MemoryProducts::segmentation)
      .def_readwrite("mask", &MemoryProducts::masks)
      .def_readwrite("flow", &MemoryProducts::flow)
      .def_readwrite("ids16", &MemoryProducts::ids16);

  py::class_<PyRun>(m, "Run")
      .def("__iter__", [](PyRun& r) -> PyRun& { return r; })
      .def("__next__", &PyRun::Next)
      .def("__len__", &PyRun::FrameCount);

  // The evaluator's figures of a folder against predictions, as its --json
  // writes them.
  m.def("_evaluate", [](const std::string& truth, const std::string& predictions, const std::string& task,
                        const std::string& camera, const std::string& invalid, double scale) {
    eval::EvalOptions options;
    options.invalid = invalid == "exclude" ? eval::InvalidRule::Exclude : eval::InvalidRule::Fill;
    options.pngScale = scale;
    const eval::Camera which = PyFolder::CameraOf(camera);
    py::gil_scoped_release release;
    const eval::Dataset dataset = eval::Dataset::Open(truth, which);
    if (task == "stereo") return eval::ToJson(eval::Evaluate(dataset, predictions, options));
    return eval::FlowToJson(eval::EvaluateFlow(dataset, predictions,
                                               task == "flow" ? eval::FlowTask::Flow : eval::FlowTask::SceneFlow,
                                               options));
  });
  m.def("read_rgb", &ReadRgb, py::arg("path"), py::arg("size") = py::none());
  py::class_<PyFolder>(m, "Folder")
      .def(py::init<const std::string&, const std::string&>(), py::arg("directory"), py::arg("camera"))
      .def_property_readonly("layout", &PyFolder::Layout)
      .def_property_readonly("frames", &PyFolder::Frames)
      .def("load", &PyFolder::Load, py::arg("frame"))
      .def("image_pair", &PyFolder::ImagePair, py::arg("frame"))
      .def_property_readonly("flow_frames", &PyFolder::FlowFrames)
      .def("load_flow", &PyFolder::LoadFlow, py::arg("frame"));

  py::class_<PyRenderer, std::shared_ptr<PyRenderer>>(m, "Renderer")
      .def(py::init([](int width, int height, const std::string& textures, std::array<int, 3> background,
                       bool antialias, bool palette, const std::vector<std::string>& models) {
             try {
               return std::make_shared<PyRenderer>(width, height, textures, background, antialias, palette, models);
             } catch (const Error& e) {
               throw py::value_error(e.message());
             }
           }),
           py::arg("width"), py::arg("height"), py::arg("textures"), py::arg("background"), py::arg("antialias"),
           py::arg("palette"), py::arg("models"))
      .def("start", &PyRenderer::Start, py::arg("text"), py::arg("name"), py::arg("camera"), py::arg("products"))
      .def("take_messages", &PyRenderer::TakeMessages);
}
