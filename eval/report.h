#pragma once
// An evaluation's outputs: the terminal table, JSON, CSV, per-frame error
// pictures and the plot of EPE and bad-2 over the sequence.
#include <ostream>
#include <string>

#include "eval/evaluate.h"

namespace tovimar::eval {

void PrintTable(const EvalResult& result, std::ostream& out);

// {"frames": [{"frame": N, "regions": {"all": {"epe": ..., ...}, ...}} or
// {"frame": N, "error": "..."}], "total": {"regions": {...}}, "notes": [...],
// "warnings": [...]}. Percentages 0..100, errors in pixels, null for a
// figure without pixels.
std::string ToJson(const EvalResult& result);

// One row per frame and region, then the "total" rows.
std::string ToCsv(const EvalResult& result);

// The error picture of a frame (RGB PNG): the error relative to 3 px or 5%
// of the true disparity, whichever is larger, coloured from blue (small)
// through white (at 1/2 of either) to red; at 1 it is a D1 outlier. Black
// where there is no ground truth, grey where the prediction was excluded.
void WriteErrorPicture(const FrameResult& frame, const std::string& path);

// KITTI's error colour (RGB into rgb[0..2]) of an error relative to its
// outlier threshold: blue below 1/16 through white to red past 16.
void KittiErrorColour(double relative, uint8_t* rgb);

// EPE (blue, left axis) and bad-2 (red, right axis) of each evaluated frame.
void WritePlot(const EvalResult& result, const std::string& path);
// The same of any figures: each point's frame, EPE and a percentage named
// by percentLabel (right axis).
struct PlotPoint {
  int frame = 0;
  double epe = 0, percent = 0;
};
void WritePlot(const std::vector<PlotPoint>& points, const std::string& percentLabel, const std::string& path);

}  // namespace tovimar::eval
