#include "quality/snooping.h"

#include "quality/design_by_axis.h"
#include "quality/statistics.h"

#include "network.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace sevenparam {
namespace {

// Sidak's share of a familywise significance, against 40-digit decimal
// arithmetic of 1 - (1 - A)^(1/m).
TEST(Snooping, SidakShareOfTheFamily)
{
    const struct {
        double family;
        long tests;
        double alpha;
    } cases[] = {{0.05, 1, 0.05},
                 {0.05, 30, 0.0017083156444657343},
                 {0.05, 3000000, 1.7097764649683398e-8},
                 {0.001, 3, 0.00033344450621402197}};
    for (const auto& c : cases)
        EXPECT_NEAR(sidak_alpha(c.family, c.tests) / c.alpha, 1, 1e-13)
            << c.family << " over " << c.tests;
    EXPECT_THROW(sidak_alpha(0, 3), estimation_error);
    EXPECT_THROW(sidak_alpha(1, 3), estimation_error);
    EXPECT_THROW(sidak_alpha(0.05, 0), estimation_error);
}

// The rows of `all` but those in `left_out`.
point_matrix without(const point_matrix& all, const std::vector<char>& kept)
{
    point_matrix rows(0, 3);
    for (Eigen::Index i = 0; i < all.rows(); ++i)
        if (kept[static_cast<std::size_t>(i)]) {
            rows.conservativeResize(rows.rows() + 1, 3);
            rows.row(rows.rows() - 1) = all.row(i);
        }
    return rows;
}

// A downdate equals a full adjustment of the points left, to rounding: the
// rotations and the scale, every residual, sigma0 and the largest figure.
// The translations differ, being those of another centring. Both rotation
// models, the exact one at angles where the model is far from linear, and
// two removals in a row (the second from a downdated state).
TEST(Snooping, RemovalEqualsAFullAdjustmentWithoutThePoint)
{
    for (const rotation_model model : {rotation_model::linearised, rotation_model::exact}) {
        synthetic::transformation truth;
        truth.model = model;
        if (model == rotation_model::exact)
            truth.angles_rad = {0.3, -0.2, 0.5};
        synthetic::network net = synthetic::make_network(60, 17, 0.002, truth);
        net.target.xyz(11, 0) += 0.3;
        net.target.xyz(42, 2) -= 0.2;
        const point_matrix& src = net.source.xyz;
        const point_matrix& tar = net.target.xyz;
        std::vector<char> kept(60, 1);
        snooping_state state =
            start_snooping(src, tar, kept, estimate_similarity(src, tar, model), model, 1);
        for (const std::size_t row : {11, 42}) {
            remove_point(state, src, tar, row);
            kept[row] = 0;
            const adjustment_result full =
                estimate_similarity(without(src, kept), without(tar, kept), model);
            EXPECT_LT((state.x.tail<4>() - full.args.tail<4>()).cwiseAbs().maxCoeff(), 1e-14)
                << "after removing " << row;
            const design_by_axis design(model, full.args);
            double largest = 0;
            for (std::size_t i = 0, k = 0; i < kept.size(); ++i) {
                if (!kept[i])
                    continue;
                const Eigen::Vector3d v = full.residuals.segment<3>(3 * k++);
                // Coordinates of 5e6 m carry rounding of about 1e-9 m.
                EXPECT_LT((snooping_residual(state, src, tar, i) - v).norm(), 1e-8) << i;
                const Eigen::Vector3d p =
                    (src.row(static_cast<Eigen::Index>(i)) - full.ave_src).transpose();
                largest = std::max(largest, point_figure(residual_cofactor_block(design.at(p),
                                                                                 full.cofactor),
                                                         v, 0.002));
            }
            const double sigma0 = std::sqrt(full.residuals.squaredNorm() /
                                            static_cast<double>(full.residuals.size() - 7));
            EXPECT_NEAR(snooping_sigma0(state) / sigma0, 1, 1e-9);
            EXPECT_NEAR(largest_figure(state, src, tar, 0.002).figure / largest, 1, 1e-9);
        }
        EXPECT_EQ(state.points, 58u);
    }
}

} // namespace
} // namespace sevenparam
