#include "quality/exports.h"

#include <charconv>
#include <cmath>

namespace sevenparam {

namespace {

enum parameter_index { tx, ty, tz, ex, ey, ez, m };

// " +key=value" for each key of `keys` and value of `values`.
std::string options(const char* const (&keys)[3], const Eigen::Vector3d& values)
{
    std::string text;
    for (int k = 0; k < 3; ++k)
        text += std::string(" +") + keys[k] + "=" + shortest_text(values(k));
    return text;
}

// " +x= +y= +z= +rx= +ry= +rz= +s=" of a translation (m), rotations
// (arcsec) and scale difference (ppm), in PROJ's Helmert units.
std::string helmert_options(const Eigen::Vector3d& translation_m,
                            const Eigen::Vector3d& rotation_arcsec, double scale_ppm)
{
    static const char* const translation_keys[3] = {"x", "y", "z"};
    static const char* const rotation_keys[3] = {"rx", "ry", "rz"};
    return options(translation_keys, translation_m) + options(rotation_keys, rotation_arcsec) +
           " +s=" + shortest_text(scale_ppm);
}

std::string convention(rotation_model model)
{
    return std::string(" +convention=coordinate_frame") +
           (model == rotation_model::exact ? " +exact" : "");
}

std::string affine_offsets(const point_row& offset)
{
    static const char* const keys[3] = {"xoff", "yoff", "zoff"};
    return " +proj=affine" + options(keys, offset.transpose());
}

} // namespace

std::string shortest_text(double v)
{
    char text[32];
    const std::to_chars_result end = std::to_chars(text, text + sizeof text, v);
    return std::string(text, end.ptr);
}

bursa_wolf_set origin_based_set(const parameter_vector& args, const cofactor_matrix& cofactor,
                                double sigma0, const point_row& ave_src, const point_row& ave_tar,
                                rotation_model model)
{
    bursa_wolf_set set;
    const Eigen::Vector3d turned_centroid =
        (1 + args(m)) *
        (rotation_matrix(model, args(ex), args(ey), args(ez)) * ave_src.transpose());
    set.translation_m = ave_tar.transpose() + args.head<3>() - turned_centroid;
    set.rotation_arcsec = args.segment<3>(ex) * arcsec_per_rad;
    set.scale_ppm = args(m) * ppm_per_ratio;

    Eigen::Matrix<double, 7, 7> jacobian = Eigen::Matrix<double, 7, 7>::Identity();
    jacobian.topRightCorner<3, 4>() =
        -point_design_block(model, ave_src(0), ave_src(1), ave_src(2), args).rightCols<4>();
    const Eigen::Matrix<double, 7, 7> propagated = jacobian * cofactor * jacobian.transpose();
    const parameter_vector sigma = sigma0 * propagated.diagonal().cwiseSqrt();
    set.sigma_translation_m = sigma.head<3>();
    set.sigma_rotation_arcsec = sigma.segment<3>(ex) * arcsec_per_rad;
    set.sigma_scale_ppm = sigma(m) * ppm_per_ratio;
    return set;
}

proj_texts proj_exports(const parameter_vector& args, const bursa_wolf_set& origin,
                        const point_row& ave_src, const point_row& ave_tar, rotation_model model)
{
    proj_texts texts;
    const Eigen::Vector3d& t = origin.translation_m;
    const Eigen::Vector3d pv = -origin.rotation_arcsec;
    texts.towgs84 = "+towgs84=";
    for (const double v : {t(0), t(1), t(2), pv(0), pv(1), pv(2), origin.scale_ppm}) {
        if (texts.towgs84.back() != '=')
            texts.towgs84 += ',';
        texts.towgs84 += shortest_text(v);
    }

    texts.helmert =
        "+proj=helmert" +
        helmert_options(origin.translation_m, origin.rotation_arcsec, origin.scale_ppm) +
        convention(model);

    static const char* const point_keys[3] = {"px", "py", "pz"};
    const Eigen::Vector3d shift = (ave_tar - ave_src).transpose() + args.head<3>();
    texts.molobadekas = "+proj=molobadekas" +
                        helmert_options(shift, origin.rotation_arcsec, origin.scale_ppm) +
                        options(point_keys, ave_src.transpose()) + convention(model);

    texts.pipeline = "+proj=pipeline +step" + affine_offsets(-ave_src) + " +step +proj=helmert" +
                     helmert_options(args.head<3>(), origin.rotation_arcsec, origin.scale_ppm) +
                     convention(model) + " +step" + affine_offsets(ave_tar);
    return texts;
}

Eigen::Matrix3d linearisation_difference(const parameter_vector& args)
{
    return (1 + args(m)) *
           (rotation_matrix(rotation_model::linearised, args(ex), args(ey), args(ez)) -
            rotation_matrix(rotation_model::exact, args(ex), args(ey), args(ez)));
}

} // namespace sevenparam
