// The content of a quality report: one estimation of the seven parameters
// from named common points, with its precision, the same transformation in
// the forms other software takes, the residuals and their statistical tests,
// the points left out, and the test points carried into the target system.
//
// This header is the contract between the computation (build_quality_report)
// and the renderers of the report (text, JSON, HTML). Everything here is
// plain data; nothing is formatted.
//
// Conventions and units, throughout:
//   - coordinates, translations, residuals, biases: metres (the unit of the
//     input coordinates, ECEF for the geodetic parts);
//   - angles: radians unless a field's name says arcsec (arc-seconds,
//     1 rad = 206264.806... arcsec) or deg;
//   - scale difference m: a plain ratio unless a name says ppm (1e-6);
//   - parameter order and model: those of estimation/seven_parameters.h,
//     coordinate-frame rotations, on centred coordinates;
//   - residual v = target - transformed source ("observed minus computed").
#ifndef SEVENPARAM_QUALITY_QUALITY_REPORT_H
#define SEVENPARAM_QUALITY_QUALITY_REPORT_H

#include "estimation/seven_parameters.h"

#include <Eigen/Dense>

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace sevenparam {

// Points with their names, one point per row. names.size() == xyz.rows().
// A name is the bytes the input gave (maybe GBK); unnamed points are named
// by their 1-based number ("1", "2", ...).
struct named_points {
    std::vector<std::string> names;
    point_matrix xyz;
    // The covariance of each point's coordinates (m^2), along geocentric X,
    // Y, Z (the inputs turn what a file gives along its own axes into these),
    // one per row; empty when no precision was given for these points.
    std::vector<Eigen::Matrix3d> covariance;
};

// Robust estimation before the tests (quality/robust.h): none, or iteratively
// reweighted least squares with Huber's or the Danish weight function.
enum class robust_estimator { none, huber, danish };

// What the user asked of the report.
struct report_settings {
    rotation_model model = rotation_model::linearised;
    double alpha = 0.001; // significance of each test, two-sided
    // A-priori standard error of one coordinate (m), for unit weights only:
    // with precisions given, the a-priori variance factor is 1.
    std::optional<double> sigma_apriori;
    // Points to leave out, by name or by 1-based number, as the user gave them.
    std::vector<std::string> exclude;
    bool snoop = false; // remove flagged points one by one (data snooping)
    // The familywise significance A: the chance of at least one false alarm
    // among the 3n per-coordinate tests of n common points. When given, alpha
    // above is not used: each test takes Sidak's 1 - (1 - A)^(1 / 3n), and the
    // global test A.
    std::optional<double> alpha_family;
    // Threads for the passes over the points (estimation/chunks.h); every
    // figure is the same whatever the count.
    unsigned threads = 1;
    // Called with a line on what a long run is doing (each removal of data
    // snooping), when set.
    std::function<void(const std::string&)> progress;
    robust_estimator robust = robust_estimator::none;
    // One variance factor for the source points' precisions and one for the
    // target points', estimated, and the adjustment refitted with the
    // precisions scaled by them. Needs precisions of both systems.
    bool variance_components = false;
};

// The significance of each per-coordinate test and its critical value with
// `points` common points (at least 3): settings.alpha, or Sidak's share of
// settings.alpha_family over 3 * points tests; the critical value that of
// the w-test with settings.sigma_apriori or `weighted` (an adjustment with
// precisions, stochastic_model below), else Pope's tau. Throws
// estimation_error for a significance outside (0, 1).
struct test_level {
    double alpha = 0;
    double critical_value = 0;
};
test_level test_level_of(const report_settings& settings, std::size_t points,
                         bool weighted = false);

// A parameter set with its standard errors.
// For the centroid-based (as estimated) set: tx, ty, tz (m), ex, ey, ez (rad), m (ratio).
struct parameter_set {
    parameter_vector value;
    parameter_vector sigma;
};

// The same transformation as origin-based seven parameters (Bursa-Wolf),
// coordinate-frame convention: p' = T + (1 + m) R p with
// T = ave_tar + t - (1 + m) R ave_src. Standard errors are propagated from
// the cofactor matrix with the centroids taken as fixed. The position-vector
// convention has the same T and m and the rotations negated.
struct bursa_wolf_set {
    Eigen::Vector3d translation_m;
    Eigen::Vector3d rotation_arcsec; // rx, ry, rz, coordinate frame
    double scale_ppm = 0;
    Eigen::Vector3d sigma_translation_m;
    Eigen::Vector3d sigma_rotation_arcsec;
    double sigma_scale_ppm = 0;
};

// One point's residual and its tests.
struct residual_row {
    std::string name;
    std::size_t index = 0; // the point's 0-based place among the common points as given
    Eigen::Vector3d xyz_m = Eigen::Vector3d::Zero(); // v in X, Y, Z
    Eigen::Vector3d enu_m =
        Eigen::Vector3d::Zero(); // v in local east, north, up at the target point (GRS80)
    double length_m = 0;         // |v|
    bool removed = false;        // left out: v is against the final transformation
    // Tests (zero for a removed point, which is no observation of the estimate).
    // Formulas, units and critical values: quality/statistics.h. w, mdb_m and
    // check_m are NaN where the other points do not check this one (a
    // redundancy number or det R_i below 1e-10, e.g. with 3 common points).
    Eigen::Vector3d redundancy = Eigen::Vector3d::Zero(); // diag of the point's Q_vv block
    Eigen::Vector3d w = Eigen::Vector3d::Zero();          // standardised residuals
    double figure = 0;                                    // largest |w|
    bool flagged = false;                                 // figure > critical value
    Eigen::Vector3d mdb_m = Eigen::Vector3d::Zero();      // minimal detectable bias
    Eigen::Vector3d check_m = Eigen::Vector3d::Zero();    // check-point residual R_i^-1 v_i
};

// The global test against chi-square: of v'v / S^2 with sigma_apriori, of
// v'Pv (a-priori variance factor 1) with precisions; none otherwise.
struct global_test {
    double statistic = 0; // v'v / S^2, or v'Pv
    double critical_value =
        0; // chi-square quantile at 1 - alpha (or alpha_family), 3n - 7 degrees of freedom
    bool passed = false;
};

// The per-coordinate test applied to every residual.
struct residual_tests {
    double alpha = 0.001;               // of each test
    std::optional<double> alpha_family; // familywise, when it set alpha (Sidak over 3n tests)
    enum class kind {
        w,
        tau
    } test = kind::tau; // w with sigma_apriori or precisions, else Pope's tau
    double critical_value = 0;
    std::optional<global_test> global;
};

// A point left out of the final estimation, in the order of removal.
struct excluded_point {
    std::string name;
    enum class reason { option, snooping } why = reason::option;
    std::optional<double> figure; // its figure when it was removed (snooping)
};

// The horizontal error ellipse of a point at confidence ellipse_confidence:
// semi-axes in metres, the azimuth of the major axis in degrees clockwise
// from north, in [0, 180).
struct error_ellipse {
    double semi_major_m = 0;
    double semi_minor_m = 0;
    double azimuth_deg = 0;
};
inline constexpr double ellipse_confidence = 0.95;

// The precision of a point carried into the target system: the covariance
// of the parameters (correlations included) and the point's own source
// covariance, when given, carried through the transformation.
struct carried_precision {
    Eigen::Matrix3d covariance_xyz_m2 = Eigen::Matrix3d::Zero(); // geocentric X, Y, Z
    Eigen::Vector3d sigma_xyz_m = Eigen::Vector3d::Zero();
    Eigen::Vector3d sigma_enu_m =
        Eigen::Vector3d::Zero(); // east, north, up at the carried point (GRS80)
    error_ellipse ellipse;       // from the east-north block
};

// A test point carried into the target system.
struct prediction_row {
    std::string name;
    Eigen::Vector3d xyz_m = Eigen::Vector3d::Zero();
    carried_precision precision;
};

// A common point of the final set after an adjustment with precisions: the
// residuals in both systems, observed minus adjusted (so that with errors in
// the target only, target_residual_m is residual_row::xyz_m and
// source_residual_m is zero), and the adjusted coordinates (observed -
// residual; geocentric X, Y, Z, m).
struct adjusted_point {
    Eigen::Vector3d source_residual_m = Eigen::Vector3d::Zero();
    Eigen::Vector3d target_residual_m = Eigen::Vector3d::Zero();
    Eigen::Vector3d source_m = Eigen::Vector3d::Zero();
    Eigen::Vector3d target_m = Eigen::Vector3d::Zero();
};

// The stochastic model of the adjustment. With precisions given in either
// system (`weighted`), the common points are adjusted with errors in both
// systems (quality/gauss_helmert.h) and
//   - sigma0 is the square root of the variance factor v'Pv / (3n - 7),
//     unitless, and tests.global its test against 1 (always run);
//   - the a-priori variance factor is 1: the parameters' standard errors,
//     the w-tests and the MDBs take the given precisions as they are;
//   - a system without precisions is taken as free of errors.
struct stochastic_model {
    bool weighted = false;
    bool source_precision = false;
    bool target_precision = false;
};

// Variance components: the factors by which the given precisions'
// variances were scaled for the refit (unitless; 1 means the precisions
// were right), and the variance factor of the adjustment before the refit.
struct variance_component_estimate {
    double source_factor = 1;
    double target_factor = 1;
    double sigma0_before = 0;
    std::size_t iterations = 0;
};

// Robust estimation: the estimator with its constant (in units of the
// standardised residual), the iterations of reweighting, each point's final
// weight factor (0 to 1, one per point of the final set, the order of the
// first common_points residual rows), and the likely blunders: the rows
// (into residuals) weighted below blunder_weight, in input order.
// Every adjustment of the report is then the reweighted one
// (quality/robust.h): the parameters, their standard errors and the tests
// are those of the weighted model, in which a point weighted out is hardly
// an observation any more (its w falls with the square root of its weight);
// sigma0 is sqrt(v'Pv / f), f the redundancy of the reweighted points
// (weighted_redundancy), and a perfect fit keeps w = 0. With snooping each
// adjustment after a removal is reweighted afresh.
struct robust_summary {
    robust_estimator estimator = robust_estimator::none;
    double constant = 0;
    std::size_t iterations = 0;
    std::vector<double> weights;
    std::vector<std::size_t> blunders;
};
inline constexpr double blunder_weight = 0.05;

struct quality_report {
    rotation_model model = rotation_model::linearised;
    std::size_t common_points = 0; // in the final estimation
    long redundancy = 0;           // 3n - 7
    std::size_t iterations = 0;
    double last_measure = 0;          // sum |dx| of the last iteration
    double reciprocal_condition = 0;  // of the unit-diagonal normal matrix
    std::size_t largest_residual = 0; // index into residuals (a point of the final set)

    point_row centroid_source;
    point_row centroid_target;
    parameter_set parameters; // centroid-based, as estimated (sigma from sigma0 below)
    double sigma0 = 0;        // sqrt(v'v / (3n - 7)), v after the final correction
    // sqrt(v'v / 2) of the last iteration's misclosures (with precisions, of
    // the final misclosures y - T(x), unweighted).
    double sigma0_sevenparam = 0;
    Eigen::Matrix<double, 7, 7> correlation = Eigen::Matrix<double, 7, 7>::Identity();

    bursa_wolf_set bursa_wolf; // coordinate frame
    std::string towgs84;       // "+towgs84=tx,ty,tz,rx,ry,rz,s" (position vector, m, arcsec, ppm)
    std::string
        proj_helmert; // origin-based set, "+proj=helmert ..." (with +exact for the exact model)
    std::string proj_molobadekas; // centroid form, "+proj=molobadekas ..."
    std::string proj_pipeline;    // affine, helmert, affine
    double linearisation_max_m =
        0; // largest |R_lin p - R_exact p|*(1+m) over centred common points
    // With the exact model, the largest distance at the common points between
    // the exact transformation and its small-angle forms (+towgs84 and the
    // position-vector set, which PROJ applies with the small-angle matrix):
    // (1+m) |(R_lin - R_exact) p| for the source points p themselves, which
    // are not centred. 0 with the linearised model, whose every form is exact.
    double small_angle_exports_max_m = 0;

    // The linearised model with linearisation_max_m above
    // linearisation_warning_m: the small-angle model limits the result.
    bool linearisation_warning = false;
    // The target is a mirror image of the source (quality/orientation.h,
    // over the points of the final estimation): no rotation fits it, as when
    // two axes are swapped. The estimate is then the best rotation, and poor.
    bool mirrored = false;

    std::vector<residual_row> residuals; // final set in input order, then removed points
    residual_tests tests;
    std::vector<excluded_point> excluded;
    std::vector<prediction_row> predictions;

    stochastic_model stochastic;
    std::optional<variance_component_estimate> variance_components;
    std::optional<robust_summary> robust;
    // With stochastic.weighted, one per point of the final set (the first
    // common_points residual rows, same order); else empty.
    std::vector<adjusted_point> adjusted;
    // With stochastic.weighted, the precision of every common point as
    // transformed, one per residual row (removed points too); else empty.
    std::vector<carried_precision> common_precision;
};

// Above this, the report warns that the small-angle model limits the result.
inline constexpr double linearisation_warning_m = 1e-4;

// Estimates and evaluates. `source` and `target` pair by row; `test` may be
// empty. Leaves out the points of settings.exclude (by name first, then as a
// 1-based number), then, with settings.snoop, removes the point with the
// largest flagged figure and judges the rest again until nothing is flagged
// or the removal would leave only 4 points (snooping never goes below 5).
// Each removal downdates the normal equations and refreshes the tests in a
// pass or two over the points (quality/snooping.h); after the last removal
// the points left are adjusted once more in full, so that the report is that
// of a plain adjustment of them.
//
// With precisions given (a covariance per point in source or target, or
// both) the common points are adjusted with errors in both systems
// (quality/gauss_helmert.h, stochastic_model above; the test figures of
// quality/statistics.h with weights), and data snooping adjusts the points
// left in full after each removal. With settings.variance_components the
// report is that of the refit with the precisions scaled by the estimated
// factors (the removed points' and the test points' own source covariances
// scaled by the source factor too). Every test point's
// precision is carried (quality/carried_precision.h) with the parameters'
// covariance, sigma0^2 Q with unit weights, Q with precisions, and its own
// covariance from `test` when given.
//
// With settings.robust, every adjustment is reweighted first
// (robust_summary above); variance components with it are refused.
//
// Throws estimation_error for the
// estimation's failures, for an exclusion that names no point (quoted as
// message_excerpt in numlist/message_excerpt.h shows it) or leaves fewer than
// 3, and for a test point carried to a coordinate that is not finite ("test
// point 2 \"T2\" is carried to a coordinate that is not finite: X = inf";
// the name is left out where it is the number), for covariances that are not
// one per point or not finite, symmetric and positive semi-definite (quality/
// gauss_helmert.h), for precisions with settings.sigma_apriori, and for
// settings.variance_components without the precisions of both systems.
quality_report build_quality_report(const named_points& source, const named_points& target,
                                    const named_points& test, const report_settings& settings);

// The same, for a caller done with the common points' covariances: it frees
// them (leaving source.covariance and target.covariance empty), the
// target's once the adjustment no longer needs them, before the report's
// largest parts are formed, and the source's once the precisions are
// carried, so that a large network's report peaks lower (by some 70 MB at
// a million points, and as much again while it is written). The report is
// that of build_quality_report.
quality_report build_quality_report_freeing(named_points& source, named_points& target,
                                            const named_points& test,
                                            const report_settings& settings);

} // namespace sevenparam

#endif
