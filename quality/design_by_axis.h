// The design blocks of centred source points at one estimate, for passes
// over many points, in either terms of estimation/seven_parameters.h: those
// of the parameters (point_design_block, the angles' own derivatives) or
// those the adjustment loop corrects (correction_design_block, small turns
// of the rotation matrix, whose cofactor matrix is
// adjustment_result::correction_cofactor and which no rotation makes
// singular). The two are the same for the linearised model.
//
// The last four columns of either block are linear in the point: they are the rotation's and scale's derivatives
// of (1 + m) R p. The blocks at the three unit vectors therefore give every
// point's block by a few products, without the model's trigonometry per
// point. The scale column is R p itself, so the transformed point
// t + (1 + m) R p follows from the block too (to rounding; transform_point
// groups its products differently).
#ifndef SEVENPARAM_QUALITY_DESIGN_BY_AXIS_H
#define SEVENPARAM_QUALITY_DESIGN_BY_AXIS_H

#include "estimation/seven_parameters.h"

#include <Eigen/Dense>

namespace sevenparam {

enum class design_terms { parameters, corrections };

struct design_by_axis {
    Eigen::Matrix<double, 3, 4> axis[3];

    design_by_axis() = default;
    design_by_axis(rotation_model model, const parameter_vector& args,
                   design_terms terms = design_terms::parameters)
    {
        for (int k = 0; k < 3; ++k) {
            const Eigen::Vector3d unit = Eigen::Vector3d::Unit(k);
            axis[k] = (terms == design_terms::parameters
                           ? point_design_block(model, unit(0), unit(1), unit(2), args)
                           : correction_design_block(model, unit(0), unit(1), unit(2), args))
                          .rightCols<4>();
        }
    }
    // The block of the centred source point p (coordinate units).
    design_block at(const Eigen::Vector3d& p) const
    {
        design_block block;
        block.leftCols<3>().setIdentity();
        block.rightCols<4>() = p(0) * axis[0] + p(1) * axis[1] + p(2) * axis[2];
        return block;
    }
};

} // namespace sevenparam

#endif
