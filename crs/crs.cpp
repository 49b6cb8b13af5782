#include "crs/crs.h"

#include "crs/proj_data.h"

#include <proj.h>
#include <proj_experimental.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <utility>

namespace sevenparam {

namespace {

// PROJ objects released by their owner.
struct pj_deleter {
    void operator()(PJ* object) const { proj_destroy(object); }
};
using pj_ptr = std::unique_ptr<PJ, pj_deleter>;

struct context_deleter {
    void operator()(PJ_CONTEXT* context) const { proj_context_destroy(context); }
};
using context_ptr = std::unique_ptr<PJ_CONTEXT, context_deleter>;

struct operation_list_deleter {
    void operator()(PJ_OBJ_LIST* list) const { proj_list_destroy(list); }
};

struct factory_deleter {
    void operator()(PJ_OPERATION_FACTORY_CONTEXT* factory) const
    {
        proj_operation_factory_context_destroy(factory);
    }
};

// The text of `definition`, or of the file it names.
std::string definition_text(const std::string& definition)
{
    std::ifstream file(definition, std::ios::binary);
    if (!file) {
        return definition;
    }
    std::ostringstream text;
    text << file.rdbuf();
    if (!file && !file.eof()) {
        return definition;
    }
    std::string content = text.str();
    // A file written by an editor ends in a line end PROJ need not see.
    while (!content.empty() && (content.back() == '\n' || content.back() == '\r')) {
        content.pop_back();
    }
    return content.empty() ? definition : content;
}

bool is_two_dimensional_geographic(PJ_TYPE type)
{
    return type == PJ_TYPE_GEOGRAPHIC_2D_CRS || type == PJ_TYPE_PROJECTED_CRS;
}

} // namespace

struct reference_system::state {
    context_ptr context;
    std::string last_message; // PROJ's last log line, for our messages
    std::string text;         // the definition as PROJ read it
    pj_ptr crs;               // as defined
    pj_ptr used;              // the one whose axis order is read (normalised when east first)
    pj_ptr geocentric;        // geocentric CRS on the same datum
    // used -> geographic (longitude, latitude in radians, ellipsoidal height)
    // -> geocentric, both conversions on the one datum. The area of use is
    // checked on the way. Radians, PROJ's own unit, spare two steps a point.
    pj_ptr to_geographic;
    pj_ptr geographic_to_geocentric;
    crs_description description;

    // PROJ's reason for the context's last failure, in one line.
    std::string reason() const
    {
        std::string why = last_message;
        const int error = proj_context_errno(context.get());
        if (why.empty() && error != 0) {
            why = proj_context_errno_string(context.get(), error);
        }
        for (char& c : why) {
            if (c == '\n' || c == '\r') {
                c = ' ';
            }
        }
        return why.empty() ? "no reason given" : why;
    }
};

namespace {

void log_to_state(void* data, int level, const char* message)
{
    if (level <= PJ_LOG_ERROR && message) {
        static_cast<reference_system::state*>(data)->last_message = message;
    }
}

[[noreturn]] void refuse(const reference_system::state& s, const std::string& what)
{
    throw crs_error(what + " (PROJ: " + s.reason() + ")");
}

std::string code_of(const PJ* object)
{
    const char* authority = proj_get_id_auth_name(object, 0);
    const char* code = proj_get_id_code(object, 0);
    return authority && code ? std::string(authority) + ":" + code : std::string();
}

// The axes of a CRS with a single coordinate system.
void add_axes(PJ_CONTEXT* context, const PJ* crs, std::vector<crs_axis>& axes)
{
    pj_ptr cs(proj_crs_get_coordinate_system(context, crs));
    if (!cs) {
        return;
    }
    const int count = proj_cs_get_axis_count(context, cs.get());
    for (int i = 0; i < count; ++i) {
        const char *name = nullptr, *abbreviation = nullptr, *direction = nullptr, *unit = nullptr;
        double factor = 0;
        if (!proj_cs_get_axis_info(context, cs.get(), i, &name, &abbreviation, &direction, &factor,
                                   &unit, nullptr, nullptr)) {
            continue;
        }
        crs_axis axis;
        axis.name = name ? name : "";
        axis.abbreviation = abbreviation ? abbreviation : "";
        axis.unit = unit ? unit : "";
        axis.direction = direction ? direction : "";
        axis.unit_to_si = factor > 0 ? factor : 1;
        axis.angular = proj_get_type(crs) != PJ_TYPE_PROJECTED_CRS &&
                       proj_get_type(crs) != PJ_TYPE_GEOCENTRIC_CRS &&
                       proj_get_type(crs) != PJ_TYPE_VERTICAL_CRS && i < 2;
        axes.push_back(std::move(axis));
    }
}

// The conversion from `from` to `to` with the grids installed and no
// ballpark step; the first PROJ ranks best. Null when there is none; `grids`
// then names the grids a full conversion would need.
pj_ptr conversion(PJ_CONTEXT* context, const PJ* from, const PJ* to, std::string& grids)
{
    std::unique_ptr<PJ_OPERATION_FACTORY_CONTEXT, factory_deleter> factory(
        proj_create_operation_factory_context(context, nullptr));
    if (!factory) {
        return nullptr;
    }
    proj_operation_factory_context_set_allow_ballpark_transformations(context, factory.get(), 0);
    proj_operation_factory_context_set_grid_availability_use(
        context, factory.get(), PROJ_GRID_AVAILABILITY_DISCARD_OPERATION_IF_MISSING_GRID);
    proj_operation_factory_context_set_spatial_criterion(
        context, factory.get(), PROJ_SPATIAL_CRITERION_PARTIAL_INTERSECTION);
    std::unique_ptr<PJ_OBJ_LIST, operation_list_deleter> list(
        proj_create_operations(context, from, to, factory.get()));
    if (list && proj_list_get_count(list.get()) > 0) {
        return pj_ptr(proj_list_get(context, list.get(), 0));
    }
    // None with the installed grids: which grids would it take?
    proj_operation_factory_context_set_grid_availability_use(context, factory.get(),
                                                             PROJ_GRID_AVAILABILITY_IGNORED);
    list.reset(proj_create_operations(context, from, to, factory.get()));
    if (list && proj_list_get_count(list.get()) > 0) {
        pj_ptr first(proj_list_get(context, list.get(), 0));
        const int count = proj_coordoperation_get_grid_used_count(context, first.get());
        for (int i = 0; i < count; ++i) {
            const char* name = nullptr;
            if (proj_coordoperation_get_grid_used(context, first.get(), i, &name, nullptr, nullptr,
                                                  nullptr, nullptr, nullptr, nullptr) &&
                name) {
                grids += (grids.empty() ? "" : ", ") + std::string(name);
            }
        }
    }
    return nullptr;
}

} // namespace

reference_system::reference_system(const std::string& definition, bool east_first)
    : state_(std::make_unique<state>())
{
    state& s = *state_;
    s.context.reset(proj_context_create());
    if (!s.context) {
        throw crs_error("PROJ cannot start");
    }
    use_proj_data(s.context.get());
    proj_log_func(s.context.get(), &s, &log_to_state);
    proj_log_level(s.context.get(), PJ_LOG_ERROR);
    PJ_CONTEXT* ctx = s.context.get();

    s.text = definition_text(definition);
    s.crs.reset(proj_create(ctx, s.text.c_str()));
    if (!s.crs) {
        refuse(s, "not a CRS PROJ knows");
    }
    if (!proj_is_crs(s.crs.get())) {
        throw crs_error("PROJ reads it as no CRS but a " +
                        std::string(proj_get_type(s.crs.get()) == PJ_TYPE_UNKNOWN
                                        ? "object of unknown type"
                                        : "coordinate operation or other object"));
    }
    // A CRS bound to WGS 84 by +towgs84 is taken as the CRS itself: its
    // points are converted on its own datum, never shifted.
    if (proj_get_type(s.crs.get()) == PJ_TYPE_BOUND_CRS) {
        s.crs.reset(proj_get_source_crs(ctx, s.crs.get()));
    }
    const PJ_TYPE type = proj_get_type(s.crs.get());
    crs_description& d = s.description;
    d.name = proj_get_name(s.crs.get()) ? proj_get_name(s.crs.get()) : "";
    d.code = code_of(s.crs.get());
    switch (type) {
    case PJ_TYPE_GEOCENTRIC_CRS:
        d.kind = crs_kind::geocentric;
        break;
    case PJ_TYPE_GEOGRAPHIC_2D_CRS:
        d.kind = crs_kind::geographic_2d;
        break;
    case PJ_TYPE_GEOGRAPHIC_3D_CRS:
        d.kind = crs_kind::geographic_3d;
        break;
    case PJ_TYPE_PROJECTED_CRS:
        d.kind = crs_kind::projected;
        break;
    case PJ_TYPE_COMPOUND_CRS:
        d.kind = crs_kind::compound;
        break;
    default:
        throw crs_error("a CRS without a geodetic datum (an engineering, vertical or other "
                        "CRS): its points have no place on an ellipsoid");
    }
    if (east_first && type != PJ_TYPE_GEOCENTRIC_CRS) {
        s.used.reset(proj_normalize_for_visualization(ctx, s.crs.get()));
        if (!s.used) {
            refuse(s, "PROJ cannot put its axes east first");
        }
        d.east_first = true;
    } else {
        s.used.reset(proj_clone(ctx, s.crs.get()));
    }

    // The geodetic part whose datum the geocentric coordinates are on.
    pj_ptr horizontal;
    if (type == PJ_TYPE_COMPOUND_CRS) {
        horizontal.reset(proj_crs_get_sub_crs(ctx, s.used.get(), 0));
        pj_ptr vertical(proj_crs_get_sub_crs(ctx, s.used.get(), 1));
        if (!horizontal || !is_two_dimensional_geographic(proj_get_type(horizontal.get()))) {
            throw crs_error("a compound CRS whose first part is no geographic or projected CRS");
        }
        add_axes(ctx, horizontal.get(), d.axes);
        if (vertical) {
            add_axes(ctx, vertical.get(), d.axes);
        }
    } else {
        horizontal.reset(proj_clone(ctx, s.used.get()));
        add_axes(ctx, s.used.get(), d.axes);
    }
    if (d.axes.size() !=
        (d.kind == crs_kind::geographic_2d || d.kind == crs_kind::projected ? 2u : 3u)) {
        throw crs_error(
            "a CRS with " + std::to_string(d.axes.size()) + " axes where its kind has " +
            (d.kind == crs_kind::geographic_2d || d.kind == crs_kind::projected ? "2" : "3"));
    }
    pj_ptr datum(proj_crs_get_datum(ctx, horizontal.get()));
    if (!datum) {
        datum.reset(proj_crs_get_datum_ensemble(ctx, horizontal.get()));
    }
    if (!datum) {
        refuse(s, "a CRS without a geodetic datum");
    }
    s.geocentric.reset(proj_create_geocentric_crs_from_datum(
        ctx, ("Geocentric on " + std::string(proj_get_name(datum.get()))).c_str(), datum.get(),
        "metre", 1.0));
    if (!s.geocentric) {
        refuse(s, "PROJ cannot make a geocentric CRS of its datum");
    }
    pj_ptr ellipsoidal(proj_create_ellipsoidal_3D_cs(ctx, PJ_ELLPS3D_LONGITUDE_LATITUDE_HEIGHT,
                                                     "radian", 1.0, "metre", 1.0));
    pj_ptr geographic(proj_create_geographic_crs_from_datum(ctx, "Longitude and latitude",
                                                            datum.get(), ellipsoidal.get()));
    if (!geographic) {
        refuse(s, "PROJ cannot make a geographic CRS of its datum");
    }
    std::string grids;
    s.to_geographic = conversion(ctx, s.used.get(), geographic.get(), grids);
    if (!s.to_geographic) {
        if (type == PJ_TYPE_COMPOUND_CRS) {
            throw crs_error("its heights need a geoid model to become ellipsoidal heights, and "
                            "PROJ has none installed for it" +
                            (grids.empty() ? std::string() : " (it needs " + grids + ")") +
                            "; give the horizontal CRS with ellipsoidal heights instead");
        }
        refuse(s, "PROJ finds no conversion of its points to longitude and latitude");
    }
    s.geographic_to_geocentric = conversion(ctx, geographic.get(), s.geocentric.get(), grids);
    if (!s.geographic_to_geocentric) {
        refuse(s, "PROJ finds no conversion of longitude and latitude to geocentric coordinates");
    }

    double west = 0, south = 0, east = 0, north = 0;
    const char* area_name = nullptr;
    if (proj_get_area_of_use(ctx, s.crs.get(), &west, &south, &east, &north, &area_name) &&
        west > -1000) {
        d.area = area_of_use{area_name ? area_name : "", west, south, east, north};
    }
    s.last_message.clear();
}

reference_system::~reference_system() = default;
reference_system::reference_system(reference_system&&) noexcept = default;
reference_system& reference_system::operator=(reference_system&&) noexcept = default;

const crs_description& reference_system::description() const
{
    return state_->description;
}

namespace {

const double degrees_per_radian = proj_todeg(1.0);

// The number of points (longitude, latitude in radians) outside the
// description's area of use.
std::size_t outside_area_radians(const crs_description& description, const double* points,
                                 std::size_t count)
{
    const std::optional<area_of_use>& area = description.area;
    if (!area) {
        return 0;
    }
    std::size_t outside = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const double lon = points[3 * i] * degrees_per_radian;
        const double lat = points[3 * i + 1] * degrees_per_radian;
        const bool lon_in = area->west <= area->east ? lon >= area->west && lon <= area->east
                                                     : lon >= area->west || lon <= area->east;
        outside += lon_in && lat >= area->south && lat <= area->north ? 0 : 1;
    }
    return outside;
}

std::size_t transform(reference_system::state& s, PJ* operation, PJ_DIRECTION direction,
                      double* points, std::size_t count, std::string& reason)
{
    constexpr std::size_t stride = 3 * sizeof(double);
    // proj_trans_generic takes an int count: large sets go in slices.
    constexpr std::size_t slice = 1 << 20;
    for (std::size_t start = 0; start < count; start += slice) {
        const std::size_t n = std::min(slice, count - start);
        double* p = points + 3 * start;
        proj_trans_generic(operation, direction, p, stride, n, p + 1, stride, n, p + 2, stride, n,
                           nullptr, 0, 0);
    }
    for (std::size_t i = 0; i < count; ++i) {
        const double* p = points + 3 * i;
        if (!(std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]))) {
            reason = s.last_message.empty() ? "PROJ cannot convert it" : "PROJ: " + s.last_message;
            s.last_message.clear();
            proj_errno_reset(operation);
            return i;
        }
    }
    return count;
}

} // namespace

std::size_t reference_system::to_geocentric(double* points, std::size_t count, std::string& reason,
                                            std::size_t* outside) const
{
    const std::size_t bad =
        transform(*state_, state_->to_geographic.get(), PJ_FWD, points, count, reason);
    if (bad < count) {
        return bad;
    }
    if (outside) {
        *outside = outside_area_radians(state_->description, points, count);
    }
    return transform(*state_, state_->geographic_to_geocentric.get(), PJ_FWD, points, count,
                     reason);
}

std::size_t reference_system::from_geocentric(double* points, std::size_t count,
                                              std::string& reason) const
{
    const std::size_t bad =
        transform(*state_, state_->geographic_to_geocentric.get(), PJ_INV, points, count, reason);
    return bad < count
               ? bad
               : transform(*state_, state_->to_geographic.get(), PJ_INV, points, count, reason);
}

std::size_t reference_system::geocentric_jacobians(const double* points, std::size_t count,
                                                   double* jacobians, std::string& reason) const
{
    state& s = *state_;
    const crs_description& d = s.description;
    if (d.kind == crs_kind::geocentric) {
        for (std::size_t i = 0; i < count; ++i) {
            for (int k = 0; k < 9; ++k) {
                jacobians[9 * i + k] = k % 4 == 0 ? 1 : 0;
            }
        }
        return count;
    }
    // How each number's column is found: a signed axis of the local frame
    // (north, east, up: 1, 2, 3), or 0 for a central difference with
    // `step` (in the number's unit).
    const bool geographic = d.kind == crs_kind::geographic_2d || d.kind == crs_kind::geographic_3d;
    int frame[3] = {0, 0, 0};
    double step[3] = {0, 0, 0};
    std::size_t differenced = 0; // numbers taken by central differences
    for (std::size_t k = 0; k < 3; ++k) {
        const crs_axis* axis = k < d.axes.size() ? &d.axes[k] : nullptr;
        if (axis && axis->angular) {
            const std::string& dir = axis->direction;
            frame[k] = dir == "north"   ? 1
                       : dir == "south" ? -1
                       : dir == "east"  ? 2
                       : dir == "west"  ? -2
                                        : 0;
            if (frame[k] == 0) {
                reason = "its axis " + axis->name + " points " + dir +
                         ", neither north, south, east nor west";
                return 0;
            }
        } else if (geographic || !axis) {
            // The ellipsoidal height, of a geographic CRS or beside a
            // projected one: its derivative is the up of the local frame.
            frame[k] = 3;
        } else {
            step[k] = jacobian_step_m / (axis ? axis->unit_to_si : 1.0);
            ++differenced;
        }
    }
    constexpr std::size_t chunk = 4096;
    std::vector<double> where;   // longitude, latitude (rad) of the chunk's points
    std::vector<double> shifted; // 2 copies a differenced number a point
    for (std::size_t start = 0; start < count; start += chunk) {
        const std::size_t n = std::min(chunk, count - start);
        const double* p = points + 3 * start;
        where.assign(p, p + 3 * n);
        std::size_t bad = transform(s, s.to_geographic.get(), PJ_FWD, where.data(), n, reason);
        if (bad < n) {
            return start + bad;
        }
        const std::size_t copies = 2 * differenced;
        shifted.resize(3 * copies * n);
        for (std::size_t i = 0; i < n; ++i) {
            double* c = shifted.data() + 3 * copies * i;
            for (std::size_t k = 0; k < 3; ++k) {
                if (step[k] == 0) {
                    continue;
                }
                for (const double sign : {1.0, -1.0}) {
                    std::copy(p + 3 * i, p + 3 * i + 3, c);
                    c[k] += sign * step[k];
                    c += 3;
                }
            }
        }
        bad = to_geocentric(shifted.data(), copies * n, reason);
        if (bad < copies * n) {
            return start + bad / copies;
        }
        for (std::size_t i = 0; i < n; ++i) {
            const double lon = where[3 * i];
            const double lat = where[3 * i + 1];
            const double axes[4][3] = {
                {0, 0, 0},
                {-std::sin(lat) * std::cos(lon), -std::sin(lat) * std::sin(lon), std::cos(lat)},
                {-std::sin(lon), std::cos(lon), 0},
                {std::cos(lat) * std::cos(lon), std::cos(lat) * std::sin(lon), std::sin(lat)}};
            double* j = jacobians + 9 * (start + i);
            const double* c = shifted.data() + 3 * copies * i;
            for (std::size_t k = 0; k < 3; ++k) {
                if (step[k] == 0) {
                    const double sign = frame[k] < 0 ? -1 : 1;
                    const double* u = axes[std::abs(frame[k])];
                    for (int r = 0; r < 3; ++r) {
                        j[3 * r + k] = sign * u[r];
                    }
                } else {
                    for (int r = 0; r < 3; ++r) {
                        j[3 * r + k] = (c[r] - c[3 + r]) / (2 * jacobian_step_m);
                    }
                    c += 6;
                }
            }
        }
    }
    return count;
}

void reference_system::geocentric_to_longitude_latitude(double* points, std::size_t count) const
{
    std::string reason;
    transform(*state_, state_->geographic_to_geocentric.get(), PJ_INV, points, count, reason);
    for (std::size_t i = 0; i < count; ++i) {
        points[3 * i] *= degrees_per_radian;
        points[3 * i + 1] *= degrees_per_radian;
    }
}

std::optional<double> parse_angle_degrees(std::string_view field)
{
    if (field.empty() || field.size() > 64) {
        return std::nullopt;
    }
    const std::string text(field);
    char* end = nullptr;
    const double radians = proj_dmstor(text.c_str(), &end);
    if (end != text.c_str() + text.size() || !std::isfinite(radians) || radians == HUGE_VAL) {
        return std::nullopt;
    }
    return proj_todeg(radians);
}

std::string proj_version()
{
    const PJ_INFO info = proj_info();
    return info.version ? info.version : "";
}

const std::string& reference_system::definition() const
{
    return state_->text;
}

std::string reference_system::geocentric_conversion_text(bool reverse) const
{
    state& s = *state_;
    std::string grids;
    const pj_ptr operation =
        reverse ? conversion(s.context.get(), s.geocentric.get(), s.used.get(), grids)
                : conversion(s.context.get(), s.used.get(), s.geocentric.get(), grids);
    const char* text =
        operation ? proj_as_proj_string(s.context.get(), operation.get(), PJ_PROJ_5, nullptr)
                  : nullptr;
    if (!text) {
        refuse(s, "PROJ cannot write the conversion to geocentric coordinates");
    }
    return text;
}

} // namespace sevenparam
