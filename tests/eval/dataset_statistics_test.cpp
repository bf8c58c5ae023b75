// The card's histogram bins: widths that keep at most the asked number of
// bins, and 1-px counts summed into them with the overflow in the last.
#include <gtest/gtest.h>

#include "eval/dataset_statistics.h"

namespace tovimar::eval {
namespace {

TEST(DatasetStatistics, BinWidthIsThePowerOfTwoThatKeepsTheBinsFew) {
  const struct {
    double largest;
    int maxBins, width;
  } cases[] = {{0, 16, 1}, {15.9, 16, 1}, {16, 16, 2}, {31.5, 16, 2}, {32, 16, 4}, {300, 16, 32}, {1e6, 16, 1024}};
  for (const auto& c : cases) EXPECT_EQ(HistogramBinWidth(c.largest, c.maxBins), c.width) << c.largest;
}

TEST(DatasetStatistics, MergedBinsKeepEveryCountAndPutTheRestInTheLast) {
  std::vector<uint64_t> onePixel(kHistogramPixels + 1, 0);
  onePixel[0] = 1, onePixel[3] = 2, onePixel[4] = 4, onePixel[9] = 8, onePixel[kHistogramPixels] = 16;
  EXPECT_EQ(MergeBins(onePixel, 4, 3), (std::vector<uint64_t>{3, 4, 24}));
  EXPECT_EQ(MergeBins(onePixel, 1, 5), (std::vector<uint64_t>{1, 0, 0, 2, 28}));
}

}  // namespace
}  // namespace tovimar::eval
