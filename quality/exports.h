// The estimated transformation in the forms other software takes: the
// origin-based seven parameters (Bursa-Wolf) with their standard errors, and
// PROJ texts; and the check of the small-angle rotation against the exact one.
//
// Conventions and units:
//   - the estimate is that of estimation/seven_parameters.h: parameters
//     t (m), e (rad), m (ratio) of p' = ave_tar + t + (1 + m) R (p - ave_src),
//     coordinate-frame rotations, R of the rotation_model used;
//   - origin-based (Bursa-Wolf): p' = T + (1 + m) R p with
//     T = ave_tar + t - (1 + m) R ave_src and the same angles and scale;
//   - export units: translations in m, rotations in arc-seconds
//     (1 rad = 206264.80624709636 arcsec), scale difference in ppm (m * 1e6);
//   - position-vector convention: the same T and scale, the rotations
//     negated. For the linearised matrix that is the same transformation
//     exactly; for the exact one PROJ's position vector transposes the
//     matrix, which is not the same as negating the angles, so only the
//     coordinate-frame texts carry +exact;
//   - every number of a text is written in the shortest form that reads
//     back to the same double (std::to_chars), so a text loses nothing.
#ifndef SEVENPARAM_QUALITY_EXPORTS_H
#define SEVENPARAM_QUALITY_EXPORTS_H

#include "estimation/seven_parameters.h"
#include "quality/quality_report.h"

#include <Eigen/Dense>

#include <string>

namespace sevenparam {

inline constexpr double arcsec_per_rad = 206264.80624709636; // 180 * 3600 / pi
inline constexpr double ppm_per_ratio = 1e6;

// The shortest decimal text that reads back to v exactly ("0.1", "1e-05",
// "-3"); "inf"/"nan" for non-finite values.
std::string shortest_text(double v);

// The origin-based set of the estimate `args` with centroids ave_src,
// ave_tar (m). Its standard errors come from sigma0^2 J Q J', J the Jacobian
// of (T, e, m) by (t, e, m) with the centroids fixed:
//   J = | I  -C |   C = d((1 + m) R ave_src) / d(e, m), the last four
//       | 0   I |       columns of point_design_block(model, ave_src, args).
// Never throws.
bursa_wolf_set origin_based_set(const parameter_vector& args, const cofactor_matrix& cofactor,
                                double sigma0, const point_row& ave_src, const point_row& ave_tar,
                                rotation_model model);

// The PROJ texts of one estimate. `origin` is origin_based_set of the same
// estimate (only its values are used).
struct proj_texts {
    // "+towgs84=Tx,Ty,Tz,rx,ry,rz,s": position vector (rotations negated),
    // m, arcsec, ppm. PROJ applies it with the linearised matrix whatever
    // the model.
    std::string towgs84;
    // "+proj=helmert +x= +y= +z= +rx= +ry= +rz= +s= +convention=coordinate_frame"
    // of the origin-based set, then " +exact" for the exact model.
    std::string helmert;
    // "+proj=molobadekas +x= +y= +z= +rx= +ry= +rz= +s= +px= +py= +pz=
    //  +convention=coordinate_frame" [+exact]: the centroid form with the
    // evaluation point ave_src and the translation ave_tar - ave_src + t.
    std::string molobadekas;
    // "+proj=pipeline +step +proj=affine +xoff= +yoff= +zoff=" (minus
    // ave_src) "+step +proj=helmert" (the estimate as it is: t, e, m)
    // "+step +proj=affine +xoff= +yoff= +zoff=" (ave_tar).
    std::string pipeline;
};
proj_texts proj_exports(const parameter_vector& args, const bursa_wolf_set& origin,
                        const point_row& ave_src, const point_row& ave_tar, rotation_model model);

// (1 + m) (R_lin - R_exact) for the angles and scale of `args`: applied to a
// centred source point, the distance (m) between the small-angle rotation
// and the exact one with the same angles. The report takes the largest over
// its common points.
Eigen::Matrix3d linearisation_difference(const parameter_vector& args);

} // namespace sevenparam

#endif
