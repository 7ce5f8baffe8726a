// Rigid fit: the rotation and translation (no scale) that best carry one set of points onto
// another, by the SVD of their cross-covariance with the reflection removed. The calibration
// program fits the tracker's frame to the plate's with it.
#include <Eigen/Dense>

#include <cmath>
#include <cstring>

#include "vr.h"

namespace {

using Points = Eigen::Matrix<double, Eigen::Dynamic, 3>;

// A set whose second-largest spread is below this share of its largest one lies on a line (or
// in a point) as far as a rotation about that line is concerned: the fit would be arbitrary.
// (A micrometre across a metre: far below any tracker's resolution, far above rounding.)
constexpr double collinear_ratio = 1e-6;

Points to_rows(int n, const dpt *pts) {
  Points p(n, 3);
  for (int i = 0; i < n; ++i) {
    for (int c = 0; c < 3; ++c) p(i, c) = pts[i][c];
  }
  return p;
}

bool all_finite(int n, const dpt *pts) {
  for (int i = 0; i < n; ++i) {
    for (int c = 0; c < 3; ++c) {
      if (!std::isfinite(pts[i][c])) return false;
    }
  }
  return true;
}

// Whether centred points span at least a plane. The singular values of their 3 x 3 scatter
// matrix are the squares of the points' spreads; one small decomposition serves both this test
// and the fit, which keeps the library quick to build.
bool spans_plane(const Points &centred) {
  const Eigen::Matrix3d scatter = centred.transpose() * centred;
  const Eigen::JacobiSVD<Eigen::Matrix3d> svd(scatter);
  const Eigen::Vector3d s = svd.singularValues();
  return s(0) > 0.0 && s(1) > collinear_ratio * collinear_ratio * s(0);
}

}  // namespace

extern "C" {

VR_API vr_fit_result vr_rigid_fit(int n, const dpt *from_pts, const dpt *to_pts, dmat out,
                                  double *rms, double *worst) {
  if (from_pts == nullptr || to_pts == nullptr || out == nullptr) return VR_FIT_NULL;
  if (n < 3) return VR_FIT_TOO_FEW;
  if (!all_finite(n, from_pts) || !all_finite(n, to_pts)) return VR_FIT_NOT_FINITE;

  const Points from = to_rows(n, from_pts);
  const Points to = to_rows(n, to_pts);
  const Eigen::RowVector3d from_mean = from.colwise().mean();
  const Eigen::RowVector3d to_mean = to.colwise().mean();
  const Points a = from.rowwise() - from_mean;
  const Points b = to.rowwise() - to_mean;
  if (!spans_plane(a) || !spans_plane(b)) return VR_FIT_COLLINEAR;

  // With row vectors, to = from x R + t. The cross-covariance a^T b = U S V^T gives R = U V^T;
  // a mirror image (det -1) is turned into the nearest rotation by flipping the axis of the
  // smallest singular value.
  const Eigen::Matrix3d h = a.transpose() * b;
  const Eigen::JacobiSVD<Eigen::Matrix3d> svd(h, Eigen::ComputeFullU | Eigen::ComputeFullV);
  Eigen::Matrix3d flip = Eigen::Matrix3d::Identity();
  if ((svd.matrixU() * svd.matrixV().transpose()).determinant() < 0.0) flip(2, 2) = -1.0;
  const Eigen::Matrix3d r = svd.matrixU() * flip * svd.matrixV().transpose();
  const Eigen::RowVector3d t = to_mean - from_mean * r;

  const Points moved = (from * r).rowwise() + t;
  const Eigen::VectorXd miss = (moved - to).rowwise().norm();
  if (!std::isfinite(miss.sum())) return VR_FIT_NOT_FINITE;  // overflow of huge coordinates

  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) out[i][j] = r(i, j);
    out[i][3] = 0.0;
    out[3][i] = t(i);
  }
  out[3][3] = 1.0;
  if (rms != nullptr) *rms = std::sqrt(miss.squaredNorm() / n);
  if (worst != nullptr) *worst = miss.maxCoeff();
  return VR_FIT_OK;
}

}  // extern "C"
