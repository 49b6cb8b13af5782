#include "quality/gauss_helmert.h"

#include "estimation/chunks.h"
#include "quality/design_by_axis.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

namespace sevenparam {

namespace {

using matrix7 = Eigen::Matrix<double, 7, 7>;

// A covariance matrix whose entries differ from their mirror images by more
// than this share of its largest entry is not symmetric.
constexpr double symmetry_tolerance = 1e-12;

estimation_error bad_covariance(const char* role, std::size_t row, const char* what)
{
    return estimation_error("the covariance of " + std::string(role) + " point " +
                            std::to_string(row + 1) + " is " + what);
}

// The determinant of a symmetric 3 x 3 matrix, from its lower triangle.
double lower_determinant(const Eigen::Matrix3d& c)
{
    return c(0, 0) * (c(1, 1) * c(2, 2) - c(2, 1) * c(2, 1)) -
           c(1, 0) * (c(1, 0) * c(2, 2) - c(2, 1) * c(2, 0)) +
           c(2, 0) * (c(1, 0) * c(2, 1) - c(1, 1) * c(2, 0));
}

// A quick sufficient test, on the lower triangle of a symmetric 3 x 3
// matrix, that its smallest eigenvalue exceeds `ratio` times its largest:
// true only where the eigenvalues the solver computes (to within a few
// rounding errors of the matrix's norm) would say so too, so that the
// solver is needed only where this says no. A diagonal matrix is judged
// by its diagonal; any other is positive definite by its leading minors,
// kept well clear of their rounding errors, and then its smallest
// eigenvalue is at least det / |c|_F^2.
bool surely_definite(const Eigen::Matrix3d& c, double ratio)
{
    if (c(1, 0) == 0 && c(2, 0) == 0 && c(2, 1) == 0) {
        const double least = std::min({c(0, 0), c(1, 1), c(2, 2)});
        const double most = std::max({c(0, 0), c(1, 1), c(2, 2)});
        return ratio == 0 ? least >= 0 : least > 2 * ratio * most;
    }
    constexpr double margin = 1e-10; // far above the minors' rounding errors
    const double norm2 = c(0, 0) * c(0, 0) + c(1, 1) * c(1, 1) + c(2, 2) * c(2, 2) +
                         2 * (c(1, 0) * c(1, 0) + c(2, 0) * c(2, 0) + c(2, 1) * c(2, 1));
    const double norm = std::sqrt(norm2);
    const double minor2 = c(0, 0) * c(1, 1) - c(1, 0) * c(1, 0);
    return c(0, 0) > 0 && minor2 > margin * norm2 &&
           lower_determinant(c) > std::max(margin, 2 * ratio) * norm2 * norm;
}

// Why covariance `c` is refused, or null when it is not.
const char* covariance_fault(const Eigen::Matrix3d& c)
{
    if (!c.allFinite())
        return "not finite";
    const double largest = c.cwiseAbs().maxCoeff();
    if ((c - c.transpose()).cwiseAbs().maxCoeff() > symmetry_tolerance * largest)
        return "not symmetric";
    // A zero variance (an error-free coordinate or direction) is allowed; a
    // negative one is not.
    if (surely_definite(c, 0))
        return nullptr;
    const Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> eigen(c, Eigen::EigenvaluesOnly);
    if (eigen.eigenvalues()(0) < -symmetry_tolerance * largest)
        return "not positive semi-definite";
    return nullptr;
}

// The first point, in order, for which fault(i) is true, or `points` when
// none: judged by the fixed chunks on `threads` threads.
template <typename fault_of>
std::size_t first_fault(std::size_t points, unsigned threads, const fault_of& fault)
{
    std::vector<std::size_t> first(std::max<std::size_t>(1, chunk_count(points)), points);
    for_each_chunk(points, threads, [&](std::size_t chunk, std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i)
            if (fault(i)) {
                first[chunk] = i;
                return;
            }
    });
    for (const std::size_t i : first)
        if (i < points)
            return i;
    return points;
}

} // namespace

void require_covariances(const std::vector<Eigen::Matrix3d>& covariance, Eigen::Index points,
                         const char* role, unsigned threads)
{
    if (covariance.empty())
        return;
    if (covariance.size() != static_cast<std::size_t>(points))
        throw estimation_error(std::to_string(covariance.size()) + " " + role +
                               " covariances for " + std::to_string(points) + " points");
    const std::size_t bad = first_fault(covariance.size(), threads, [&](std::size_t i) {
        return covariance_fault(covariance[i]) != nullptr;
    });
    if (bad < covariance.size())
        throw bad_covariance(role, bad, covariance_fault(covariance[bad]));
}

namespace {

void require_weights(const std::vector<double>& weight, Eigen::Index points)
{
    if (weight.empty())
        return;
    if (weight.size() != static_cast<std::size_t>(points))
        throw estimation_error(std::to_string(weight.size()) + " point weights for " +
                               std::to_string(points) + " points");
    for (std::size_t i = 0; i < weight.size(); ++i)
        if (!(std::isfinite(weight[i]) && weight[i] >= 0))
            throw estimation_error(
                "the weight of point " + std::to_string(i + 1) +
                " is not a finite number of at least 0: " + message_number(weight[i]));
}

// The estimate as the loop corrects it: the seven parameters for the
// linearised model; for the exact one the translations, the scale and the
// rotation matrix R, turned by each correction's small angles, R <- R(d) R,
// as estimate_similarity's loop does (correction_design_block terms).
struct estimate_state {
    rotation_model model = rotation_model::linearised;
    parameter_vector x = parameter_vector::Zero();
    Eigen::Matrix3d r = Eigen::Matrix3d::Identity(); // the exact model's R

    parameter_vector args() const
    {
        if (model == rotation_model::linearised)
            return x;
        parameter_vector a = x;
        a.segment<3>(3) = exact_rotation_angles(r);
        return a;
    }
    void correct(const parameter_vector& dx)
    {
        if (model == rotation_model::linearised) {
            x += dx;
            return;
        }
        x.head<3>() += dx.head<3>();
        x(6) += dx(6);
        r = rotation_matrix(rotation_model::exact, dx(3), dx(4), dx(5)) * r;
    }
};

// The model at one estimate, for a pass over the points: J = (1 + m) R, the
// design blocks (correction terms) by axis, and the transformation of a
// centred source point.
struct linearisation {
    rotation_model model;
    parameter_vector args;
    Eigen::Matrix3d rotation;
    Eigen::Matrix3d jacobian;
    design_by_axis design;

    explicit linearisation(const estimate_state& state)
        : model(state.model), args(state.args()),
          rotation(state.model == rotation_model::linearised
                       ? rotation_matrix(state.model, args(3), args(4), args(5))
                       : state.r),
          jacobian((1 + args(6)) * rotation), design(state.model, args, design_terms::corrections)
    {
    }
    Eigen::Vector3d transform(const Eigen::Vector3d& p) const
    {
        if (model == rotation_model::linearised)
            return transform_point(p(0), p(1), p(2), args).transpose();
        return args.head<3>() + jacobian * p;
    }
};

// The inputs of the adjustment, centred, with the covariances of each point.
struct problem {
    point_matrix source, target; // centred
    const std::vector<Eigen::Matrix3d>& source_covariance;
    const std::vector<Eigen::Matrix3d>& target_covariance;
    const std::vector<double>& weight;

    double weight_of(Eigen::Index i) const
    {
        return weight.empty() ? 1.0 : weight[static_cast<std::size_t>(i)];
    }
    // C_i = St_i + J Ss_i J' (the identity when neither system has any).
    Eigen::Matrix3d misclosure_cofactor(Eigen::Index i, const Eigen::Matrix3d& j) const
    {
        const auto k = static_cast<std::size_t>(i);
        if (source_covariance.empty() && target_covariance.empty())
            return Eigen::Matrix3d::Identity();
        Eigen::Matrix3d c = Eigen::Matrix3d::Zero();
        if (!target_covariance.empty())
            c += target_covariance[k];
        if (!source_covariance.empty())
            c += j * source_covariance[k] * j.transpose();
        return c;
    }
};

// One pass's sums over a chunk of points.
struct pass_sums {
    matrix7 normal = matrix7::Zero();
    parameter_vector right_side = parameter_vector::Zero();
    double vpv = 0;
    double squared_misclosures = 0;
};

// Sums the chunks' partial results in chunk order.
pass_sums total_of(const std::vector<pass_sums>& partials)
{
    pass_sums total = partials[0];
    for (std::size_t chunk = 1; chunk < partials.size(); ++chunk) {
        total.normal += partials[chunk].normal;
        total.right_side += partials[chunk].right_side;
        total.vpv += partials[chunk].vpv;
        total.squared_misclosures += partials[chunk].squared_misclosures;
    }
    return total;
}

// The normal equations sum B_i' W_i B_i dp = sum B_i' W_i l_i at `at`, with
// B_i at the adjusted source point a_i and l_i = y_i - T(x_i) (the model is
// linear in the point, so T(a_i) + J (x_i - a_i) = T(x_i)).
pass_sums form_normal_equations(const problem& p, const linearisation& at,
                                const std::vector<Eigen::Vector3d>& adjusted_source,
                                unsigned threads)
{
    const auto points = static_cast<std::size_t>(p.source.rows());
    std::vector<pass_sums> partials(std::max<std::size_t>(1, chunk_count(points)));
    for_each_chunk(points, threads, [&](std::size_t chunk, std::size_t begin, std::size_t end) {
        pass_sums& sum = partials[chunk];
        for (auto i = static_cast<Eigen::Index>(begin); i < static_cast<Eigen::Index>(end); ++i) {
            const Eigen::Vector3d l =
                p.target.row(i).transpose() - at.transform(p.source.row(i).transpose());
            const design_block b = at.design.at(adjusted_source[static_cast<std::size_t>(i)]);
            const Eigen::Matrix<double, 7, 3> bw =
                b.transpose() * (p.weight_of(i) * p.misclosure_cofactor(i, at.jacobian).inverse());
            sum.normal.noalias() += bw * b;
            sum.right_side.noalias() += bw * l;
        }
    });
    return total_of(partials);
}

// The adjusted source points after the correction dp of the linearisation
// `at`: e_i = l_i - B_i dp, v_s = -Ss_i J' C_i^-1 e_i, a_i = x_i - v_s.
void update_adjusted_source(const problem& p, const linearisation& at, const parameter_vector& dp,
                            std::vector<Eigen::Vector3d>& adjusted_source, unsigned threads)
{
    const auto points = static_cast<std::size_t>(p.source.rows());
    for_each_chunk(points, threads, [&](std::size_t, std::size_t begin, std::size_t end) {
        for (auto i = static_cast<Eigen::Index>(begin); i < static_cast<Eigen::Index>(end); ++i) {
            const auto k = static_cast<std::size_t>(i);
            const Eigen::Vector3d x = p.source.row(i).transpose();
            const Eigen::Vector3d e = p.target.row(i).transpose() - at.transform(x) -
                                      at.design.at(adjusted_source[k]) * dp;
            const Eigen::Vector3d u = p.misclosure_cofactor(i, at.jacobian).inverse() * e;
            adjusted_source[k] = x + p.source_covariance[k] * at.jacobian.transpose() * u;
        }
    });
}

} // namespace

gauss_helmert_result adjust_gauss_helmert(const point_matrix& source, const point_matrix& target,
                                          const std::vector<Eigen::Matrix3d>& source_covariance,
                                          const std::vector<Eigen::Matrix3d>& target_covariance,
                                          const std::vector<double>& point_weight,
                                          rotation_model model, unsigned threads)
{
    require_covariances(source_covariance, source.rows(), "source", threads);
    require_covariances(target_covariance, target.rows(), "target", threads);
    require_weights(point_weight, source.rows());
    // The start, and the input checks and centroids of the unit-weight fit.
    const adjustment_result start = estimate_similarity(source, target, model, {}, threads);

    gauss_helmert_result out;
    adjustment_result& result = out.result;
    result.ave_src = start.ave_src;
    result.ave_tar = start.ave_tar;
    const problem p{source.rowwise() - start.ave_src, target.rowwise() - start.ave_tar,
                    source_covariance, target_covariance, point_weight};
    const auto points = static_cast<std::size_t>(source.rows());

    estimate_state state;
    state.model = model;
    state.x = start.args;
    if (model == rotation_model::exact)
        state.r = rotation_matrix(model, start.args(3), start.args(4), start.args(5));
    // Each misclosure needs a variance in every direction.
    const Eigen::Matrix3d start_jacobian =
        (1 + start.args(6)) * rotation_matrix(model, start.args(3), start.args(4), start.args(5));
    const std::size_t without_error = first_fault(points, threads, [&](std::size_t k) {
        const Eigen::Matrix3d c =
            p.misclosure_cofactor(static_cast<Eigen::Index>(k), start_jacobian);
        if (surely_definite(c, symmetry_tolerance))
            return false;
        const Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> eigen(c, Eigen::EigenvaluesOnly);
        return !(eigen.eigenvalues()(0) > symmetry_tolerance * eigen.eigenvalues()(2));
    });
    if (without_error < points)
        throw estimation_error("the covariances of point " + std::to_string(without_error + 1) +
                               " leave a direction without error in both systems");
    std::vector<Eigen::Vector3d> adjusted_source(points);
    for (std::size_t k = 0; k < points; ++k)
        adjusted_source[k] = p.source.row(static_cast<Eigen::Index>(k)).transpose();

    // The stopping rule of estimate_similarity, on the parameter corrections.
    const stopping_rule rule;
    const double noise_floor = rule.stall_factor * (1 + std::max(p.source.cwiseAbs().maxCoeff(),
                                                                 p.target.cwiseAbs().maxCoeff()));
    double measure = std::numeric_limits<double>::infinity();
    double lowest = measure;
    int without_new_lowest = 0;
    int iteration = 0;
    result.loop_started = std::chrono::steady_clock::now();
    while (measure > rule.threshold) {
        if (iteration == rule.max_iterations)
            throw estimation_error("no convergence after " + std::to_string(iteration) +
                                   " iterations (last convergence measure " +
                                   message_number(measure) + ")");
        const linearisation at(state);
        const pass_sums sums = form_normal_equations(p, at, adjusted_source, threads);
        double reciprocal_condition = 0;
        const cofactor_matrix q = invert_normal_matrix(sums.normal, reciprocal_condition);
        const parameter_vector dp = q * sums.right_side;
        if (!source_covariance.empty())
            update_adjusted_source(p, at, dp, adjusted_source, threads);
        state.correct(dp);
        ++iteration;
        measure = dp.cwiseAbs().sum();
        if (!std::isfinite(measure))
            throw estimation_error("the adjustment diverged after " + std::to_string(iteration) +
                                   " iterations");
        if (measure < lowest) {
            lowest = measure;
            without_new_lowest = 0;
        } else if (++without_new_lowest >= rule.stall_iterations && lowest < noise_floor) {
            break;
        }
    }

    // The solution: residuals from the final parameters, and the normal
    // matrix at them with the blocks at the adjusted source points.
    const linearisation at(state);
    result.residuals.resize(3 * source.rows());
    out.adjusted.resize(points);
    out.misclosure_covariance.resize(points);
    std::vector<pass_sums> partials(std::max<std::size_t>(1, chunk_count(points)));
    for_each_chunk(points, threads, [&](std::size_t chunk, std::size_t begin, std::size_t end) {
        pass_sums& sum = partials[chunk];
        for (auto i = static_cast<Eigen::Index>(begin); i < static_cast<Eigen::Index>(end); ++i) {
            const auto k = static_cast<std::size_t>(i);
            const Eigen::Vector3d x = p.source.row(i).transpose();
            const Eigen::Vector3d l = p.target.row(i).transpose() - at.transform(x);
            const Eigen::Matrix3d c = p.misclosure_cofactor(i, at.jacobian);
            const Eigen::Matrix3d c_inverse = c.inverse();
            const Eigen::Vector3d u = c_inverse * l;
            adjusted_point& a = out.adjusted[k];
            if (!source_covariance.empty())
                a.source_residual_m = -(source_covariance[k] * at.jacobian.transpose() * u);
            if (!target_covariance.empty())
                a.target_residual_m = target_covariance[k] * u;
            else if (source_covariance.empty())
                a.target_residual_m = l;
            a.source_m = source.row(i).transpose() - a.source_residual_m;
            a.target_m = target.row(i).transpose() - a.target_residual_m;
            const double w = p.weight_of(i);
            out.misclosure_covariance[k] =
                w > 0 ? Eigen::Matrix3d(c / w)
                      : Eigen::Matrix3d::Constant(std::numeric_limits<double>::infinity());
            const design_block b = at.design.at(x - a.source_residual_m);
            const Eigen::Matrix<double, 7, 3> bw = b.transpose() * (w * c_inverse);
            sum.normal.noalias() += bw * b;
            sum.vpv += w * l.dot(u);
            sum.squared_misclosures += l.squaredNorm();
            result.residuals.segment<3>(3 * i) = l;
        }
    });
    const pass_sums total = total_of(partials);
    const cofactor_matrix q = invert_normal_matrix(total.normal, result.reciprocal_condition);
    result.args = at.args;
    result.iterations = static_cast<std::size_t>(iteration);
    result.last_measure = measure;
    result.correction_cofactor = q;
    result.cofactor = model == rotation_model::linearised ? q : exact_args_cofactor(at.args, q);
    result.sigma0 = std::sqrt(total.squared_misclosures / 2);
    result.sigmax = result.sigma0 * result.cofactor.diagonal().cwiseSqrt();
    out.vpv = total.vpv;
    return out;
}

Eigen::Matrix3d misclosure_residual_covariance(const gauss_helmert_result& adjustment,
                                               const design_by_axis& design, std::size_t i)
{
    const adjustment_result& r = adjustment.result;
    const Eigen::Vector3d centred = adjustment.adjusted[i].source_m - r.ave_src.transpose();
    const design_block b = design.at(centred);
    return adjustment.misclosure_covariance[i] - b * r.correction_cofactor * b.transpose();
}

namespace {

// Helmert's equations of the two variance components (see
// estimate_variance_components) at one adjustment, g and h each the source
// (0) or the target (1), V_g,i the scaled J Ss_i J' or St_i:
//     H_gh = tr(M V_g M V_h),   q_g = e' M V_g M e = sum u_i' V_g,i u_i,
// M = W - W B Q B' W the 3n x 3n matrix W Q_ee W, whose off-diagonal blocks
// make the trace a sum over point pairs; expanded, it is formed point by point:
//     tr(M V_g M V_h) = sum tr(W V_g W V_h) - 2 tr(Q K_gh) + tr(Q G_g Q G_h),
//     K_gh = sum B' W V_g W V_h W B,   G_g = sum B' W V_g W B.
// The row sums of H are the systems' shares of the redundancy,
// r_g = tr(V_g M).
struct helmert_equations {
    Eigen::Matrix2d h = Eigen::Matrix2d::Zero();
    Eigen::Vector2d q = Eigen::Vector2d::Zero();
};

struct helmert_sums {
    Eigen::Matrix2d trace = Eigen::Matrix2d::Zero();
    matrix7 k[2][2] = {{matrix7::Zero(), matrix7::Zero()}, {matrix7::Zero(), matrix7::Zero()}};
    matrix7 g[2] = {matrix7::Zero(), matrix7::Zero()};
    Eigen::Vector2d q = Eigen::Vector2d::Zero();
};

helmert_equations helmert_equations_of(const gauss_helmert_result& adjustment, rotation_model model,
                                       const std::vector<Eigen::Matrix3d>& source_covariance,
                                       const std::vector<Eigen::Matrix3d>& target_covariance,
                                       unsigned threads)
{
    const adjustment_result& r = adjustment.result;
    const parameter_vector& args = r.args;
    const Eigen::Matrix3d j = (1 + args(6)) * rotation_matrix(model, args(3), args(4), args(5));
    const design_by_axis design(model, args, design_terms::corrections);
    const std::size_t points = adjustment.adjusted.size();
    std::vector<helmert_sums> partials(std::max<std::size_t>(1, chunk_count(points)));
    for_each_chunk(points, threads, [&](std::size_t chunk, std::size_t begin, std::size_t end) {
        helmert_sums& sum = partials[chunk];
        for (std::size_t i = begin; i < end; ++i) {
            const Eigen::Matrix3d w = adjustment.misclosure_covariance[i].inverse();
            const Eigen::Vector3d u = w * r.residuals.segment<3>(3 * static_cast<Eigen::Index>(i));
            const design_block b =
                design.at(adjustment.adjusted[i].source_m - r.ave_src.transpose());
            const Eigen::Matrix<double, 7, 3> bw = b.transpose() * w;
            const Eigen::Matrix3d v[2] = {j * source_covariance[i] * j.transpose(),
                                          target_covariance[i]};
            const Eigen::Matrix3d wv[2] = {w * v[0], w * v[1]};
            for (int g = 0; g < 2; ++g) {
                sum.q(g) += u.dot(v[g] * u);
                sum.g[g].noalias() += bw * v[g] * bw.transpose();
                for (int h = 0; h < 2; ++h) {
                    sum.trace(g, h) += (wv[g] * wv[h]).trace();
                    sum.k[g][h].noalias() += bw * v[g] * wv[h] * bw.transpose();
                }
            }
        }
    });
    helmert_sums total = partials[0];
    for (std::size_t chunk = 1; chunk < partials.size(); ++chunk) {
        const helmert_sums& part = partials[chunk];
        total.trace += part.trace;
        total.q += part.q;
        for (int g = 0; g < 2; ++g) {
            total.g[g] += part.g[g];
            for (int h = 0; h < 2; ++h)
                total.k[g][h] += part.k[g][h];
        }
    }
    const cofactor_matrix& q = r.correction_cofactor;
    helmert_equations equations;
    equations.q = total.q;
    for (int g = 0; g < 2; ++g)
        for (int h = 0; h < 2; ++h)
            equations.h(g, h) = total.trace(g, h) - 2 * (q * total.k[g][h]).trace() +
                                (q * total.g[g] * q * total.g[h]).trace();
    return equations;
}

constexpr double settled_ratio = 1e-8;
constexpr int most_variance_rounds = 100;
constexpr double least_step = 1.0 / 64;
constexpr double least_separation = 1e-6;
constexpr double least_share = 1e-9;

} // namespace

variance_component_fit
estimate_variance_components(const point_matrix& source, const point_matrix& target,
                             const std::vector<Eigen::Matrix3d>& source_covariance,
                             const std::vector<Eigen::Matrix3d>& target_covariance,
                             rotation_model model, unsigned threads)
{
    if (source_covariance.empty() || target_covariance.empty())
        throw estimation_error("variance components need the precisions of both systems; the " +
                               std::string(source_covariance.empty() ? "source" : "target") +
                               " points have none");
    variance_component_fit fit;
    fit.source_covariance = source_covariance;
    fit.target_covariance = target_covariance;
    variance_component_estimate& estimate = fit.estimate;
    const double redundancy = 3.0 * static_cast<double>(source.rows()) - 7;
    double step = 1;
    Eigen::Vector2d last_log_ratio = Eigen::Vector2d::Zero();
    for (int round = 0;; ++round) {
        fit.adjustment = adjust_gauss_helmert(source, target, fit.source_covariance,
                                              fit.target_covariance, {}, model, threads);
        if (round == 0)
            estimate.sigma0_before = std::sqrt(fit.adjustment.vpv / redundancy);
        const helmert_equations e = helmert_equations_of(
            fit.adjustment, model, fit.source_covariance, fit.target_covariance, threads);
        const Eigen::Vector2d share = e.h.rowwise().sum(); // of the redundancy
        const auto require_share = [&](double value, const char* what, const char* system) {
            if (!(value >= least_share * redundancy))
                throw estimation_error("the variance factor of the " + std::string(system) +
                                       " points cannot be estimated: their share of " + what +
                                       " is " + message_number(value));
        };
        require_share(share(0), "the redundancy", "source");
        require_share(share(1), "the redundancy", "target");
        // The residuals may leave one system nothing: its factor then falls
        // towards zero round by round, and no estimate of it exists.
        const auto require_residual_share = [&](double value, const char* system, double factor) {
            if (!(value >= least_share * redundancy))
                throw estimation_error(
                    "the variance factor of the " + std::string(system) +
                    " points cannot be estimated: it falls towards zero (" +
                    message_number(factor) + " after " + std::to_string(estimate.iterations) +
                    " rounds), the residuals leaving their precisions no share of v'Pv");
        };
        require_residual_share(e.q(0), "source", estimate.source_factor);
        require_residual_share(e.q(1), "target", estimate.target_factor);
        // Covariances of the same shape in both systems at every point (up
        // to one factor) leave the two components' equations dependent.
        if (!(e.h.determinant() > least_separation * e.h(0, 0) * e.h(1, 1)))
            throw estimation_error(
                "the variance factors of the source and the target points cannot be told apart: "
                "the two systems' precisions have the same shape at every point");
        // Helmert's solution; where it is not positive (the two systems'
        // precisions barely separable), Foerstner's step q_g / r_g.
        Eigen::Vector2d ratio = e.h.partialPivLu().solve(e.q);
        for (int g = 0; g < 2; ++g)
            if (!(ratio(g) > 0 && std::isfinite(ratio(g))))
                ratio(g) = e.q(g) / share(g);
        if (std::abs(ratio(0) - 1) <= settled_ratio && std::abs(ratio(1) - 1) <= settled_ratio)
            return fit;
        // A factor whose correction turns direction without shrinking to
        // a quarter overshoots: the next step is half as long (in the
        // logarithm of the factors); without overshoot it grows back.
        const Eigen::Vector2d log_ratio = ratio.array().log();
        if ((log_ratio.array() * last_log_ratio.array() < 0 &&
             log_ratio.array().abs() > 0.25 * last_log_ratio.array().abs())
                .any())
            step = std::max(step / 2, least_step);
        else
            step = std::min(step * 2, 1.0);
        last_log_ratio = log_ratio;
        if (round == most_variance_rounds)
            throw estimation_error("the variance components do not settle after " +
                                   std::to_string(most_variance_rounds) +
                                   " rounds (source factor " +
                                   message_number(estimate.source_factor) + ", target factor " +
                                   message_number(estimate.target_factor) + ")");
        estimate.source_factor *= std::exp(step * log_ratio(0));
        estimate.target_factor *= std::exp(step * log_ratio(1));
        ++estimate.iterations;
        for (std::size_t i = 0; i < source_covariance.size(); ++i) {
            fit.source_covariance[i] = estimate.source_factor * source_covariance[i];
            fit.target_covariance[i] = estimate.target_factor * target_covariance[i];
        }
    }
}

} // namespace sevenparam
