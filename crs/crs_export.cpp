// The transformation as a coordinate operation, built and exported with
// PROJ's C++ API (crs/crs.h).
#include "crs/crs.h"
#include "crs/proj_data.h"

#include <proj/common.hpp>
#include <proj/coordinateoperation.hpp>
#include <proj/coordinatesystem.hpp>
#include <proj/crs.hpp>
#include <proj/datum.hpp>
#include <proj/io.hpp>
#include <proj/metadata.hpp>
#include <proj/util.hpp>

#include <cstdio>

namespace sevenparam {

namespace {

using namespace osgeo::proj;

// The CRS of a definition as PROJ's C++ API reads it; a bound CRS as its
// base, as the C API side takes it.
crs::CRSNNPtr read_crs(const std::string& text, const io::DatabaseContextNNPtr& database)
{
    auto object = io::createFromUserInput(text, database);
    auto read = util::nn_dynamic_pointer_cast<crs::CRS>(object);
    if (!read) {
        throw crs_error("PROJ reads the definition as no CRS");
    }
    crs::CRSNNPtr result = NN_NO_CHECK(read);
    if (auto bound = dynamic_cast<const crs::BoundCRS*>(result.get())) {
        result = bound->baseCRS();
    }
    return result;
}

// One side of the operation: the CRS the transformation joins (the CRS
// itself, or a projected CRS's base) and the projection around it.
struct side {
    crs::CRSNNPtr geodetic;
    std::shared_ptr<crs::ProjectedCRS> projected; // null unless projected
    std::string kind;                             // "geocentric", "geographic 2D", ...
};

side side_of(const crs::CRSNNPtr& system)
{
    side s{system, nullptr, ""};
    if (auto projected = util::nn_dynamic_pointer_cast<crs::ProjectedCRS>(system)) {
        s.projected = projected;
        s.geodetic = projected->baseCRS();
    }
    if (auto geodetic = dynamic_cast<const crs::GeodeticCRS*>(s.geodetic.get())) {
        if (geodetic->isGeocentric()) {
            s.kind = "geocentric";
        } else if (dynamic_cast<const crs::GeographicCRS*>(geodetic)) {
            s.kind = geodetic->coordinateSystem()->axisList().size() == 2 ? "geographic 2D"
                                                                          : "geographic 3D";
        }
    }
    if (s.kind.empty()) {
        s.kind = dynamic_cast<const crs::CompoundCRS*>(system.get()) ? "compound" : "other";
    }
    return s;
}

operation::TransformationNNPtr make_transformation(const side& source, const side& target,
                                                   const helmert_parameters& p,
                                                   const operation_metadata& metadata)
{
    util::PropertyMap properties;
    properties.set(common::IdentifiedObject::NAME_KEY, metadata.name);
    properties.set(common::IdentifiedObject::REMARKS_KEY, metadata.remarks);
    char accuracy[32];
    std::snprintf(accuracy, sizeof accuracy, "%.4f", metadata.accuracy_m);
    return operation::Transformation::createCoordinateFrameRotation(
        properties, source.geodetic, target.geodetic, p.tx_m, p.ty_m, p.tz_m, p.rx_arcsec,
        p.ry_arcsec, p.rz_arcsec, p.s_ppm, {metadata::PositionalAccuracy::create(accuracy)});
}

// The steps from source CRS coordinates to target CRS coordinates as one
// PROJ pipeline.
std::string pipeline_of(const side& source, const side& target,
                        const operation::TransformationNNPtr& transformation,
                        const io::DatabaseContextNNPtr& database)
{
    std::vector<operation::CoordinateOperationNNPtr> steps;
    if (source.projected) {
        steps.push_back(source.projected->derivingConversion()->inverse());
    }
    steps.push_back(transformation);
    if (target.projected) {
        steps.push_back(target.projected->derivingConversion());
    }
    auto formatter =
        io::PROJStringFormatter::create(io::PROJStringFormatter::Convention::PROJ_5, database);
    if (steps.size() == 1) {
        return transformation->exportToPROJString(formatter.get());
    }
    auto chain = operation::ConcatenatedOperation::createComputeMetadata(steps, false);
    return chain->exportToPROJString(formatter.get());
}

// The steps of a PROJ string, each beginning " +step".
std::string steps_of(const std::string& text)
{
    const std::string pipeline = "+proj=pipeline";
    if (text.compare(0, pipeline.size(), pipeline) == 0) {
        return text.substr(pipeline.size());
    }
    return " +step " + text;
}

// The transformation's WKT and PROJJSON when the small-angle methods may
// carry it, else why not.
void add_definitions(operation_texts& texts, const operation::TransformationNNPtr& transformation,
                     const operation_metadata& metadata, const io::DatabaseContextNNPtr& database)
{
    texts.method = transformation->method()->nameStr();
    const auto& ids = transformation->method()->identifiers();
    if (!ids.empty()) {
        texts.method += " (" + *ids.front()->codeSpace() + ":" + ids.front()->code() + ")";
    }
    if (metadata.small_angle_refusal.empty()) {
        auto wkt = io::WKTFormatter::create(io::WKTFormatter::Convention::WKT2_2019, database);
        texts.wkt = transformation->exportToWKT(wkt.get());
        auto json = io::JSONFormatter::create(database);
        texts.projjson = transformation->exportToJSON(json.get());
    } else {
        texts.missing = metadata.small_angle_refusal;
    }
}

// A geocentric CRS against a geographic or projected one: the operation
// between the geocentric CRS and a geocentric CRS on the other's datum, and
// a pipeline of PROJ's conversions to and from geocentric coordinates around
// its Helmert step.
operation_texts through_geocentric(const reference_system& source, const reference_system& target,
                                   const side& from, const side& to,
                                   const helmert_parameters& parameters,
                                   const operation_metadata& metadata,
                                   const io::DatabaseContextNNPtr& database)
{
    const auto geocentric = [](const side& s) {
        if (s.kind == "geocentric") {
            return s;
        }
        auto geodetic = util::nn_dynamic_pointer_cast<crs::GeodeticCRS>(s.geodetic);
        if (!geodetic) {
            throw crs_error("PROJ gives no geodetic CRS of the " + s.kind + " CRS");
        }
        util::PropertyMap properties;
        const std::string datum = geodetic->datum()           ? geodetic->datum()->nameStr()
                                  : geodetic->datumEnsemble() ? geodetic->datumEnsemble()->nameStr()
                                                              : geodetic->nameStr();
        properties.set(common::IdentifiedObject::NAME_KEY, "Geocentric on " + datum);
        side made{crs::GeodeticCRS::create(
                      properties, geodetic->datum(), geodetic->datumEnsemble(),
                      cs::CartesianCS::createGeocentric(common::UnitOfMeasure::METRE)),
                  nullptr, "geocentric"};
        return made;
    };
    operation_texts texts;
    const auto transformation =
        make_transformation(geocentric(from), geocentric(to), parameters, metadata);
    add_definitions(texts, transformation, metadata, database);
    auto formatter =
        io::PROJStringFormatter::create(io::PROJStringFormatter::Convention::PROJ_5, database);
    texts.pipeline = "+proj=pipeline";
    if (from.kind != "geocentric") {
        texts.pipeline += steps_of(source.geocentric_conversion_text(false));
    }
    texts.pipeline += steps_of(transformation->exportToPROJString(formatter.get()));
    if (to.kind != "geocentric") {
        texts.pipeline += steps_of(target.geocentric_conversion_text(true));
    }
    return texts;
}

} // namespace

operation_texts export_operation(const reference_system& source, const reference_system& target,
                                 const helmert_parameters& parameters,
                                 const operation_metadata& metadata)
{
    operation_texts texts;
    try {
        auto database = io::DatabaseContext::create(proj_database_path());
        crs::CRSNNPtr source_crs = read_crs(source.definition(), database);
        crs::CRSNNPtr target_crs = read_crs(target.definition(), database);
        // A two-dimensional CRS against a three-dimensional one: both 3D, as
        // the ellipsoidal heights beside the 2D one make it (EPSG:1038).
        const std::string two = "geographic 2D", three = "geographic 3D";
        if (side_of(source_crs).kind == two && side_of(target_crs).kind == three) {
            source_crs = source_crs->promoteTo3D(std::string(), database);
        } else if (side_of(source_crs).kind == three && side_of(target_crs).kind == two) {
            target_crs = target_crs->promoteTo3D(std::string(), database);
        }
        const side from = side_of(source_crs);
        const side to = side_of(target_crs);
        if (from.kind == "compound" || to.kind == "compound") {
            texts.missing = "EPSG's Helmert methods join geodetic CRSs, and a compound CRS "
                            "carries a vertical part they cannot hold";
            return texts;
        }
        const bool mixed = from.kind != to.kind;
        if (mixed && from.kind != "geocentric" && to.kind != "geocentric") {
            texts.missing = "the source CRS is " + from.kind + " and the target CRS " + to.kind +
                            ": EPSG's Helmert methods join two CRSs of one kind";
            return texts;
        }
        // The pipeline in the order the coordinates are read.
        const bool east_first = source.description().east_first || target.description().east_first;
        if (mixed) {
            texts = through_geocentric(source, target, from, to, parameters, metadata, database);
        } else if (east_first) {
            add_definitions(texts, make_transformation(from, to, parameters, metadata), metadata,
                            database);
            const side from_used =
                side_of(source.description().east_first ? source_crs->normalizeForVisualization()
                                                        : source_crs);
            const side to_used =
                side_of(target.description().east_first ? target_crs->normalizeForVisualization()
                                                        : target_crs);
            texts.pipeline = pipeline_of(
                from_used, to_used, make_transformation(from_used, to_used, parameters, metadata),
                database);
        } else {
            const auto transformation = make_transformation(from, to, parameters, metadata);
            add_definitions(texts, transformation, metadata, database);
            texts.pipeline = pipeline_of(from, to, transformation, database);
        }
        if (metadata.exact) {
            // EPSG's methods are small-angle; PROJ's helmert step takes the
            // exact rotation matrix when told.
            const std::string convention = "+convention=coordinate_frame";
            const std::size_t at = texts.pipeline.find(convention);
            if (at == std::string::npos) {
                throw crs_error("PROJ's pipeline holds no coordinate-frame Helmert step");
            }
            texts.pipeline.insert(at + convention.size(), " +exact");
        }
    } catch (const crs_error&) {
        throw;
    } catch (const std::exception& e) {
        throw crs_error(std::string("PROJ cannot build the operation (PROJ: ") + e.what() + ")");
    }
    return texts;
}

} // namespace sevenparam
