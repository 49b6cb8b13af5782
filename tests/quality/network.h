// Seeded synthetic networks for the quality tests: source points scattered
// around a place in Europe (ECEF, m), carried by known origin-based
// parameters into the target system, with normal noise on every target
// coordinate.
#ifndef SEVENPARAM_TESTS_QUALITY_NETWORK_H
#define SEVENPARAM_TESTS_QUALITY_NETWORK_H

#include "quality/quality_report.h"

#include <random>
#include <string>

namespace sevenparam::synthetic {

struct transformation {
    Eigen::Vector3d translation_m{-120.5, 85.25, 410.75};
    Eigen::Vector3d angles_rad{2.1e-6, -4.5e-6, 7.3e-6}; // coordinate frame
    double scale = 3.2e-6;
    rotation_model model = rotation_model::linearised;

    Eigen::Vector3d apply(const Eigen::Vector3d& p) const
    {
        return translation_m +
               (1 + scale) *
                   (rotation_matrix(model, angles_rad(0), angles_rad(1), angles_rad(2)) * p);
    }
};

struct network {
    named_points source, target;
};

// `points` common points within `extent_m` of the centre, noise of standard
// error `noise_m` per target coordinate.
inline network make_network(long points, unsigned seed, double noise_m,
                            const transformation& truth = {}, double extent_m = 20000)
{
    std::mt19937_64 random(seed);
    std::uniform_real_distribution<double> spread(-extent_m, extent_m);
    std::normal_distribution<double> noise(0.0, noise_m);
    const Eigen::Vector3d centre(4027894.0, 307045.0, 4919474.0);
    network net;
    net.source.xyz.resize(points, 3);
    net.target.xyz.resize(points, 3);
    for (long i = 0; i < points; ++i) {
        const Eigen::Vector3d p =
            centre + Eigen::Vector3d(spread(random), spread(random), spread(random) / 20);
        Eigen::Vector3d q = truth.apply(p);
        for (int k = 0; k < 3; ++k)
            q(k) += noise(random);
        net.source.xyz.row(i) = p.transpose();
        net.target.xyz.row(i) = q.transpose();
        net.source.names.push_back("P" + std::to_string(i + 1));
    }
    net.target.names = net.source.names;
    return net;
}

// The truth the tests of both rotation models take: the exact model's far
// from linear.
inline transformation truth_of(rotation_model model)
{
    transformation truth;
    truth.model = model;
    if (model == rotation_model::exact)
        truth.angles_rad = {0.3, -0.2, 0.5};
    return truth;
}

// A correlated covariance of about sigma_m (m) per coordinate, different for
// each draw.
inline Eigen::Matrix3d random_covariance(std::mt19937_64& random, double sigma_m)
{
    std::uniform_real_distribution<double> entry(-1, 1);
    Eigen::Matrix3d a;
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            a(r, c) = entry(random);
    return sigma_m * sigma_m * (0.5 * a * a.transpose() + 0.3 * Eigen::Matrix3d::Identity());
}

} // namespace sevenparam::synthetic

#endif
