#include "eval/report.h"

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>

#include "eval/format.h"
#include "io/png.h"
#include "layout/file_names.h"

namespace tovimar::eval {

namespace {

struct Field {
  const char* name;
  double RegionMetrics::*member;
};
constexpr Field kFields[] = {
    {"epe", &RegionMetrics::epe},   {"rmse", &RegionMetrics::rmse}, {"bad0.5", &RegionMetrics::bad05},
    {"bad1", &RegionMetrics::bad1}, {"bad2", &RegionMetrics::bad2}, {"bad4", &RegionMetrics::bad4},
    {"d1", &RegionMetrics::d1},     {"a50", &RegionMetrics::a50},   {"a90", &RegionMetrics::a90},
    {"a95", &RegionMetrics::a95},   {"a99", &RegionMetrics::a99},   {"density", &RegionMetrics::density},
};

std::string JsonRegions(const RegionList& regions) {
  std::string out = "{";
  for (std::size_t r = 0; r < regions.size(); ++r) {
    if (r) out += ", ";
    out += JsonString(regions[r].first);
    out += ": {";
    for (const Field& f : kFields) {
      out += '"';
      out += f.name;
      out += "\": ";
      out += JsonNumber(regions[r].second.*f.member);
      out += ", ";
    }
    out += "\"pixels\": ";
    out += std::to_string(regions[r].second.pixels);
    out += '}';
  }
  return out + "}";
}

std::string JsonList(const std::vector<std::string>& items) {
  std::string out = "[";
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i) out += ", ";
    out += JsonString(items[i]);
  }
  return out + "]";
}

std::string Pad(std::string s, std::size_t width) {
  if (s.size() < width) s.insert(0, width - s.size(), ' ');
  return s;
}

// A table column: right-aligned in width characters, and at least one space
// from the column before (a value wider than its column pushes the row on).
std::string Column(std::string s, std::size_t width) {
  s.insert(0, s.size() < width ? width - s.size() : 1, ' ');
  return s;
}

const RegionMetrics* Find(const RegionList& regions, const std::string& name) {
  for (const auto& [n, m] : regions) {
    if (n == name) return &m;
  }
  return nullptr;
}

// Colours of the relative error, from blue to red (upper bounds of each band).
struct Band {
  double upTo;
  uint8_t r, g, b;
};
constexpr Band kBands[] = {{0.0625, 49, 54, 149},  {0.125, 69, 117, 180}, {0.25, 116, 173, 209},
                           {0.5, 171, 217, 233},   {1, 224, 243, 248},    {2, 254, 224, 144},
                           {4, 253, 174, 97},      {8, 244, 109, 67},     {16, 215, 48, 39},
                           {INFINITY, 165, 0, 38}};

void WriteMatAsPng(const cv::Mat& bgr, const std::string& path) {
  std::vector<uint8_t> rgb(static_cast<std::size_t>(bgr.cols) * static_cast<std::size_t>(bgr.rows) * 3);
  for (int y = 0; y < bgr.rows; ++y) {
    const uint8_t* p = bgr.ptr<uint8_t>(y);
    uint8_t* q = rgb.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(bgr.cols) * 3;
    for (int x = 0; x < bgr.cols; ++x) {
      q[3 * x] = p[3 * x + 2];
      q[3 * x + 1] = p[3 * x + 1];
      q[3 * x + 2] = p[3 * x];
    }
  }
  WritePng8(path, rgb.data(), bgr.cols, bgr.rows, 3);
}

}  // namespace

void PrintTable(const EvalResult& result, std::ostream& out) {
  out << "frame      EPE     RMSE   bad-2%     D1%      A90  density%    pixels\n";
  for (const FrameResult& f : result.frames) {
    const std::string name = Pad(FrameNumber(f.frame), 5);
    if (!f.error.empty()) {
      out << name << "  not evaluated: " << f.error << "\n";
      continue;
    }
    const RegionMetrics* m = Find(f.regions, "all");
    if (m == nullptr) continue;
    out << name << Column(Fixed(m->epe, 3), 9) << Column(Fixed(m->rmse, 3), 9) << Column(Fixed(m->bad2, 2), 9)
        << Column(Fixed(m->d1, 2), 8) << Column(Fixed(m->a90, 3), 9) << Column(Fixed(m->density, 2), 10)
        << Column(std::to_string(m->pixels), 10) << "\n";
  }
  out << "\nsequence total\nregion            EPE    RMSE  bad0.5%  bad1%  bad2%  bad4%    D1%     A50     A90     A95"
         "     A99 density%     pixels\n";
  for (const auto& [name, m] : result.total) {
    std::string label = name;
    label.resize(std::max<std::size_t>(label.size(), 13), ' ');
    out << label << Column(Fixed(m.epe, 3), 8) << Column(Fixed(m.rmse, 3), 8) << Column(Fixed(m.bad05, 2), 9)
        << Column(Fixed(m.bad1, 2), 7) << Column(Fixed(m.bad2, 2), 7) << Column(Fixed(m.bad4, 2), 7)
        << Column(Fixed(m.d1, 2), 7) << Column(Fixed(m.a50, 3), 8) << Column(Fixed(m.a90, 3), 8)
        << Column(Fixed(m.a95, 3), 8) << Column(Fixed(m.a99, 3), 8) << Column(Fixed(m.density, 2), 9)
        << Column(std::to_string(m.pixels), 11) << "\n";
  }
  for (const std::string& n : result.notes) out << "note: " << n << "\n";
  for (const std::string& w : result.warnings) out << "warning: " << w << "\n";
}

std::string ToJson(const EvalResult& result) {
  std::string out = "{\"frames\": [";
  for (std::size_t i = 0; i < result.frames.size(); ++i) {
    const FrameResult& f = result.frames[i];
    out += i ? ",\n  {\"frame\": " : "\n  {\"frame\": ";
    out += std::to_string(f.frame);
    out += f.error.empty() ? ", \"regions\": " : ", \"error\": ";
    out += f.error.empty() ? JsonRegions(f.regions) : JsonString(f.error);
    out += '}';
  }
  out += "],\n \"total\": {\"regions\": ";
  out += JsonRegions(result.total);
  out += "},\n \"notes\": ";
  out += JsonList(result.notes);
  out += ",\n \"warnings\": ";
  out += JsonList(result.warnings);
  out += "}\n";
  return out;
}

std::string ToCsv(const EvalResult& result) {
  std::string out = "frame,region";
  for (const Field& f : kFields) {
    out += ',';
    out += f.name;
  }
  out += ",pixels\n";
  const auto rows = [&out](const std::string& frame, const RegionList& regions) {
    for (const auto& [name, m] : regions) {
      out += frame;
      out += ',';
      out += name;
      for (const Field& f : kFields) {
        out += ',';
        out += JsonNumber(m.*f.member);
      }
      out += ',';
      out += std::to_string(m.pixels);
      out += '\n';
    }
  };
  for (const FrameResult& f : result.frames) {
    if (f.error.empty()) rows(std::to_string(f.frame), f.regions);
  }
  rows("total", result.total);
  return out;
}

void WriteErrorPicture(const FrameResult& frame, const std::string& path) {
  std::vector<uint8_t> rgb(frame.errors.size() * 3, 0);
  for (std::size_t i = 0; i < frame.errors.size(); ++i) {
    const float e = frame.errors[i];
    uint8_t* p = &rgb[3 * i];
    if (std::isnan(e)) continue;  // no ground truth: black
    if (e < 0) {                  // excluded prediction
      p[0] = p[1] = p[2] = 128;
      continue;
    }
    KittiErrorColour(std::min(e / 3.0, e / (0.05 * frame.truth[i])), p);
  }
  WritePng8(path, rgb.data(), frame.width, frame.height, 3);
}

void KittiErrorColour(double relative, uint8_t* rgb) {
  for (const Band& b : kBands) {
    if (relative < b.upTo) {
      rgb[0] = b.r;
      rgb[1] = b.g;
      rgb[2] = b.b;
      return;
    }
  }
}

void WritePlot(const EvalResult& result, const std::string& path) {
  std::vector<PlotPoint> points;
  for (const FrameResult& f : result.frames) {
    if (const RegionMetrics* m = f.error.empty() ? Find(f.regions, "all") : nullptr)
      points.push_back({f.frame, m->epe, m->bad2});
  }
  WritePlot(points, "bad-2 (%)", path);
}

void WritePlot(const std::vector<PlotPoint>& points, const std::string& percentLabel, const std::string& path) {
  const int width = 800, height = 400, left = 70, right = 70, top = 30, bottom = 50;
  cv::Mat plot(height, width, CV_8UC3, cv::Scalar(255, 255, 255));
  double maxEpe = 0;
  for (const PlotPoint& p : points) {
    if (std::isfinite(p.epe)) maxEpe = std::max(maxEpe, p.epe);
  }
  maxEpe = maxEpe > 0 ? maxEpe * 1.1 : 1;
  const int firstFrame = points.empty() ? 0 : points.front().frame;
  const int lastFrame = points.empty() ? 1 : std::max(points.back().frame, firstFrame + 1);
  const auto px = [&](int frame) {  // in 64 bits: frame numbers may lie far apart
    return left + static_cast<int>(int64_t{width - left - right} * (int64_t{frame} - firstFrame) /
                                   (int64_t{lastFrame} - firstFrame));
  };
  const auto py = [&](double v, double max) {
    return top + static_cast<int>(std::lround((height - top - bottom) * (1 - std::clamp(v / max, 0.0, 1.0))));
  };
  const cv::Scalar black(0, 0, 0), blue(200, 80, 0), red(30, 30, 210), grid(225, 225, 225);
  const auto text = [&plot](const std::string& s, int x, int y, const cv::Scalar& colour) {
    cv::putText(plot, s, cv::Point(x, y), cv::FONT_HERSHEY_SIMPLEX, 0.4, colour, 1, cv::LINE_AA);
  };
  for (int i = 0; i <= 4; ++i) {
    const int y = py(i / 4.0, 1.0);
    cv::line(plot, {left, y}, {width - right, y}, grid, 1);
    text(Fixed(maxEpe * i / 4, 2), 10, y + 4, blue);
    text(Fixed(25.0 * i, 0) + "%", width - right + 8, y + 4, red);
  }
  cv::rectangle(plot, {left, top}, {width - right, height - bottom}, black, 1);
  text(std::to_string(firstFrame), left - 4, height - bottom + 18, black);
  text(std::to_string(lastFrame), width - right - 12, height - bottom + 18, black);
  text("frame", width / 2 - 20, height - 12, black);
  text("EPE (px)", 10, 18, blue);
  text(percentLabel, width - right - 10, 18, red);
  for (std::size_t i = 0; i < points.size(); ++i) {
    const PlotPoint& p = points[i];
    const cv::Point e(px(p.frame), py(p.epe, maxEpe)), b(px(p.frame), py(p.percent, 100));
    cv::circle(plot, e, 2, blue, cv::FILLED);
    cv::circle(plot, b, 2, red, cv::FILLED);
    if (i > 0) {
      const PlotPoint& before = points[i - 1];
      cv::line(plot, {px(before.frame), py(before.epe, maxEpe)}, e, blue, 1, cv::LINE_AA);
      cv::line(plot, {px(before.frame), py(before.percent, 100)}, b, red, 1, cv::LINE_AA);
    }
  }
  WriteMatAsPng(plot, path);
}

}  // namespace tovimar::eval
