#pragma once
#include "scene/matrix.h"

namespace tovimar {

// Solves A x = b (A N x N, b and x N x 1) by Gaussian elimination with scaled
// partial pivoting. A and b are copied. Returns the determinant of A; when it
// is 0.0 or NaN, x is left as passed.
double SolveLinearSystem(Matrix A, Matrix b, Matrix& x);

}  // namespace tovimar
