#include "eval/match.h"

#include <cmath>
#include <filesystem>
#include <functional>
#include <limits>
#include <new>
#include <opencv2/calib3d.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/video/tracking.hpp>

#include "base/error.h"
#include "eval/flow.h"
#include "io/file.h"
#include "io/pfm.h"
#include "layout/file_names.h"

namespace tovimar::eval {

namespace {

constexpr int kBlockSize = 5;

cv::Mat Disparity(const cv::Mat& left, const cv::Mat& right, Matcher matcher, int numDisparities) {
  cv::Mat fixedPoint;
  if (matcher == Matcher::Sgbm) {
    const int area = kBlockSize * kBlockSize;
    auto sgbm = cv::StereoSGBM::create(0, numDisparities, kBlockSize, 8 * 3 * area, 32 * 3 * area);
    sgbm->setMode(cv::StereoSGBM::MODE_SGBM);
    sgbm->compute(left, right, fixedPoint);
  } else {
    cv::Mat greyLeft, greyRight;
    cv::cvtColor(left, greyLeft, cv::COLOR_BGR2GRAY);
    cv::cvtColor(right, greyRight, cv::COLOR_BGR2GRAY);
    auto bm = cv::StereoBM::create(numDisparities, kBlockSize);
    bm->compute(greyLeft, greyRight, fixedPoint);
  }
  return fixedPoint;  // CV_16S, 16 * d; negative where there is no match
}

// One frame's disparity from the camera's image pair, NaN where the matcher
// found no match. Throws Error naming what went wrong.
DisparityMap MatchDisparity(const Dataset& dataset, int frame, Matcher matcher) {
  const auto [leftPath, rightPath] = dataset.ImagePair(frame);
  cv::Mat leftImage = cv::imread(leftPath, cv::IMREAD_COLOR), rightImage = cv::imread(rightPath, cv::IMREAD_COLOR);
  if (leftImage.empty() || rightImage.empty())
    throw Error("cannot read '" + (leftImage.empty() ? leftPath : rightPath) + "'");
  if (leftImage.size() != rightImage.size())
    throw Error("'" + rightPath + "' differs in size from '" + leftPath + "'");
  if (leftImage.cols < kBlockSize || leftImage.rows < kBlockSize)
    throw Error("the images are " + std::to_string(leftImage.cols) + "x" + std::to_string(leftImage.rows) +
                ", smaller than the matcher's " + std::to_string(kBlockSize) + "x" + std::to_string(kBlockSize) +
                " blocks");
  cv::Mat fixedPoint;
  if (dataset.camera() == Camera::Right) {
    cv::Mat mirroredLeft, mirroredRight;
    cv::flip(rightImage, mirroredLeft, 1);
    cv::flip(leftImage, mirroredRight, 1);
    cv::flip(Disparity(mirroredLeft, mirroredRight, matcher, dataset.NumDisparities(frame)), fixedPoint, 1);
  } else {
    fixedPoint = Disparity(leftImage, rightImage, matcher, dataset.NumDisparities(frame));
  }
  DisparityMap out{fixedPoint.cols, fixedPoint.rows, {}};
  out.values.reserve(static_cast<std::size_t>(fixedPoint.rows) * static_cast<std::size_t>(fixedPoint.cols));
  for (int y = 0; y < fixedPoint.rows; ++y) {
    const int16_t* row = fixedPoint.ptr<int16_t>(y);
    for (int x = 0; x < fixedPoint.cols; ++x)
      out.values.push_back(row[x] > 0 ? static_cast<float>(row[x]) / 16.0f : std::numeric_limits<float>::quiet_NaN());
  }
  return out;
}

// One frame's flow to the next from the camera's grey images.
FlowMap MatchFlow(const Dataset& dataset, int frame, FlowMatcher matcher) {
  const auto image = [&](int f) {
    const auto pair = dataset.ImagePair(f);
    const std::string& path = dataset.camera() == Camera::Right ? pair.second : pair.first;
    cv::Mat grey = cv::imread(path, cv::IMREAD_GRAYSCALE);
    if (grey.empty()) throw Error("cannot read '" + path + "'");
    return grey;
  };
  const cv::Mat from = image(frame), to = image(frame + 1);
  if (from.size() != to.size())
    throw Error("the images of frames " + std::to_string(frame) + " and " + std::to_string(frame + 1) +
                " differ in size");
  cv::Mat flow;
  if (matcher == FlowMatcher::Dis) {
    cv::DISOpticalFlow::create(cv::DISOpticalFlow::PRESET_MEDIUM)->calc(from, to, flow);
  } else {
    cv::calcOpticalFlowFarneback(from, to, flow, 0.5, 3, 15, 3, 5, 1.2, 0);
  }
  FlowMap out{flow.cols, flow.rows, {}, {}};
  for (int y = 0; y < flow.rows; ++y) {
    const cv::Vec2f* row = flow.ptr<cv::Vec2f>(y);
    for (int x = 0; x < flow.cols; ++x) {
      out.u.push_back(row[x][0]);
      out.v.push_back(row[x][1]);
    }
  }
  return out;
}

std::string Named(const std::string& folder, const std::string& prefix, int frame, const char* extension) {
  return (std::filesystem::path(folder) / (prefix + FrameNumber(frame) + extension)).string();
}

void WriteDisparity(const std::string& path, const DisparityMap& map) {
  WritePfm(path, map.values.data(), map.width, map.height, 1);
}

void WriteFlow(const std::string& path, const FlowMap& flow) {
  const std::string bytes = FloBytes(flow);
  WriteWholeFile(path, bytes.data(), bytes.size());
}

void MakeFolder(const std::string& folder) {
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) throw Error("Cannot create directory " + folder + ": " + ec.message());
}

// Runs matchOne on every frame. One frame's failure (an unreadable image,
// OpenCV refusing a size or a header) is named, and the other frames are
// matched; returns the failures.
std::vector<std::string> EveryFrame(const std::vector<int>& frames, const std::function<void(int)>& matchOne) {
  std::vector<std::string> failures;
  for (int frame : frames) {
    try {
      matchOne(frame);
    } catch (const std::bad_alloc&) {
      failures.push_back("frame " + std::to_string(frame) + ": out of memory while matching");
    } catch (const std::exception& e) {
      failures.push_back("frame " + std::to_string(frame) + ": " + e.what());
    }
  }
  return failures;
}

}  // namespace

DisparityMap DisparityAlongFlow(const DisparityMap& next, const FlowMap& flow) {
  DisparityMap out{flow.width, flow.height, std::vector<float>(flow.u.size(), std::numeric_limits<float>::quiet_NaN())};
  for (int y = 0; y < flow.height; ++y) {
    for (int x = 0; x < flow.width; ++x) {
      const std::size_t i = static_cast<std::size_t>(y) * static_cast<std::size_t>(flow.width) +
                            static_cast<std::size_t>(x);
      const double toX = std::round(x + static_cast<double>(flow.u[i]));
      const double toY = std::round(y + static_cast<double>(flow.v[i]));
      // (NaN fails both tests too.)
      if (!(toX >= 0 && toX < next.width && toY >= 0 && toY < next.height)) continue;
      out.values[i] = next.values[static_cast<std::size_t>(toY) * static_cast<std::size_t>(next.width) +
                                  static_cast<std::size_t>(toX)];
    }
  }
  return out;
}

std::vector<std::string> MatchSequence(const Dataset& dataset, Matcher matcher, const std::string& predictionDir) {
  MakeFolder(predictionDir);
  return EveryFrame(dataset.Frames(), [&](int frame) {
    WriteDisparity(Named(predictionDir, "pred_", frame, ".pfm"), MatchDisparity(dataset, frame, matcher));
  });
}

std::vector<std::string> MatchFlowSequence(const Dataset& dataset, FlowMatcher matcher,
                                           const std::string& predictionDir) {
  MakeFolder(predictionDir);
  return EveryFrame(FlowFrames(dataset), [&](int frame) {
    WriteFlow(Named(predictionDir, "flow_", frame, ".flo"), MatchFlow(dataset, frame, matcher));
  });
}

std::vector<std::string> MatchSceneFlowSequence(const Dataset& dataset, Matcher matcher, FlowMatcher flowMatcher,
                                                const std::string& predictionDir) {
  const std::filesystem::path root(predictionDir);
  const std::string flowDir = (root / "flow").string(), disp0Dir = (root / "disp_0").string(),
                    disp1Dir = (root / "disp_1").string();
  for (const std::string& folder : {flowDir, disp0Dir, disp1Dir}) MakeFolder(folder);
  // Frame t + 1's disparity serves frame t's disp_1 and, kept, frame t + 1's disp_0.
  int keptFrame = -1;
  DisparityMap kept;
  return EveryFrame(FlowFrames(dataset), [&](int frame) {
    const DisparityMap now = keptFrame == frame ? std::move(kept) : MatchDisparity(dataset, frame, matcher);
    keptFrame = -1;
    DisparityMap next = MatchDisparity(dataset, frame + 1, matcher);
    const FlowMap flow = MatchFlow(dataset, frame, flowMatcher);
    WriteFlow(Named(flowDir, "flow_", frame, ".flo"), flow);
    WriteDisparity(Named(disp0Dir, "pred_", frame, ".pfm"), now);
    WriteDisparity(Named(disp1Dir, "pred_", frame, ".pfm"), DisparityAlongFlow(next, flow));
    kept = std::move(next);
    keptFrame = frame + 1;
  });
}

}  // namespace tovimar::eval
