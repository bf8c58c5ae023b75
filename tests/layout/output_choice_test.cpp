// The --outputs list and the layout names, both ways.
#include <gtest/gtest.h>

#include <string>

#include "base/error.h"
#include "layout/output_choice.h"

namespace tovimar {
namespace {

TEST(OutputList, NamesLayoutsAndErrors) {
  const OutputChoice c = ParseOutputList("pfm,kitti,masks,png");
  EXPECT_FALSE(c.classic);
  EXPECT_TRUE(c.pfm && c.kitti && c.masks && c.png);
  EXPECT_FALSE(c.depth || c.flow);
  EXPECT_EQ(OutputListText(c), "pfm,kitti,png,masks");
  EXPECT_TRUE(ParseOutputList("classic").classic);
  EXPECT_EQ(ParseLayout("kitti"), DatasetLayout::Kitti);
  try {
    ParseOutputList("pfm,,png");
    FAIL();
  } catch (const Error& e) {
    EXPECT_NE(e.message().find("empty output name"), std::string::npos);
  }
  try {
    ParseOutputList("pfm,dpeth");
    FAIL();
  } catch (const Error& e) {
    EXPECT_NE(e.message().find("unknown output 'dpeth'"), std::string::npos);
    EXPECT_NE(e.message().find("depth"), std::string::npos) << "lists the known names";
  }
  EXPECT_THROW(ParseLayout("Middlebury"), Error);
}

}  // namespace
}  // namespace tovimar
