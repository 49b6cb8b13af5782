#include "quality/snooping.h"

#include "estimation/chunks.h"
#include "quality/design_by_axis.h"
#include "quality/statistics.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

namespace sevenparam {

namespace {

using matrix7 = Eigen::Matrix<double, 7, 7>;

// A point's block and misclosure at the state's estimate, in its frame.
struct point_terms {
    design_block block;
    Eigen::Vector3d misclosure;
};

point_terms terms_of(const snooping_state& s, const design_by_axis& design,
                     const point_matrix& source, const point_matrix& target, Eigen::Index row)
{
    const Eigen::Vector3d p = (source.row(row) - s.frame_source).transpose();
    const Eigen::Vector3d q = (target.row(row) - s.frame_target).transpose();
    point_terms t;
    t.block = design.at(p);
    // The scale column is R p: the computed point is t + (1 + m) R p.
    t.misclosure = q - s.x.head<3>() - (1 + s.x(6)) * t.block.col(6);
    return t;
}

// One pass at the state's estimate: N, b and v'v, summed per chunk and then
// over the chunks in order, and the kept point whose largest v_k^2 / r_k
// is the largest (r_k from the state's cofactor matrix; the square of the figure
// without sigma), the first in input order on a tie.
void form_equations(snooping_state& s, const point_matrix& source, const point_matrix& target)
{
    struct partial {
        matrix7 normal = matrix7::Zero();
        parameter_vector right_side = parameter_vector::Zero();
        double squared = 0;
        std::size_t worst_row = 0;
        double worst = 0;
    };
    const design_by_axis design(s.model, s.x);
    const std::size_t rows = static_cast<std::size_t>(source.rows());
    std::vector<partial> partials(chunk_count(rows));
    // Row k of B_i is [e_k | c_k], so r_k = 1 - b_k Q b_k' takes the blocks
    // of Q: Q_tt(k, k) + 2 c_k Q_rt(:, k) + c_k Q_rr c_k'. The point's
    // figure without sigma is the largest |v_k| / sqrt(r_k); the search
    // compares v_k^2 / r_k, which orders the points alike.
    const Eigen::Vector3d q_tt = s.cofactor.diagonal().head<3>();
    const Eigen::Matrix<double, 4, 3> q_rt = s.cofactor.bottomLeftCorner<4, 3>();
    const Eigen::Matrix4d q_rr = s.cofactor.bottomRightCorner<4, 4>();
    for_each_chunk(rows, s.threads, [&](std::size_t chunk, std::size_t begin, std::size_t end) {
        // B_i = [I | C_i]: the translation block of N is the count times I.
        Eigen::Matrix<double, 3, 4> sum_c = Eigen::Matrix<double, 3, 4>::Zero();
        Eigen::Matrix4d sum_cc = Eigen::Matrix4d::Zero();
        Eigen::Vector3d sum_l = Eigen::Vector3d::Zero();
        Eigen::Vector4d sum_cl = Eigen::Vector4d::Zero();
        double count = 0, squared = 0;
        partial& p = partials[chunk];
        p.worst_row = rows;
        for (std::size_t i = begin; i < end; ++i) {
            if (!s.kept[i])
                continue;
            const point_terms t = terms_of(s, design, source, target, static_cast<Eigen::Index>(i));
            const Eigen::Matrix<double, 3, 4> c = t.block.rightCols<4>();
            sum_c += c;
            sum_cc.noalias() += c.transpose() * c;
            sum_l += t.misclosure;
            sum_cl.noalias() += c.transpose() * t.misclosure;
            squared += t.misclosure.squaredNorm();
            count += 1;
            for (int k = 0; k < 3; ++k) {
                const Eigen::RowVector4d ck = c.row(k);
                const double r =
                    1 - (q_tt(k) + 2 * ck.dot(q_rt.col(k)) + ck.dot(q_rr * ck.transpose()));
                if (!(r >= least_checked_redundancy))
                    continue;
                const double squared_figure = t.misclosure(k) * t.misclosure(k) / r;
                if (squared_figure > p.worst) {
                    p.worst = squared_figure;
                    p.worst_row = i;
                }
            }
        }
        p.normal.topLeftCorner<3, 3>() = count * Eigen::Matrix3d::Identity();
        p.normal.topRightCorner<3, 4>() = sum_c;
        p.normal.bottomLeftCorner<4, 3>() = sum_c.transpose();
        p.normal.bottomRightCorner<4, 4>() = sum_cc;
        p.right_side << sum_l, sum_cl;
        p.squared = squared;
    });
    s.normal.setZero();
    s.right_side.setZero();
    s.squared_residuals = 0;
    s.worst_row = rows;
    s.worst = 0;
    for (const partial& p : partials) {
        s.normal += p.normal;
        s.right_side += p.right_side;
        s.squared_residuals += p.squared;
        if (p.worst > s.worst) {
            s.worst = p.worst;
            s.worst_row = p.worst_row;
        }
    }
}

// N^-1 through the unit-diagonal form of N, as the adjustment inverts it.
cofactor_matrix invert(const matrix7& normal)
{
    const parameter_vector diagonal = normal.diagonal();
    if (!(normal.allFinite() && diagonal.minCoeff() > 0))
        throw estimation_error("data snooping: the normal matrix of the points left is singular");
    const parameter_vector scale = diagonal.cwiseSqrt().cwiseInverse();
    const matrix7 unit_diagonal = scale.asDiagonal() * normal * scale.asDiagonal();
    const Eigen::SelfAdjointEigenSolver<matrix7> eigen(unit_diagonal, Eigen::EigenvaluesOnly);
    const Eigen::LLT<matrix7> cholesky(unit_diagonal);
    if (!(eigen.eigenvalues()(0) / eigen.eigenvalues()(6) >= min_reciprocal_condition) ||
        cholesky.info() != Eigen::Success)
        throw estimation_error("data snooping: the points left are coincident or collinear "
                               "(their normal matrix is rank-deficient)");
    return scale.asDiagonal() * cholesky.solve(matrix7::Identity()) * scale.asDiagonal();
}

// Gauss-Newton passes from the state's estimate, each forming N, b, v'v and
// the worst point there (with the cofactor matrix at hand), until the
// correction is at the stopping threshold; then Q = N^-1 of the last pass.
void settle(snooping_state& s, const point_matrix& source, const point_matrix& target)
{
    const stopping_rule rule;
    for (int pass = 0; pass < rule.max_iterations; ++pass) {
        form_equations(s, source, target);
        s.cofactor = invert(s.normal);
        const parameter_vector correction = s.cofactor * s.right_side;
        const double measure = correction.cwiseAbs().sum();
        if (!std::isfinite(measure))
            break;
        // Already at the estimate to rounding when the measure is at the
        // threshold: the correction is kept, and N, b, v'v and the worst
        // point stay those of the pass (as the adjustment's cofactor is that
        // of its last linearisation).
        s.x += correction;
        if (measure <= s.tolerance)
            return;
    }
    throw estimation_error("data snooping: the adjustment of the points left does not settle");
}

} // namespace

snooping_state start_snooping(const point_matrix& source, const point_matrix& target,
                              const std::vector<char>& kept, const adjustment_result& adjusted,
                              rotation_model model, unsigned threads)
{
    snooping_state s;
    s.model = model;
    s.threads = threads;
    s.kept = kept;
    s.points = static_cast<std::size_t>(std::count(kept.begin(), kept.end(), 1));
    s.frame_source = adjusted.ave_src;
    s.frame_target = adjusted.ave_tar;
    s.x = adjusted.args;
    // The stopping rule's noise floor for coordinates of this size.
    const stopping_rule rule;
    double largest = 0;
    if (source.rows() > 0)
        largest = std::max((source.rowwise() - s.frame_source).cwiseAbs().maxCoeff(),
                           (target.rowwise() - s.frame_target).cwiseAbs().maxCoeff());
    s.tolerance = std::max(rule.threshold, rule.stall_factor * (1 + largest));
    s.cofactor = adjusted.cofactor;
    settle(s, source, target);
    return s;
}

void remove_point(snooping_state& s, const point_matrix& source, const point_matrix& target,
                  std::size_t row)
{
    const design_by_axis design(s.model, s.x);
    const point_terms t = terms_of(s, design, source, target, static_cast<Eigen::Index>(row));
    s.kept[row] = 0;
    --s.points;
    s.normal.noalias() -= t.block.transpose() * t.block;
    s.right_side.noalias() -= t.block.transpose() * t.misclosure;
    s.cofactor = invert(s.normal);
    s.x += s.cofactor * s.right_side;
    settle(s, source, target);
}

double snooping_sigma0(const snooping_state& s)
{
    return std::sqrt(s.squared_residuals / static_cast<double>(3 * s.points - 7));
}

Eigen::Vector3d snooping_residual(const snooping_state& s, const point_matrix& source,
                                  const point_matrix& target, std::size_t row)
{
    const design_by_axis design(s.model, s.x);
    return terms_of(s, design, source, target, static_cast<Eigen::Index>(row)).misclosure;
}

largest_figure_point largest_figure(const snooping_state& s, const point_matrix& source,
                                    const point_matrix& target, double sigma)
{
    const std::size_t rows = static_cast<std::size_t>(source.rows());
    if (s.worst_row >= rows)
        return {rows, 0.0};
    // The worst point of the last pass, its figure taken anew at the
    // estimate with this sigma.
    const design_by_axis design(s.model, s.x);
    const point_terms t =
        terms_of(s, design, source, target, static_cast<Eigen::Index>(s.worst_row));
    return {s.worst_row,
            point_figure(residual_cofactor_block(t.block, s.cofactor), t.misclosure, sigma)};
}

} // namespace sevenparam
