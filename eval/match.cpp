#include "eval/match.h"

#include <cmath>
#include <filesystem>
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

// Matches one frame and writes its prediction; returns what went wrong, or "".
std::string MatchFrame(const Dataset& dataset, int frame, Matcher matcher, bool right,
                       const std::string& predictionDir) {
  const auto [leftPath, rightPath] = dataset.ImagePair(frame);
  cv::Mat leftImage = cv::imread(leftPath, cv::IMREAD_COLOR), rightImage = cv::imread(rightPath, cv::IMREAD_COLOR);
  if (leftImage.empty() || rightImage.empty())
    return "cannot read '" + (leftImage.empty() ? leftPath : rightPath) + "'";
  if (leftImage.size() != rightImage.size()) return "'" + rightPath + "' differs in size from '" + leftPath + "'";
  if (leftImage.cols < kBlockSize || leftImage.rows < kBlockSize)
    return "the images are " + std::to_string(leftImage.cols) + "x" + std::to_string(leftImage.rows) +
           ", smaller than the matcher's " + std::to_string(kBlockSize) + "x" + std::to_string(kBlockSize) + " blocks";
  cv::Mat fixedPoint;
  if (right) {
    cv::Mat mirroredLeft, mirroredRight;
    cv::flip(rightImage, mirroredLeft, 1);
    cv::flip(leftImage, mirroredRight, 1);
    cv::flip(Disparity(mirroredLeft, mirroredRight, matcher, dataset.NumDisparities(frame)), fixedPoint, 1);
  } else {
    fixedPoint = Disparity(leftImage, rightImage, matcher, dataset.NumDisparities(frame));
  }
  std::vector<float> values(static_cast<std::size_t>(fixedPoint.rows) * static_cast<std::size_t>(fixedPoint.cols));
  for (int y = 0; y < fixedPoint.rows; ++y) {
    const int16_t* row = fixedPoint.ptr<int16_t>(y);
    for (int x = 0; x < fixedPoint.cols; ++x) {
      values[static_cast<std::size_t>(y) * static_cast<std::size_t>(fixedPoint.cols) + static_cast<std::size_t>(x)] =
          row[x] > 0 ? static_cast<float>(row[x]) / 16.0f : std::numeric_limits<float>::quiet_NaN();
    }
  }
  WritePfm((std::filesystem::path(predictionDir) / ("pred_" + FrameNumber(frame) + ".pfm")).string(), values.data(),
           fixedPoint.cols, fixedPoint.rows, 1);
  return {};
}

}  // namespace

std::vector<std::string> MatchFlowSequence(const Dataset& dataset, FlowMatcher matcher,
                                           const std::string& predictionDir) {
  std::error_code ec;
  std::filesystem::create_directories(predictionDir, ec);
  if (ec) throw Error("Cannot create directory " + predictionDir + ": " + ec.message());
  const bool right = dataset.camera() == Camera::Right;
  std::vector<std::string> failures;
  for (int frame : FlowFrames(dataset)) {
    try {
      const auto image = [&](int f) {
        const auto pair = dataset.ImagePair(f);
        const std::string& path = right ? pair.second : pair.first;
        cv::Mat grey = cv::imread(path, cv::IMREAD_GRAYSCALE);
        if (grey.empty()) throw Error("cannot read '" + path + "'");
        return grey;
      };
      const cv::Mat from = image(frame), to = image(frame + 1);
      if (from.size() != to.size()) throw Error("the images of frames " + std::to_string(frame) + " and " +
                                                std::to_string(frame + 1) + " differ in size");
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
      const std::string bytes = FloBytes(out);
      WriteWholeFile((std::filesystem::path(predictionDir) / ("flow_" + FrameNumber(frame) + ".flo")).string(),
                     bytes.data(), bytes.size());
    } catch (const std::bad_alloc&) {
      failures.push_back("frame " + std::to_string(frame) + ": out of memory while matching");
    } catch (const std::exception& e) {
      failures.push_back("frame " + std::to_string(frame) + ": " + e.what());
    }
  }
  return failures;
}

std::vector<std::string> MatchSequence(const Dataset& dataset, Matcher matcher, const std::string& predictionDir) {
  std::error_code ec;
  std::filesystem::create_directories(predictionDir, ec);
  if (ec) throw Error("Cannot create directory " + predictionDir + ": " + ec.message());
  const bool right = dataset.camera() == Camera::Right;
  std::vector<std::string> failures;
  for (int frame : dataset.Frames()) {
    // One frame's failure (an unreadable image, OpenCV refusing a size or a
    // header) is named, and the other frames are matched.
    try {
      const std::string failure = MatchFrame(dataset, frame, matcher, right, predictionDir);
      if (!failure.empty()) failures.push_back("frame " + std::to_string(frame) + ": " + failure);
    } catch (const std::bad_alloc&) {
      failures.push_back("frame " + std::to_string(frame) + ": out of memory while matching");
    } catch (const std::exception& e) {
      failures.push_back("frame " + std::to_string(frame) + ": " + e.what());
    }
  }
  return failures;
}

}  // namespace tovimar::eval
