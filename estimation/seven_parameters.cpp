#include "estimation/seven_parameters.h"

#include "estimation/array_print.h"
#include "estimation/chunks.h"
#include "estimation/console_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <ostream>
#include <utility>
#include <vector>

namespace sevenparam {

namespace {

constexpr std::size_t values_per_point = 3;
constexpr int minimum_points = 3;
constexpr int sigma0_divisor = 2; // divides v'v whatever the number of points

enum parameter_index { tx, ty, tz, ex, ey, ez, m };

using matrix7 = Eigen::Matrix<double, 7, 7>;

void write_line(std::ostream& out, const char* text)
{
    out << text << '\n';
    out.flush();
}

estimation_error unequal_points(long long source_points, long long target_points)
{
    return estimation_error(
        "source and target hold different numbers of points: " + std::to_string(source_points) +
        " and " + std::to_string(target_points));
}

// A heading line "<label>: ", then the listing under the label itself.
void print_headed(std::ostream& out, const char* label, const Eigen::Ref<const Eigen::MatrixXd>& a)
{
    write_line(out, (std::string(label) + ": ").c_str());
    print_array(out, label, a);
}

// Refuses a list that is not whole points, and returns its number of points.
std::size_t count_points(const char* list_name, std::size_t value_count)
{
    if (value_count % values_per_point != 0)
        throw estimation_error(std::string(list_name) + " list holds " +
                               std::to_string(value_count) + " values, not whole points of 3");
    return value_count / values_per_point;
}

estimation_error not_finite(const char* list_name, std::size_t point, std::size_t axis,
                            double value)
{
    static const char* const axis_name[] = {"X", "Y", "Z"};
    return estimation_error(std::string(list_name) + " point " + std::to_string(point + 1) +
                            " has a coordinate that is not finite: " + axis_name[axis] + " = " +
                            message_number(value));
}

void require_finite(const char* list_name, const double* values, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        if (!std::isfinite(values[i]))
            throw not_finite(list_name, i / values_per_point, i % values_per_point, values[i]);
    }
}

void require_common_points(std::size_t source_points, std::size_t target_points)
{
    if (source_points != target_points)
        throw unequal_points(static_cast<long long>(source_points),
                             static_cast<long long>(target_points));
    if (source_points < minimum_points)
        throw estimation_error("too few common points: " + std::to_string(source_points) +
                               " (at least 3 are needed)");
}

void require_finite(const char* list_name, const point_matrix& points)
{
    for (Eigen::Index i = 0; i < points.rows(); ++i)
        for (Eigen::Index k = 0; k < 3; ++k)
            if (!std::isfinite(points(i, k)))
                throw not_finite(list_name, static_cast<std::size_t>(i),
                                 static_cast<std::size_t>(k), points(i, k));
}

// The coordinate-frame rotation by `angle` (radians) about axis 0 (X), 1 (Y)
// or 2 (Z), and its derivative by the angle.
Eigen::Matrix3d axis_rotation(int axis, double angle)
{
    const double c = std::cos(angle), s = std::sin(angle);
    const int i = (axis + 1) % 3, j = (axis + 2) % 3;
    Eigen::Matrix3d r = Eigen::Matrix3d::Zero();
    r(axis, axis) = 1;
    r(i, i) = c;
    r(j, j) = c;
    r(i, j) = s;
    r(j, i) = -s;
    return r;
}

Eigen::Matrix3d axis_rotation_derivative(int axis, double angle)
{
    const double c = std::cos(angle), s = std::sin(angle);
    const int i = (axis + 1) % 3, j = (axis + 2) % 3;
    Eigen::Matrix3d d = Eigen::Matrix3d::Zero();
    d(i, i) = -s;
    d(j, j) = -s;
    d(i, j) = c;
    d(j, i) = -c;
    return d;
}

// The values hold consecutive X, Y, Z triples; one point per row.
point_matrix to_point_matrix(const double* values, std::size_t points)
{
    point_matrix matrix(static_cast<Eigen::Index>(points), 3);
    for (std::size_t i = 0; i < points; ++i)
        for (std::size_t k = 0; k < values_per_point; ++k)
            matrix(static_cast<Eigen::Index>(i), static_cast<Eigen::Index>(k)) =
                values[i * values_per_point + k];
    return matrix;
}

// The normal equations (B'B) dx = B'l, formed in one pass over the points
// without storing B. Every point's block of B is [I | C_i]: the identity for
// the translations (d(X', Y', Z') / d(tx, ty, tz)) and C_i, its 3 x 4
// rotation and scale columns. Hence
//
//     B'B = | n I       sum C_i      |      B'l = | sum l_i      |
//           | sum C_i'  sum C_i' C_i |            | sum C_i' l_i |
//
// which takes a fraction of the products of the general B'B. On centred
// coordinates sum C_i is zero up to rounding (each column is a rotated or
// scaled coordinate, summed over points whose centroid is the origin): the
// translations decouple from rotation and scale, and the centroids carry
// the shift of the datum.
struct normal_equations {
    matrix7 normal;
    parameter_vector right_side;
};

// The model at one set of parameters, prepared once for a pass over the
// points: the choice of model is resolved at compile time, and whatever
// depends on the parameters alone (the exact model's rotations, with their
// sines and cosines) is formed once, not per point. `columns` gives the
// rotation and scale columns C of the point's design block, `transform` the
// point's transform_point; both bit for bit those of the public functions.
template <rotation_model Model> struct model_at;

template <> struct model_at<rotation_model::linearised> {
    const parameter_vector& x;

    // The rotation columns are s times the derivative of R(X, Y, Z); the
    // scale column is R(X, Y, Z), grouped as in transform_point.
    Eigen::Matrix<double, 3, 4> columns(const double& X, const double& Y, const double& Z) const
    {
        const double s = 1 + x(m);
        Eigen::Matrix<double, 3, 4> c;
        c << 0, -s * Z, s * Y, (X + x(ez) * Y) - x(ey) * Z,   //
            s * Z, 0, -s * X, (-(x(ez) * X) + Y) + x(ex) * Z, //
            -s * Y, s * X, 0, (x(ey) * X - x(ex) * Y) + Z;
        return c;
    }
    point_row transform(const double& X, const double& Y, const double& Z) const
    {
        return transform_point(X, Y, Z, x);
    }
};

template <> struct model_at<rotation_model::exact> {
    // R = R3(ez) R2(ey) R1(ex); each angle's column is s times R with that
    // one factor replaced by its derivative, applied to the point.
    const parameter_vector& x;
    const double s = 1 + x(m);
    const Eigen::Matrix3d r1 = axis_rotation(0, x(ex)), r2 = axis_rotation(1, x(ey)),
                          r3 = axis_rotation(2, x(ez));
    const Eigen::Matrix3d d1 = axis_rotation_derivative(0, x(ex)),
                          d2 = axis_rotation_derivative(1, x(ey)),
                          d3 = axis_rotation_derivative(2, x(ez));
    const Eigen::Matrix3d r = r3 * r2 * r1;

    Eigen::Matrix<double, 3, 4> columns(const double& X, const double& Y, const double& Z) const
    {
        const Eigen::Vector3d p(X, Y, Z);
        Eigen::Matrix<double, 3, 4> c;
        c.col(0) = s * (r3 * (r2 * (d1 * p)));
        c.col(1) = s * (r3 * (d2 * (r1 * p)));
        c.col(2) = s * (d3 * (r2 * (r1 * p)));
        c.col(3) = r3 * (r2 * (r1 * p));
        return c;
    }
    point_row transform(const double& X, const double& Y, const double& Z) const
    {
        const Eigen::Vector3d turned = r * Eigen::Vector3d(X, Y, Z);
        return x.head<3>().transpose() + (1 + x(m)) * turned.transpose();
    }
};

// The exact model as its adjustment loop linearises it: the rotation is the
// matrix R itself, and a correction turns it by the small angles d = (dx,
// dy, dz) about the axes of the target system, R <- R(d) R, with R(d) the
// exact rotation of those angles. To first order R(d) is the linearised
// matrix, so the columns of d at d = 0 are those of the linearised model at
// zero angles, taken at the turned point q = R p:
//   d/d(dx) = s (0, qz, -qy),  d/d(dy) = s (-qz, 0, qx),  d/d(dz) = s (qy, -qx, 0),
// and the scale column is q. Unlike the derivatives by the angles ex, ey, ez
// themselves, these are independent for every R: no rotation is singular
// (ey = +-90 degrees is for the angles).
struct turn_at {
    const parameter_vector& x; // tx, ty, tz and m are read; the angles are not
    const Eigen::Matrix3d& r;
    const double s = 1 + x(m);

    Eigen::Matrix<double, 3, 4> columns(const double& X, const double& Y, const double& Z) const
    {
        const Eigen::Vector3d q = r * Eigen::Vector3d(X, Y, Z);
        Eigen::Matrix<double, 3, 4> c;
        c << 0, -s * q(2), s * q(1), q(0), //
            s * q(2), 0, -s * q(0), q(1),  //
            -s * q(1), s * q(0), 0, q(2);
        return c;
    }
    point_row transform(const double& X, const double& Y, const double& Z) const
    {
        const Eigen::Vector3d turned = r * Eigen::Vector3d(X, Y, Z);
        return x.head<3>().transpose() + s * turned.transpose();
    }
};

// The sums over the points run by chunks (estimation/chunks.h), each in
// point order, and are then added over the chunks in order: the same bits on
// any number of threads, and with one chunk the plain loop over the points.
template <typename Model>
normal_equations form_normal_equations(const point_matrix& source, const Model& model,
                                       const Eigen::VectorXd& misclosure, unsigned threads)
{
    const Eigen::Index points = source.rows();
    struct sums {
        Eigen::Matrix<double, 3, 4> c = Eigen::Matrix<double, 3, 4>::Zero();
        Eigen::Matrix4d cc = Eigen::Matrix4d::Zero();
        Eigen::Vector3d l = Eigen::Vector3d::Zero();
        Eigen::Vector4d cl = Eigen::Vector4d::Zero();
    };
    std::vector<sums> partials(
        std::max<std::size_t>(1, chunk_count(static_cast<std::size_t>(points))));
    for_each_chunk(static_cast<std::size_t>(points), threads,
                   [&](std::size_t chunk, std::size_t begin, std::size_t end) {
                       sums& sum = partials[chunk];
                       for (auto i = static_cast<Eigen::Index>(begin);
                            i < static_cast<Eigen::Index>(end); ++i) {
                           const Eigen::Matrix<double, 3, 4> c =
                               model.columns(source(i, 0), source(i, 1), source(i, 2));
                           const Eigen::Vector3d l = misclosure.segment<3>(3 * i);
                           sum.c += c;
                           sum.cc.noalias() += c.transpose() * c;
                           sum.l += l;
                           sum.cl.noalias() += c.transpose() * l;
                       }
                   });
    sums total = partials[0];
    for (std::size_t chunk = 1; chunk < partials.size(); ++chunk) {
        total.c += partials[chunk].c;
        total.cc += partials[chunk].cc;
        total.l += partials[chunk].l;
        total.cl += partials[chunk].cl;
    }
    normal_equations equations;
    equations.normal.topLeftCorner<3, 3>() =
        static_cast<double>(points) * Eigen::Matrix3d::Identity();
    equations.normal.topRightCorner<3, 4>() = total.c;
    equations.normal.bottomLeftCorner<4, 3>() = total.c.transpose();
    equations.normal.bottomRightCorner<4, 4>() = total.cc;
    equations.right_side << total.l, total.cl;
    return equations;
}

// Target minus transformed source, point by point, into `misclosure` (3n).
template <typename Model>
void fill_misclosure(const point_matrix& source, const point_matrix& target, const Model& model,
                     Eigen::VectorXd& misclosure, unsigned threads = 1)
{
    misclosure.resize(3 * source.rows());
    for_each_chunk(static_cast<std::size_t>(source.rows()), threads,
                   [&](std::size_t, std::size_t begin, std::size_t end) {
                       for (auto i = static_cast<Eigen::Index>(begin);
                            i < static_cast<Eigen::Index>(end); ++i) {
                           const point_row computed =
                               model.transform(source(i, 0), source(i, 1), source(i, 2));
                           misclosure.segment<3>(3 * i) = (target.row(i) - computed).transpose();
                       }
                   });
}

// Q = N^-1 for the normal matrix N = B'B.
//
// The columns of B differ by many orders of magnitude (1 for the
// translations, coordinates of 1e6 m for rotations and scale), so N is
// judged and inverted through its unit-diagonal form: with D = diag(N)^-1/2,
// N_s = D N D has ones on its diagonal, its condition number measures the
// geometry of the points rather than their units, and Q = D N_s^-1 D.
cofactor_matrix invert_normal(const matrix7& normal, double& reciprocal_condition_out)
{
    const parameter_vector diagonal = normal.diagonal();
    const auto rank_deficient = [](double reciprocal_condition) {
        return estimation_error(
            "the normal matrix is singular or rank-deficient (reciprocal condition number " +
            message_number(reciprocal_condition) + " below " +
            message_number(min_reciprocal_condition) +
            "): the common points are coincident or collinear");
    };
    if (!normal.allFinite())
        throw estimation_error("the normal matrix is not finite: the coordinates are too large");
    if (!(diagonal.minCoeff() > 0))
        throw rank_deficient(0.0);
    const parameter_vector scale = diagonal.cwiseSqrt().cwiseInverse();
    const matrix7 unit_diagonal = scale.asDiagonal() * normal * scale.asDiagonal();
    // The exact 2-norm condition of a symmetric positive semi-definite matrix:
    // its smallest eigenvalue over its largest.
    const Eigen::SelfAdjointEigenSolver<matrix7> eigen(unit_diagonal, Eigen::EigenvaluesOnly);
    const double reciprocal_condition =
        std::max(0.0, eigen.eigenvalues()(0) / eigen.eigenvalues()(6));
    if (!(reciprocal_condition >= min_reciprocal_condition))
        throw rank_deficient(reciprocal_condition);
    reciprocal_condition_out = reciprocal_condition;
    const Eigen::LLT<matrix7> cholesky(unit_diagonal);
    if (cholesky.info() != Eigen::Success)
        throw rank_deficient(0.0);
    return scale.asDiagonal() * cholesky.solve(matrix7::Identity()) * scale.asDiagonal();
}

// What the adjustment loop corrects, and how its estimate reads out.
//
// Linearised model: the seven parameters themselves, x <- x + dx.
struct linearised_loop {
    parameter_vector x;

    model_at<rotation_model::linearised> model() const { return {x}; }
    void correct(const parameter_vector& dx) { x += dx; }
    parameter_vector args() const { return x; }
    // The cofactor matrix of args from that of the corrections: the same.
    cofactor_matrix args_cofactor(const cofactor_matrix& q) const { return q; }
};

// Exact model: the translations and the scale, and the rotation matrix R
// turned by each correction's small angles (see turn_at); the angles ex, ey,
// ez are read out of R at the end.
struct exact_loop {
    parameter_vector x; // the angles are not kept here, only in r
    Eigen::Matrix3d r;

    turn_at model() const { return {x, r}; }
    void correct(const parameter_vector& dx)
    {
        x.head<3>() += dx.head<3>();
        x(m) += dx(m);
        r = rotation_matrix(rotation_model::exact, dx(ex), dx(ey), dx(ez)) * r;
    }
    parameter_vector args() const
    {
        parameter_vector a = x;
        a.segment<3>(ex) = exact_rotation_angles(r);
        return a;
    }
    // Changing the angles by de turns R by the small angles d = J de, with
    // the columns of J the axes of the three rotations as R = R3 R2 R1 sees
    // them: J = [R3(ez) R2(ey) e_x | R3(ez) e_y | e_z], det J = cos ey. So
    // the cofactor matrix of (t, e, m) is T Q T' with T = diag(I, J^-1, 1).
    // At ey = +-90 degrees J is singular: ex and ez are then not separately
    // determined, and their standard errors are unbounded.
    cofactor_matrix args_cofactor(const cofactor_matrix& q) const
    {
        return exact_args_cofactor(args(), q);
    }
};

// Gauss-Newton on centred coordinates from `state`: linearise the model at
// the current estimate, solve the normal equations (B'B) dx = B'l for the
// correction, apply it, and repeat until the stopping rule ends the loop.
// Prints "Args" after each iteration and the final heading with the
// parameters to `out`, and fills the estimate and its figures into `result`
// (the centroids are the caller's).
template <typename Loop>
void adjust_model(const point_matrix& source, const point_matrix& target, Loop state,
                  rotation_model model, std::ostream& out, const stopping_rule& rule,
                  unsigned threads, adjustment_result& result)
{
    const double noise_floor = rule.stall_factor * (1 + std::max(source.cwiseAbs().maxCoeff(),
                                                                 target.cwiseAbs().maxCoeff()));
    // No correction yet: the loop runs at least once.
    double measure = std::numeric_limits<double>::infinity();
    double lowest = std::numeric_limits<double>::infinity();
    int iterations_without_new_lowest = 0;
    Eigen::VectorXd misclosure;
    cofactor_matrix cofactor = cofactor_matrix::Zero();
    double reciprocal_condition = 0;
    int iteration = 0;
    result.loop_started = std::chrono::steady_clock::now();
    while (measure > rule.threshold) {
        if (iteration == rule.max_iterations)
            throw estimation_error("no convergence after " + std::to_string(iteration) +
                                   " iterations (last convergence measure " +
                                   message_number(measure) + ")");
        fill_misclosure(source, target, state.model(), misclosure, threads);
        const normal_equations equations =
            form_normal_equations(source, state.model(), misclosure, threads);
        cofactor = invert_normal(equations.normal, reciprocal_condition);
        const parameter_vector correction = cofactor * equations.right_side;
        state.correct(correction);
        ++iteration;
        print_array(out, "Args", state.args());
        measure = correction.cwiseAbs().sum();
        if (!std::isfinite(measure))
            throw estimation_error("the adjustment diverged after " + std::to_string(iteration) +
                                   " iterations");
        // Earth-size coordinates leave corrections at rounding noise above
        // the threshold; once the measure stops falling there, it is done.
        if (measure < lowest) {
            lowest = measure;
            iterations_without_new_lowest = 0;
        } else if (++iterations_without_new_lowest >= rule.stall_iterations &&
                   lowest < noise_floor) {
            break;
        }
    }
    const parameter_vector x = state.args();
    write_line(out, console_text::parameters_heading);
    print_array(out, "Args", x);

    result.args = x;
    result.iterations = static_cast<std::size_t>(iteration);
    // v'v / 2 with the misclosures of the last iteration, taken before its
    // correction was added.
    result.sigma0 = std::sqrt(misclosure.squaredNorm() / sigma0_divisor);
    result.cofactor = state.args_cofactor(cofactor);
    result.sigmax = result.sigma0 * result.cofactor.diagonal().cwiseSqrt();
    result.correction_cofactor = cofactor;
    result.last_measure = measure;
    result.reciprocal_condition = reciprocal_condition;
    // The residuals of the final parameters, as they are reported, reuse
    // the misclosure's storage.
    if (model == rotation_model::linearised)
        fill_misclosure(source, target, model_at<rotation_model::linearised>{x}, misclosure,
                        threads);
    else
        fill_misclosure(source, target, model_at<rotation_model::exact>{x}, misclosure, threads);
    result.residuals = std::move(misclosure);
}

// points - centroid, row by row, on `threads` threads: the same values as
// points.rowwise() - centroid, with the fresh matrix's pages first touched
// in parallel.
point_matrix centred(const point_matrix& points, const point_row& centroid, unsigned threads)
{
    point_matrix result(points.rows(), 3);
    for_each_chunk(static_cast<std::size_t>(points.rows()), threads,
                   [&](std::size_t, std::size_t begin, std::size_t end) {
                       const auto first = static_cast<Eigen::Index>(begin);
                       const auto rows = static_cast<Eigen::Index>(end - begin);
                       result.middleRows(first, rows) =
                           points.middleRows(first, rows).rowwise() - centroid;
                   });
    return result;
}

} // namespace

cofactor_matrix invert_normal_matrix(const Eigen::Matrix<double, 7, 7>& normal,
                                     double& reciprocal_condition)
{
    return invert_normal(normal, reciprocal_condition);
}

cofactor_matrix exact_args_cofactor(const parameter_vector& args, const cofactor_matrix& q)
{
    const Eigen::Matrix3d r3 = axis_rotation(2, args(ez));
    Eigen::Matrix3d j;
    j.col(0) = r3 * axis_rotation(1, args(ey)).col(0);
    j.col(1) = r3.col(1);
    j.col(2) = Eigen::Vector3d::UnitZ();
    cofactor_matrix t = cofactor_matrix::Identity();
    t.block<3, 3>(ex, ex) = j.inverse();
    return t * q * t.transpose();
}

std::string message_number(double v)
{
    char text[32];
    const std::to_chars_result end =
        std::to_chars(text, text + sizeof text, v, std::chars_format::general, 6);
    return std::string(text, end.ptr);
}

point_row transform_point(const double& X, const double& Y, const double& Z,
                          const parameter_vector& params)
{
    const double s = 1 + params(m);
    return point_row(params(tx) + s * ((X + params(ez) * Y) - params(ey) * Z),
                     params(ty) + s * ((-(params(ez) * X) + Y) + params(ex) * Z),
                     params(tz) + s * ((params(ey) * X - params(ex) * Y) + Z));
}

design_block point_design_block(const double& X, const double& Y, const double& Z,
                                const parameter_vector& params)
{
    // d(X', Y', Z') / d(tx, ty, tz) is the identity; the rotation and scale
    // columns are those the adjustment loop forms.
    design_block block;
    block.leftCols<3>().setIdentity();
    block.rightCols<4>() = model_at<rotation_model::linearised>{params}.columns(X, Y, Z);
    return block;
}

design_matrix build_design_matrix(const point_matrix& points, const parameter_vector& params)
{
    design_matrix design(3 * points.rows(), 7);
    for (Eigen::Index i = 0; i < points.rows(); ++i)
        design.middleRows<3>(3 * i) =
            point_design_block(points(i, 0), points(i, 1), points(i, 2), params);
    return design;
}

Eigen::VectorXd build_misclosure(const point_matrix& source, const point_matrix& target,
                                 const parameter_vector& params)
{
    if (target.rows() < source.rows())
        throw unequal_points(source.rows(), target.rows());
    Eigen::VectorXd misclosure;
    fill_misclosure(source, target, model_at<rotation_model::linearised>{params}, misclosure);
    return misclosure;
}

adjustment_result estimate_seven_parameters(const double* source, std::size_t source_count,
                                            const double* target, std::size_t target_count,
                                            std::ostream& out, const stopping_rule& rule)
{
    // Input that cannot give a sound estimate is refused before anything is printed.
    const std::size_t source_points = count_points("source", source_count);
    const std::size_t target_points = count_points("target", target_count);
    require_common_points(source_points, target_points);
    require_finite("source", source, source_count);
    require_finite("target", target, target_count);

    adjustment_result result;
    point_matrix source_matrix = to_point_matrix(source, source_points);
    print_headed(out, "source_points", source_matrix);
    point_matrix target_matrix = to_point_matrix(target, target_points);
    print_headed(out, "target_points", target_matrix);

    result.ave_src = source_matrix.colwise().mean();
    print_headed(out, "ave_src", result.ave_src);
    result.ave_tar = target_matrix.colwise().mean();
    print_headed(out, "ave_tar", result.ave_tar);

    // Reducing both sets to their centroids carries the translation of the
    // datum change in ave_tar - ave_src and keeps the normal equations well
    // conditioned: the rotation and scale columns hold coordinates of the
    // size of the network, not of the Earth.
    source_matrix.rowwise() -= result.ave_src;
    target_matrix.rowwise() -= result.ave_tar;
    print_array(out, "source_points", source_matrix);
    print_array(out, "target_points", target_matrix);

    adjust_model(source_matrix, target_matrix, linearised_loop{parameter_vector::Zero()},
                 rotation_model::linearised, out, rule, 1, result);
    return result;
}

Eigen::Matrix3d rotation_matrix(rotation_model model, double ex, double ey, double ez)
{
    Eigen::Matrix3d r;
    if (model == rotation_model::linearised) {
        r << 1, ez, -ey, -ez, 1, ex, ey, -ex, 1;
        return r;
    }
    return axis_rotation(2, ez) * axis_rotation(1, ey) * axis_rotation(0, ex);
}

Eigen::Vector3d exact_rotation_angles(const Eigen::Matrix3d& r)
{
    // Row 2 of R3(ez) R2(ey) R1(ex) is (sin ey, -cos ey sin ex, cos ey cos ex).
    const double cos_ey = std::hypot(r(2, 1), r(2, 2));
    const double x = cos_ey > 0 ? std::atan2(-r(2, 1), r(2, 2)) : 0.0;
    const double y = std::atan2(r(2, 0), cos_ey);
    // What is left once R1(ex) and R2(ey) are undone is R3(ez); taking ez
    // from it keeps the product equal to R even where ex is ill-determined.
    const Eigen::Matrix3d left =
        r * axis_rotation(0, x).transpose() * axis_rotation(1, y).transpose();
    return Eigen::Vector3d(x, y, std::atan2(left(0, 1), left(0, 0)));
}

point_row transform_point(rotation_model model, const double& X, const double& Y, const double& Z,
                          const parameter_vector& params)
{
    if (model == rotation_model::linearised)
        return transform_point(X, Y, Z, params);
    return model_at<rotation_model::exact>{params}.transform(X, Y, Z);
}

design_block point_design_block(rotation_model model, const double& X, const double& Y,
                                const double& Z, const parameter_vector& params)
{
    if (model == rotation_model::linearised)
        return point_design_block(X, Y, Z, params);
    design_block block;
    block.leftCols<3>().setIdentity();
    block.rightCols<4>() = model_at<rotation_model::exact>{params}.columns(X, Y, Z);
    return block;
}

design_block correction_design_block(rotation_model model, const double& X, const double& Y,
                                     const double& Z, const parameter_vector& params)
{
    if (model == rotation_model::linearised)
        return point_design_block(X, Y, Z, params);
    const Eigen::Matrix3d r = rotation_matrix(model, params(ex), params(ey), params(ez));
    design_block block;
    block.leftCols<3>().setIdentity();
    block.rightCols<4>() = turn_at{params, r}.columns(X, Y, Z);
    return block;
}

point_row carry_point(const adjustment_result& result, const point_row& p, rotation_model model)
{
    // The parameters map centred source coordinates to centred target
    // coordinates: the centroids carry the translation of the datum change.
    const point_row centred = p - result.ave_src;
    return transform_point(model, centred(0), centred(1), centred(2), result.args) + result.ave_tar;
}

adjustment_result estimate_similarity(const point_matrix& source, const point_matrix& target,
                                      rotation_model model, const stopping_rule& rule,
                                      unsigned threads)
{
    require_common_points(static_cast<std::size_t>(source.rows()),
                          static_cast<std::size_t>(target.rows()));
    require_finite("source", source);
    require_finite("target", target);

    adjustment_result result;
    result.ave_src = source.colwise().mean();
    result.ave_tar = target.colwise().mean();
    const point_matrix source_centred = centred(source, result.ave_src, threads);
    const point_matrix target_centred = centred(target, result.ave_tar, threads);

    std::ostream no_listing(nullptr);
    if (model == rotation_model::linearised) {
        adjust_model(source_centred, target_centred, linearised_loop{parameter_vector::Zero()},
                     model, no_listing, rule, threads, result);
        return result;
    }
    // The closed-form similarity target = c R source (+ t, zero on centred
    // points) is the least-squares fit of the exact model; the loop then
    // refines it in the model's own terms.
    exact_loop start{parameter_vector::Zero(), Eigen::Matrix3d::Identity()};
    const Eigen::Matrix4d similarity =
        Eigen::umeyama(source_centred.transpose(), target_centred.transpose(), true);
    const Eigen::Matrix3d scaled = similarity.topLeftCorner<3, 3>();
    const double scale = std::cbrt(scaled.determinant());
    if (std::isfinite(scale) && scale > 0) {
        start.r = scaled / scale;
        start.x(m) = scale - 1;
        start.x.head<3>() = similarity.topRightCorner<3, 1>();
    }
    adjust_model(source_centred, target_centred, start, model, no_listing, rule, threads, result);
    return result;
}

} // namespace sevenparam
