// Coordinate reference systems through PROJ: a CRS as the user names it,
// its points to and from geocentric Cartesian coordinates on its own datum,
// and a seven-parameter transformation between two CRSs as a coordinate
// operation that GIS software loads (WKT2:2019, PROJJSON, a PROJ pipeline).
//
// Everything geodetic comes from PROJ and its EPSG database: ellipsoids,
// datums, projections, axis orders and units. Nothing here is tabulated.
//
// Conventions and units:
//   - a CRS's coordinates are in its own axis order and units, as cs2cs and
//     cct read them: EPSG:4490 latitude then longitude in degrees, EPSG:4547
//     northing then easting in metres, EPSG:4978 X, Y, Z in metres. With
//     `east_first` the order is PROJ's normalised one for visualisation
//     (longitude or easting first); the units stay;
//   - angles of geographic axes in decimal degrees (parse_angle_degrees also
//     reads PROJ's sexagesimal forms);
//   - every point carries three numbers: the CRS's own two or three axes,
//     then for a two-dimensional CRS (geographic 2D, projected) the
//     ellipsoidal height in metres;
//   - geocentric: X, Y, Z in metres on the CRS's own datum and ellipsoid
//     (X towards latitude 0 at the prime meridian, Z towards the north pole).
//     The conversion is a pure conversion (PROJ's cart on the datum's
//     ellipsoid, after the inverse projection or unit and axis steps): it
//     never applies a datum transformation or a grid;
//   - a compound CRS (horizontal plus vertical) is taken only when PROJ can
//     turn its heights into ellipsoidal ones with the grids installed;
//   - seven parameters (helmert_parameters) are origin-based and in the
//     coordinate-frame convention: p' = T + (1 + s) R p, T in metres, the
//     rotations in arc-seconds, s in ppm.
//
// Threads: a reference_system owns its own PROJ context, so two of them may
// be used at once on two threads; one of them is used by one thread at a
// time.
#ifndef SEVENPARAM_CRS_CRS_H
#define SEVENPARAM_CRS_CRS_H

#include <cstddef>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace sevenparam {

// A CRS PROJ cannot take or that cannot serve here. what() says why in a
// sentence of our own with PROJ's reason in it (PROJ's messages are never
// passed on bare); it does not name the option or file concerned.
class crs_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class crs_kind { geocentric, geographic_2d, geographic_3d, projected, compound };

struct crs_axis {
    std::string name;         // "Northing", "Geodetic latitude"
    std::string abbreviation; // "X", "Lat"
    std::string unit;         // "metre", "degree"
    bool angular = false;     // in degrees
    std::string direction;    // "north", "east", "up", "south", "geocentricX", ... (PROJ's)
    double unit_to_si = 1;    // metres (or radians) per unit of the axis
};

// The area where a CRS is meant to be used, as a longitude/latitude box in
// degrees (west may exceed east across the antimeridian).
struct area_of_use {
    std::string name;
    double west = -180, south = -90, east = 180, north = 90;
};

struct crs_description {
    std::string name; // "CGCS2000 / 3-degree Gauss-Kruger CM 114E"
    std::string code; // "EPSG:4547"; empty when it has none
    crs_kind kind = crs_kind::geocentric;
    std::vector<crs_axis> axes; // in the order coordinates are read (2 or 3)
    bool east_first = false;    // the order was switched to east first
    std::optional<area_of_use> area;
    // The third number of a point is an ellipsoidal height that is no axis
    // of the CRS (geographic 2D and projected CRSs).
    bool height_beside() const { return axes.size() == 2; }
};

// The seven parameters of an origin-based transformation (see above).
struct helmert_parameters {
    double tx_m = 0, ty_m = 0, tz_m = 0;
    double rx_arcsec = 0, ry_arcsec = 0, rz_arcsec = 0;
    double s_ppm = 0;
};

class reference_system {
public:
    // Opens a CRS from `definition`: anything proj_create takes as a CRS
    // (an "AUTHORITY:CODE", WKT 1 or 2, PROJJSON, a PROJ string with
    // +type=crs), or the name of a file holding such a text. Raises
    // crs_error for a definition PROJ cannot read, for an object that is no
    // CRS, for a CRS without a geodetic datum (engineering, vertical) and for
    // a compound CRS PROJ cannot give ellipsoidal heights with what is
    // installed.
    reference_system(const std::string& definition, bool east_first);
    ~reference_system();
    reference_system(reference_system&&) noexcept;
    reference_system& operator=(reference_system&&) noexcept;

    const crs_description& description() const;

    // The definition as PROJ read it: the text given, or the named file's.
    const std::string& definition() const;

    // The conversion of the CRS's coordinates (in the order read) to
    // geocentric X, Y, Z on its datum, or back with `reverse`, as PROJ's
    // PROJ string ("+proj=pipeline +step ..."). Raises crs_error.
    std::string geocentric_conversion_text(bool reverse) const;

    // Converts `count` points in place, three numbers each (see above), to
    // geocentric X, Y, Z, through longitude and latitude on the datum.
    // Returns the index of the first point PROJ cannot convert, or `count`
    // when all were converted; `reason` then says why. `outside`, when
    // given, receives the number of points outside the area of use.
    std::size_t to_geocentric(double* points, std::size_t count, std::string& reason,
                              std::size_t* outside = nullptr) const;

    // The reverse: geocentric X, Y, Z to the CRS's coordinates (with the
    // ellipsoidal height third for a two-dimensional CRS).
    std::size_t from_geocentric(double* points, std::size_t count, std::string& reason) const;

    // The Jacobians of the conversion to geocentric X, Y, Z at `count`
    // points as read (three numbers each, not converted): nine numbers a
    // point, row-major, J(r, k) the change of geocentric coordinate r (m)
    // per metre along the point's k-th number, so that a covariance C along
    // the numbers (m^2) is J C J' along X, Y, Z. Metres along a number:
    //   - geographic CRS: along the local north or east of the latitude and
    //     longitude axes (as their directions say) and up along the
    //     ellipsoidal height; J is the local frame at the point, exact;
    //   - projected or compound CRS: along the map axes (in metres, whatever
    //     their unit) and a compound CRS's height, by central differences of
    //     jacobian_step_m either side through the conversion, so that J
    //     carries the grid convergence and the scale (the steps balance the
    //     differences' truncation against rounding in metres of 6e6: about
    //     2e-11 of J's largest element); latitude and longitude
    //     axes of a compound CRS, and the ellipsoidal height beside a
    //     projected CRS, take the local frame as above;
    //   - geocentric CRS: the axes themselves, J = I.
    // Returns the index of the first point PROJ cannot convert (or whose
    // shifted copies it cannot), or `count`; `reason` then says why.
    std::size_t geocentric_jacobians(const double* points, std::size_t count, double* jacobians,
                                     std::string& reason) const;
    static constexpr double jacobian_step_m = 50;

    // Geocentric X, Y, Z (m) on this CRS's datum to longitude, latitude
    // (degrees, east and north) and ellipsoidal height (m), in place.
    void geocentric_to_longitude_latitude(double* points, std::size_t count) const;

    // The PROJ objects behind it (crs.cpp).
    struct state;

private:
    std::unique_ptr<state> state_;
};

// An angle in degrees from a field: a decimal number, else one of the
// sexagesimal forms proj_dmstor reads ("114d30'15.25\"E", "30d15'N").
// std::nullopt when the field is neither.
std::optional<double> parse_angle_degrees(std::string_view field);

// The transformation as a coordinate operation between two CRSs.
struct operation_texts {
    std::string method;   // "Coordinate Frame rotation (geog2D domain)", EPSG:9607
    std::string wkt;      // WKT2:2019; empty when withheld (see missing)
    std::string projjson; // PROJJSON; empty when withheld
    std::string pipeline; // "+proj=pipeline ..." from source CRS to target CRS coordinates
    std::string missing;  // why wkt and projjson are missing, else empty
};

// What the operation says of itself.
struct operation_metadata {
    std::string name;
    std::string remarks;
    double accuracy_m = 0; // the operation's accuracy (the fit's RMS)
    bool exact = false;    // the exact rotation: the pipeline carries +exact
    // With `exact`, why EPSG's small-angle methods cannot carry the set;
    // empty when they can. The WKT and PROJJSON are then left out.
    std::string small_angle_refusal;
};

// Builds the operation from `source` to `target` with PROJ's API: an EPSG
// Helmert method by the kind of the two CRSs (geocentric: EPSG:1032,
// geographic 2D: EPSG:9607, geographic 3D: EPSG:1038, all coordinate frame;
// a projected CRS takes its base geographic CRS; a 2D CRS against a 3D one
// is taken as 3D, its heights being ellipsoidal), exported with PROJ's
// formatters. The pipeline runs on coordinates in the order the two systems
// read them (east first when they were opened so). Raises crs_error when PROJ
// cannot build it. A geocentric CRS against a geographic or projected one:
// the operation joins the geocentric one and a geocentric CRS on the other's
// datum (EPSG:1032), and the pipeline converts to and from it. A compound CRS
// gives texts with only `missing` set.
operation_texts export_operation(const reference_system& source, const reference_system& target,
                                 const helmert_parameters& parameters,
                                 const operation_metadata& metadata);

// The version of the PROJ library in use, "9.1.1".
std::string proj_version();

} // namespace sevenparam

#endif
