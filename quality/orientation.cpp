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
    return target_mirrored(source, target, std::vector<char>());
}

bool target_mirrored(const point_matrix& source, const point_matrix& target,
                     const std::vector<char>& kept)
{
    if (source.rows() != target.rows() ||
        (!kept.empty() && kept.size() != static_cast<std::size_t>(source.rows())))
        return false;
    const auto counts = [&](Eigen::Index i) {
        return kept.empty() || kept[static_cast<std::size_t>(i)] != 0;
    };
    // Sums over the rows that count, in row order, on the rows in place.
    Eigen::Index points = 0;
    Eigen::RowVector3d source_sum = Eigen::RowVector3d::Zero();
    Eigen::RowVector3d target_sum = Eigen::RowVector3d::Zero();
    for (Eigen::Index i = 0; i < source.rows(); ++i)
        if (counts(i)) {
            ++points;
            source_sum += source.row(i);
            target_sum += target.row(i);
        }
    if (points < 3)
        return false;
    const Eigen::RowVector3d source_mean = source_sum / static_cast<double>(points);
    const Eigen::RowVector3d target_mean = target_sum / static_cast<double>(points);
    Eigen::Matrix3d h = Eigen::Matrix3d::Zero();
    double source_squares = 0;
    double target_squares = 0;
    for (Eigen::Index i = 0; i < source.rows(); ++i)
        if (counts(i)) {
            const Eigen::Vector3d s = (source.row(i) - source_mean).transpose();
            const Eigen::Vector3d t = (target.row(i) - target_mean).transpose();
            h.noalias() += t * s.transpose();
            source_squares += s.squaredNorm();
            target_squares += t.squaredNorm();
        }
    const Eigen::JacobiSVD<Eigen::Matrix3d> svd(h, Eigen::ComputeFullU | Eigen::ComputeFullV);
    const Eigen::Matrix3d u = svd.matrixU(), v = svd.matrixV();
    if (!((u * v.transpose()).determinant() < 0))
        return false;
    const Eigen::Vector3d d = svd.singularValues();
    if (!(source_squares > 0))
        return false;
    const double gain = 4 * d(2) * (d(0) + d(1)) / source_squares;
    if (!(gain > rounding_share * target_squares))
        return false;
    // The mirrored fit t = c Q s, with c = (d1 + d2 + d3) / sum |s_i|^2.
    const Eigen::Matrix3d q = u * v.transpose();
    const double c = d.sum() / source_squares;
    double mirrored_squares = 0;
    for (Eigen::Index i = 0; i < source.rows(); ++i)
        if (counts(i)) {
            const Eigen::Vector3d s = (source.row(i) - source_mean).transpose();
            const Eigen::Vector3d t = (target.row(i) - target_mean).transpose();
            mirrored_squares += (t - c * q * s).squaredNorm();
        }
    return gain > worse_by * mirrored_squares;
}

} // namespace sevenparam
