#include "report/inputs.h"

#include "numlist/message_excerpt.h"
#include "numlist/number_list.h"
#include "numlist/point_file.h"
#include "profile/profile.h"
#include "report/report_options.h"

#include <cmath>
#include <cstring>
#include <functional>
#include <future>
#include <new>
#include <tuple>
#include <utility>
#include <vector>

namespace sevenparam {

namespace {

using row_major_points = Eigen::Matrix<double, Eigen::Dynamic, 3, Eigen::RowMajor>;

[[noreturn]] void usage(const std::string& message)
{
    throw input_error(report_exit_usage_error, message);
}

[[noreturn]] void bad_data(const std::string& message)
{
    throw input_error(report_exit_data_error, message);
}

// An input that does not fit in memory; `origin` is already in message form.
[[noreturn]] void out_of_memory(const std::string& origin)
{
    bad_data(origin + ": out of memory while reading");
}

point_matrix to_matrix(const std::vector<double>& xyz)
{
    const auto rows = static_cast<Eigen::Index>(xyz.size() / 3);
    return Eigen::Map<const row_major_points>(xyz.data(), rows, 3);
}

// One number list, from an option or a profile key: `origin` names it in
// messages ("--inputsrc", "profile p.ini key src").
std::vector<double> read_list(const std::string& text, const std::string& origin)
{
    std::vector<double> values;
    try {
        values = parse_number_list(text);
    } catch (const std::bad_alloc&) {
        out_of_memory(origin);
    } catch (const invalid_number_error& e) {
        bad_data(origin + " field " + std::to_string(e.field_number()) + " \"" +
                 message_excerpt(e.field_text()) + "\": not a number");
    } catch (const number_out_of_range_error& e) {
        bad_data(origin + " field " + std::to_string(e.field_number()) + " \"" +
                 message_excerpt(e.field_text()) + "\": out of range");
    }
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (!std::isfinite(values[i])) {
            bad_data(origin + " field " + std::to_string(i + 1) + ": not a finite number");
        }
    }
    if (values.size() % 3 != 0) {
        bad_data(origin + " holds " + counted(values.size(), "value") + ", not whole points of 3");
    }
    return values;
}

named_points numbered(const std::vector<double>& values)
{
    return named_points{numbered_names(values.size() / 3), to_matrix(values), {}};
}

report_inputs from_lists(const input_options& options, const char* program_path)
{
    // Each list with the name of where it came from.
    struct list_text {
        std::string text;
        std::string origin;
    };
    list_text src, des, test;
    const std::string shown = options.inputfile ? escape_control_bytes(*options.inputfile) : "";
    int open_error = 0; // of a profile that exists but could not be opened
    if (options.inputfile) {
        std::optional<profile_inputs> profile;
        try {
            profile = read_report_profile(*options.inputfile, program_path);
        } catch (const std::bad_alloc&) {
            out_of_memory("profile " + shown);
        }
        if (!profile) {
            bad_data(std::string(option_name::inputfile) + " '" + shown +
                     "': no such file here or beside the program");
        }
        // A value the profile could hold only in part is no list at all.
        for (const auto& [cut, key] : {std::pair{profile->src_cut, profile_key::src},
                                       std::pair{profile->des_cut, profile_key::des},
                                       std::pair{profile->test_cut, profile_key::test}}) {
            if (cut) {
                bad_data("profile " + shown + " key " + key + " is longer than " +
                         std::to_string(profile_value_size - 1) +
                         " bytes; give the points in point files instead");
            }
        }
        open_error = profile->open_error;
        const std::string prefix = "profile " + shown + " key ";
        src = {profile->src, prefix + profile_key::src};
        des = {profile->des, prefix + profile_key::des};
        test = {profile->test, prefix + profile_key::test};
    }
    // The option fills only what the profile left empty.
    const auto fill = [](list_text& list, const std::optional<std::string>& option,
                         const char* name) {
        if (list.text.empty() && option) {
            list = {*option, name};
        }
    };
    fill(src, options.inputsrc, option_name::inputsrc);
    fill(des, options.inputdes, option_name::inputdes);
    fill(test, options.inputtest, option_name::inputtest);
    if (src.text.empty() || des.text.empty()) {
        const bool no_source = src.text.empty();
        if (options.inputfile) {
            const char* const option = no_source ? option_name::inputsrc : option_name::inputdes;
            const char* const key = no_source ? profile_key::src : profile_key::des;
            if (open_error != 0) {
                bad_data(std::string(option_name::inputfile) + " '" + shown +
                         "' cannot be opened (" + std::strerror(open_error) + ") and " + option +
                         " gives no " + key + " either");
            }
            // The profile was found but gave nothing for the key.
            bad_data(std::string(option_name::inputfile) + " '" + shown + "' gives no " + key +
                     " (not a readable profile, or the key only under a [section]) and " + option +
                     " gives none either");
        }
        usage(std::string("no ") + (no_source ? "source" : "target") + " points: give " +
              (no_source ? option_name::inputsrc : option_name::inputdes) + ", a profile (" +
              option_name::inputfile + ") with key " +
              (no_source ? profile_key::src : profile_key::des) + ", or point files (" +
              report_option::src_file + ", " + report_option::des_file + ")");
    }

    const std::vector<double> source = read_list(src.text, src.origin);
    const std::vector<double> target = read_list(des.text, des.origin);
    const std::vector<double> tests = read_list(test.text, test.origin);
    check_common_counts(source.size() / 3, src.origin, target.size() / 3, des.origin);
    report_inputs inputs{numbered(source), numbered(target), numbered(tests),
                         src.origin + " and " + des.origin};
    // Lists give no precisions of their own: only the options do.
    const precision_options& precision = options.precision;
    for (const auto& [points, sigma] : {std::pair{&inputs.source, precision.src_sigma},
                                        std::pair{&inputs.target, precision.des_sigma},
                                        std::pair{&inputs.test, precision.src_sigma}}) {
        if (sigma) {
            points->covariance.assign(points->names.size(),
                                      Eigen::Matrix3d::Identity() * (*sigma * *sigma));
        }
    }
    return inputs;
}

point_file read_file(const std::string& path)
{
    try {
        return read_point_file(path);
    } catch (const point_file_error& e) {
        bad_data(e.what());
    } catch (const std::bad_alloc&) {
        // What was read so far is freed by now, so the message fits.
        out_of_memory(escape_control_bytes(path));
    }
}

// A point file with its points as a matrix, converted on the thread that read it.
struct read_points {
    point_file file;
    point_matrix xyz;
};

read_points read_with_matrix(const std::string& path)
{
    read_points points{read_file(path), {}};
    points.xyz = to_matrix(points.file.xyz);
    return points;
}

report_inputs from_files(const input_options& options)
{
    for (const auto& [path, option] : {std::pair{&options.src_file, report_option::src_file},
                                       std::pair{&options.des_file, report_option::des_file},
                                       std::pair{&options.test_file, report_option::test_file}}) {
        if (*path && (*path)->empty()) {
            usage(std::string(option) + ": empty file name");
        }
    }
    if (!options.src_file || !options.des_file) {
        usage(std::string("point files come in pairs: give both ") + report_option::src_file +
              " and " + report_option::des_file);
    }
    const std::string src_shown = escape_control_bytes(*options.src_file);
    const std::string des_shown = escape_control_bytes(*options.des_file);
    report_inputs inputs;
    own_precisions given; // the files that give precisions of their own
    {
        // The two files are read at once, one on another thread: parsing is
        // most of the time a large network takes. The source's error, if
        // any, is reported first all the same.
        auto pending_target =
            std::async(std::launch::async, read_with_matrix, std::cref(*options.des_file));
        read_points source_points;
        try {
            source_points = read_with_matrix(*options.src_file);
        } catch (...) {
            pending_target.wait();
            throw;
        }
        read_points target_points = pending_target.get();
        point_file& source = source_points.file;
        point_file& target = target_points.file;
        check_common_counts(source.size(), src_shown, target.size(), des_shown);
        try {
            inputs.source.names = pair_point_names(source, target);
        } catch (const point_file_error& e) {
            bad_data(e.what());
        }
        // Where both files name their points (the same names), each side
        // takes its own file's.
        inputs.target.names =
            target.names.empty() ? inputs.source.names : std::move(target.names);
        inputs.source.xyz = std::move(source_points.xyz);
        inputs.target.xyz = std::move(target_points.xyz);
        given.source = source.precision != point_precision::none ? src_shown : "";
        given.target = target.precision != point_precision::none ? des_shown : "";
        check_precisions(options, given, false);
        inputs.source.covariance = take_covariances(source, options.precision.src_sigma);
        inputs.target.covariance = take_covariances(target, options.precision.des_sigma);
    }
    inputs.common_origin = src_shown + " and " + des_shown;
    if (options.test_file) {
        point_file test = read_file(*options.test_file);
        inputs.test.names = point_names(test);
        inputs.test.xyz = to_matrix(test.xyz);
        if (test.precision != point_precision::none) {
            given.test = escape_control_bytes(*options.test_file);
        }
        check_precisions(options, given, false);
        inputs.test.covariance = take_covariances(test, options.precision.src_sigma);
    } else {
        inputs.test.xyz.resize(0, 3);
    }
    check_precisions(options, given, true);
    return inputs;
}

} // namespace

void check_common_counts(std::size_t source, const std::string& source_origin, std::size_t target,
                         const std::string& target_origin)
{
    if (source != target) {
        bad_data(source_origin + " holds " + counted(source, "point") + ", " + target_origin +
                 " holds " + std::to_string(target) +
                 ": common points pair by order, so the counts must agree");
    }
    if (source < 3) {
        bad_data(source_origin + " and " + target_origin + " hold " +
                 counted(source, "common point") + ": at least 3 are needed");
    }
}

void check_precisions(const input_options& options, const own_precisions& given, bool files_read)
{
    const precision_options& p = options.precision;
    const auto beside_own = [](const char* option, const std::string& file) {
        usage(std::string(option) + " cannot be given with " + file +
              ", which gives its points' own precisions");
    };
    for (const auto& [sigma, option, file] :
         {std::tuple{p.src_sigma.has_value(), report_option::src_sigma, &given.source},
          std::tuple{p.src_sigma.has_value(), report_option::src_sigma, &given.test},
          std::tuple{p.des_sigma.has_value(), report_option::des_sigma, &given.target}}) {
        if (sigma && !file->empty()) {
            beside_own(option, *file);
        }
    }
    if (p.sigma_apriori) {
        const std::string why = ": with precisions the a-priori variance factor is 1";
        if (p.src_sigma || p.des_sigma) {
            usage(std::string(report_option::sigma) + " cannot be given with " +
                  (p.src_sigma ? report_option::src_sigma : report_option::des_sigma) + why);
        }
        for (const std::string* file : {&given.source, &given.target, &given.test}) {
            if (!file->empty()) {
                usage(std::string(report_option::sigma) + " cannot be given with the precisions " +
                      *file + " gives" + why);
            }
        }
    }
    const bool files = options.src_file || options.des_file || options.test_file;
    if (p.variance_components && (files_read || !files)) {
        for (const auto& [sigma, own, option, role, file] :
             {std::tuple{p.src_sigma.has_value(), &given.source, report_option::src_sigma, "source",
                         &options.src_file},
              std::tuple{p.des_sigma.has_value(), &given.target, report_option::des_sigma, "target",
                         &options.des_file}}) {
            if (!sigma && own->empty()) {
                usage(std::string(report_option::variance_components) +
                      " needs precisions of both the source and the target points, and the " +
                      role + " points have none: give " +
                      (*file ? "standard deviations or covariances as columns of " +
                                   escape_control_bytes(**file) + ", or "
                             : std::string()) +
                      option);
            }
        }
    }
}

std::vector<Eigen::Matrix3d> take_covariances(point_file& points, std::optional<double> sigma)
{
    std::vector<Eigen::Matrix3d> covariances;
    const std::size_t n = points.size();
    const double* v = points.precision_values.data();
    switch (points.precision) {
    case point_precision::none:
        if (sigma) {
            covariances.assign(n, Eigen::Matrix3d::Identity() * (*sigma * *sigma));
        }
        break;
    case point_precision::sigmas:
        covariances.resize(n);
        for (std::size_t i = 0; i < n; ++i, v += 3) {
            covariances[i] = Eigen::Vector3d(v[0] * v[0], v[1] * v[1], v[2] * v[2]).asDiagonal();
        }
        break;
    case point_precision::covariance:
        covariances.resize(n);
        for (std::size_t i = 0; i < n; ++i, v += 6) {
            covariances[i] << v[0], v[1], v[2], v[1], v[3], v[4], v[2], v[4], v[5];
        }
        break;
    }
    std::vector<double>().swap(points.precision_values);
    return covariances;
}

std::optional<profile_inputs> read_report_profile(const std::string& profile,
                                                  const char* program_path)
{
    return read_profile_inputs(profile, executable_directory(program_path));
}

report_inputs gather_inputs(const input_options& options, const char* program_path)
{
    check_precisions(options, own_precisions(), false);
    const bool lists =
        options.inputsrc || options.inputdes || options.inputtest || options.inputfile;
    const bool files = options.src_file || options.des_file || options.test_file;
    if (lists && files) {
        usage(std::string("number lists (") + option_name::inputsrc + ", " + option_name::inputdes +
              ", " + option_name::inputtest + ", " + option_name::inputfile +
              ") and point files (" + report_option::src_file + ", " + report_option::des_file +
              ", " + report_option::test_file + ") cannot be mixed");
    }
    if (!lists && !files) {
        usage(std::string("no common points: give ") + report_option::src_file + " and " +
              report_option::des_file + ", or " + option_name::inputsrc + " and " +
              option_name::inputdes + " (or " + option_name::inputfile + ")");
    }
    return files ? from_files(options) : from_lists(options, program_path);
}

} // namespace sevenparam
