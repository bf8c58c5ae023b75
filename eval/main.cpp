// tovimar-eval: measures predicted disparities against generated ground truth.
#include <iostream>

#include "eval/tool.h"

int main(int argc, char** argv) {
  return tovimar::eval::RunEvalTool(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
