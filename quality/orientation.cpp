#include "quality/orientation.h"

#include <Eigen/SVD>

namespace sevenparam {

namespace {

// Above this share of sum |t_i|^2 the gain of a reflection is no rounding.
constexpr double rounding_share = 1e-12;
// The proper fit must leave more than (1 + this) times the mirrored one's v'v.
constexpr double worse_by = 3;

} // namespace

bool target_mirrored(const point_matrix& source, const point_matrix& target)
{
    if (source.rows() < 3 || source.rows() != target.rows())
        return false;
    const point_matrix s = source.rowwise() - source.colwise().mean();
    const point_matrix t = target.rowwise() - target.colwise().mean();
    const Eigen::Matrix3d h = t.transpose() * s;
    const Eigen::JacobiSVD<Eigen::Matrix3d> svd(h, Eigen::ComputeFullU | Eigen::ComputeFullV);
    const Eigen::Matrix3d u = svd.matrixU(), v = svd.matrixV();
    if (!((u * v.transpose()).determinant() < 0))
        return false;
    const Eigen::Vector3d d = svd.singularValues();
    const double source_squares = s.squaredNorm();
    if (!(source_squares > 0))
        return false;
    const double gain = 4 * d(2) * (d(0) + d(1)) / source_squares;
    if (!(gain > rounding_share * t.squaredNorm()))
        return false;
    // The mirrored fit t = c Q s, with c = (d1 + d2 + d3) / sum |s_i|^2.
    const Eigen::Matrix3d q = u * v.transpose();
    const double c = d.sum() / source_squares;
    const double mirrored_squares = (t - c * s * q.transpose()).squaredNorm();
    return gain > worse_by * mirrored_squares;
}

} // namespace sevenparam
