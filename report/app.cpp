#include "report/app.h"

#include "estimation/chunks.h"
#include "numlist/message_excerpt.h"
#include "numlist/number_list.h"
#include "numlist/result_file.h"
#include "profile/profile_inputs.h"
#include "report/crs_options.h"
#include "report/html.h"
#include "report/inputs.h"
#include "report/json_report.h"
#include "report/platform.h"
#include "report/report_options.h"
#include "report/text_report.h"
#include "report/warnings.h"
#include "sevenparam_version.h"
#if SEVENPARAM_HAVE_CRS
#include "report/crs_run.h"
#endif

#include <CLI/CLI.hpp>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iostream>
#include <memory>
#include <ostream>
#include <vector>

namespace sevenparam {

namespace {

const std::string version_text = SEVENPARAM_VERSION;

// The command line as given.
struct command_line {
    input_options inputs;
    std::optional<std::string> output, json, html;
    std::optional<std::string> sigma, alpha, rotation;
    std::vector<std::string> exclude;
    bool snoop = false;
    std::optional<std::string> alpha_family, threads;
    std::optional<std::string> src_sigma, des_sigma, robust;
    bool variance_components = false;
    bool progress = false;
    crs_options crs;
};

class usage_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

void report_error(std::ostream& err, const std::string& message)
{
    std::string line = message;
    // One line whatever the message holds, and no terminal control from a
    // value quoted in it.
    for (char& c : line) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    err << report_program_name << ": " << escape_control_bytes(line) << '\n' << std::flush;
}

// The report's warnings on standard error, one line each, before any output
// is written.
void report_warnings_to(std::ostream& err, const quality_report& report)
{
    for (const std::string& warning : report_warnings(report)) {
        err << report_program_name << ": warning: " << warning << '\n';
    }
    err << std::flush;
}

void add_value(CLI::App& app, const char* name, const char* value_name,
               std::optional<std::string>& target, const std::string& description)
{
    app.add_option_function<std::string>(
           name, [&target](const std::string& value) { target = value; }, description)
        ->type_name(value_name);
}

// The options of coordinate reference systems (report/crs_run.h).
void add_crs_options(CLI::App& app, crs_options& crs)
{
    add_value(app, report_option::src_crs, "CRS", crs.src_crs,
              "Source CRS of the common and test points: EPSG:CODE, WKT, PROJJSON, a PROJ "
              "string with +type=crs, or a file holding one (default: geocentric XYZ)");
    add_value(app, report_option::des_crs, "CRS", crs.des_crs, "Target CRS of the common points");
    app.add_flag(report_option::east_first, crs.east_first,
                 "Read and write CRS coordinates longitude or easting first, not in the CRS's "
                 "own axis order");
    add_value(app, report_option::wkt, "FILE", crs.wkt,
              "The transformation as a WKT2:2019 coordinate operation to this file");
    add_value(app, report_option::projjson, "FILE", crs.projjson,
              "The transformation as a PROJJSON coordinate operation to this file");
    add_value(app, report_option::geojson, "FILE", crs.geojson,
              "Common and test points as a GeoJSON map layer to this file");
}

// Whether any CRS option was given.
bool any_crs_option(const crs_options& crs)
{
    return crs.src_crs || crs.des_crs || crs.east_first || crs.wkt || crs.projjson || crs.geojson;
}

std::unique_ptr<CLI::App> make_parser(command_line& line)
{
    auto app = std::make_unique<CLI::App>(
        "The quality report of a seven-parameter datum transformation: the parameters in "
        "every form (centroid-based, Bursa-Wolf, PROJ), their precision, the residuals and "
        "their tests.",
        report_program_name);
    app->set_help_flag(std::string("-h,") + report_option::help, "Print this help and exit");
    app->set_version_flag(report_option::version,
                          std::string(report_program_name) + " " + version_text,
                          "Print the version and exit");
    input_options& in = line.inputs;
    add_value(*app, option_name::inputsrc, "LIST", in.inputsrc,
              "Source points as a number list X1,Y1,Z1,X2,... (as sevenparam)");
    add_value(*app, option_name::inputdes, "LIST", in.inputdes, "Target points as a number list");
    add_value(*app, option_name::inputtest, "LIST", in.inputtest, "Test points as a number list");
    add_value(*app, option_name::inputfile, "PROFILE", in.inputfile,
              "Profile whose keys src, des, test give the lists (its values win)");
    add_value(*app, report_option::src_file, "FILE", in.src_file,
              "Source points file: one point a line, [NAME] X Y Z, then optionally sX sY sZ "
              "(m) or the covariance qxx qxy qxz qyy qyz qzz (m^2) for every point");
    add_value(*app, report_option::des_file, "FILE", in.des_file, "Target points file");
    add_value(*app, report_option::test_file, "FILE", in.test_file, "Test points file");
    add_value(*app, report_option::output, "FILE", line.output,
              "Text report to this file (default: standard output)");
    add_value(*app, report_option::json, "FILE", line.json,
              "JSON report to this file ('-': standard output)");
    add_value(*app, report_option::html, "FILE", line.html, "HTML report to this file");
    add_value(*app, report_option::sigma, "S", line.sigma,
              "A-priori standard error of one coordinate, m (> 0): the w-test and the "
              "global test (not with precisions)");
    add_value(*app, report_option::src_sigma, "S", line.src_sigma,
              "Standard deviation of every source coordinate, m (> 0), for source and test "
              "points that give none: an adjustment with errors in both systems");
    add_value(*app, report_option::des_sigma, "S", line.des_sigma,
              "Standard deviation of every target coordinate, m (> 0), for target points "
              "that give none");
    app->add_flag(report_option::variance_components, line.variance_components,
                  "Estimate a variance factor for each system's precisions and refit (needs "
                  "precisions of both systems)");
    add_value(*app, report_option::robust, "ESTIMATOR", line.robust,
              "Robust estimation before the tests: huber or danish");
    add_value(*app, report_option::alpha, "A", line.alpha,
              "Significance of each test, 0 < A < 1 (default 0.001)");
    // Every occurrence counts: a callback of one string would see only the
    // first of --exclude A --exclude B.
    app->add_option_function<std::vector<std::string>>(
           report_option::exclude,
           [&line](const std::vector<std::string>& values) {
               for (const std::string& value : values) {
                   std::size_t start = 0;
                   for (;;) {
                       const std::size_t comma = value.find(',', start);
                       line.exclude.push_back(value.substr(start, comma - start));
                       if (comma == std::string::npos) {
                           break;
                       }
                       start = comma + 1;
                   }
               }
           },
           "Leave out these points, by name or 1-based number (repeatable)")
        ->type_name("NAME[,NAME...]")
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    app->add_flag(report_option::snoop, line.snoop,
                  "Data snooping: remove the worst flagged point and estimate again, "
                  "until none is flagged");
    add_crs_options(*app, line.crs);
    add_value(*app, report_option::rotation, "MODEL", line.rotation,
              "Rotation model: linearised (default, as sevenparam) or exact");
    add_value(*app, report_option::alpha_family, "A", line.alpha_family,
              "Familywise significance, 0 < A < 1, instead of --alpha: the chance of a false "
              "alarm anywhere; each of the 3n tests takes Sidak's 1 - (1 - A)^(1/3n)");
    add_value(*app, report_option::threads, "N", line.threads,
              "Threads for the passes over the points (default: the machine's); the report "
              "is the same for any N");
    app->add_flag(report_option::progress, line.progress,
                  "Progress lines on standard error (by default only on a terminal, after 2 s)");
    app->footer("Exit status: 0 success, 1 bad data or failed estimation, 2 usage error.");
    return app;
}

double positive_number(const std::string& text, const char* option, bool below_one)
{
    double value = 0;
    try {
        value = convert_number_field(text.data(), text.data() + text.size(), 1);
    } catch (const number_out_of_range_error&) {
        throw usage_error(std::string(option) + " \"" + text +
                          "\": out of the range of a double (about 5e-324 to 1.8e308)");
    } catch (const std::exception&) {
        throw usage_error(std::string(option) + " \"" + text + "\": not a number");
    }
    if (!(std::isfinite(value) && value > 0 && (!below_one || value < 1))) {
        throw usage_error(std::string(option) + " \"" + text + "\": " +
                          (below_one ? "must lie between 0 and 1" : "must be a positive number"));
    }
    return value;
}

// A thread count: a whole number from 1 to max_threads.
unsigned thread_count(const std::string& text)
{
    constexpr unsigned max_threads = 1024;
    unsigned value = 0;
    bool digits = !text.empty() && text.size() <= 4;
    for (const char c : text) {
        digits = digits && c >= '0' && c <= '9';
        if (digits) {
            value = value * 10 + static_cast<unsigned>(c - '0');
        }
    }
    if (!digits || value < 1 || value > max_threads) {
        throw usage_error(std::string(report_option::threads) + " \"" + text +
                          "\": must be a whole number from 1 to " + std::to_string(max_threads));
    }
    return value;
}

report_settings settings_of(const command_line& line)
{
    report_settings settings;
    if (line.sigma) {
        settings.sigma_apriori = positive_number(*line.sigma, report_option::sigma, false);
    }
    if (line.alpha) {
        settings.alpha = positive_number(*line.alpha, report_option::alpha, true);
    }
    if (line.rotation) {
        if (*line.rotation == rotation_exact) {
            settings.model = rotation_model::exact;
        } else if (*line.rotation != rotation_linearised) {
            throw usage_error(std::string(report_option::rotation) + " \"" + *line.rotation +
                              "\": must be " + rotation_linearised + " or " + rotation_exact);
        }
    }
    if (line.alpha_family) {
        if (line.alpha) {
            throw usage_error(std::string(report_option::alpha) + " and " +
                              report_option::alpha_family + " cannot be given together");
        }
        settings.alpha_family =
            positive_number(*line.alpha_family, report_option::alpha_family, true);
    }
    settings.threads = default_threads();
    if (line.threads) {
        settings.threads = thread_count(*line.threads);
    }
    for (const std::string& name : line.exclude) {
        if (name.empty()) {
            throw usage_error(std::string(report_option::exclude) + ": empty point name");
        }
    }
    settings.exclude = line.exclude;
    settings.snoop = line.snoop;
    if (line.robust) {
        if (*line.robust == robust_huber) {
            settings.robust = robust_estimator::huber;
        } else if (*line.robust == robust_danish) {
            settings.robust = robust_estimator::danish;
        } else {
            throw usage_error(std::string(report_option::robust) + " \"" + *line.robust +
                              "\": must be " + robust_huber + " or " + robust_danish);
        }
    }
    settings.variance_components = line.variance_components;
    if (settings.variance_components && settings.robust != robust_estimator::none) {
        throw usage_error(std::string(report_option::variance_components) +
                          " cannot be given with " + report_option::robust +
                          ": the blunders would spoil the components, and the weights the "
                          "variance factors");
    }
    return settings;
}

// The precision options for the inputs (report/inputs.h), their values
// checked.
precision_options precision_of(const command_line& line)
{
    precision_options precision;
    if (line.src_sigma) {
        precision.src_sigma = positive_number(*line.src_sigma, report_option::src_sigma, false);
    }
    if (line.des_sigma) {
        precision.des_sigma = positive_number(*line.des_sigma, report_option::des_sigma, false);
    }
    precision.sigma_apriori = line.sigma.has_value();
    precision.variance_components = line.variance_components;
    return precision;
}

// An output: where it goes and how it is written.
struct output {
    const char* option;
    std::string path; // standard_output_name for standard output
    std::function<void(std::ostream&)> write;
};

std::string same_file_message(const char* option_a, const std::string& path_a,
                              const char* option_b, const std::string& path_b)
{
    return std::string(option_a) + " '" + path_a + "' and " + option_b + " '" +
           path_b + "' name the same file";
}

std::vector<output> outputs_of(const command_line& line)
{
    std::vector<output> outputs;
    const bool json_to_stdout = line.json && *line.json == standard_output_name;
    if (line.output || !json_to_stdout) {
        outputs.push_back({report_option::output, line.output ? *line.output : "-", {}});
    }
    if (line.json) {
        outputs.push_back({report_option::json, *line.json, {}});
    }
    if (line.html) {
        outputs.push_back({report_option::html, *line.html, {}});
    }
    std::vector<write_destination> destinations;
    for (const auto& [option, path] : {std::pair{report_option::wkt, line.crs.wkt},
                                       std::pair{report_option::projjson, line.crs.projjson},
                                       std::pair{report_option::geojson, line.crs.geojson}}) {
        if (path) {
            if (*path == standard_output_name) {
                throw usage_error(std::string(option) + ": needs a file name");
            }
            outputs.push_back({option, *path, {}});
        }
    }
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        if (outputs[i].path.empty()) {
            throw usage_error(std::string(outputs[i].option) + ": empty file name");
        }
        if (outputs[i].path == standard_output_name && outputs[i].option == report_option::html) {
            throw usage_error(std::string(report_option::html) + ": needs a file name");
        }
        // Two outputs on one file would leave only one of them, whatever
        // names they are given by: another spelling, a link, /dev/stdout.
        destinations.push_back(outputs[i].path == standard_output_name
                                   ? destination_of_standard_output()
                                   : destination_of(outputs[i].path));
        for (std::size_t k = 0; k < i; ++k) {
            if (outputs[k].path == outputs[i].path ||
                same_destination(destinations[k], destinations[i])) {
                throw usage_error(same_file_message(outputs[k].option, outputs[k].path,
                                                    outputs[i].option, outputs[i].path));
            }
        }
    }
    return outputs;
}

// Refuses an output that would replace one of the input files: the point
// files, and the profile where it was found.
void refuse_outputs_over_inputs(const std::vector<output>& outputs, const command_line& line,
                                const char* program_path)
{
    const input_options& in = line.inputs;
    std::vector<std::pair<const char*, std::string>> inputs;
    // A CRS may be given as the name of a file holding its definition.
    for (const auto& [option, path] : {std::pair{report_option::src_file, &in.src_file},
                                       std::pair{report_option::des_file, &in.des_file},
                                       std::pair{report_option::test_file, &in.test_file},
                                       std::pair{report_option::src_crs, &line.crs.src_crs},
                                       std::pair{report_option::des_crs, &line.crs.des_crs}}) {
        if (*path) {
            inputs.emplace_back(option, **path);
        }
    }
    if (in.inputfile) {
        if (const auto path = profile_path(*in.inputfile, executable_directory(program_path))) {
            inputs.emplace_back(option_name::inputfile, *path);
        }
    }
    for (const auto& [option, path] : inputs) {
        const write_destination input = destination_of(path);
        if (!input.exists) {
            continue;
        }
        for (const output& o : outputs) {
            if (o.path != standard_output_name && same_destination(input, destination_of(o.path))) {
                throw usage_error(same_file_message(o.option, o.path, option, path) +
                                  ": an output may not replace an input");
            }
        }
    }
}

[[noreturn]] void cannot_write(const output& o, const std::string& reason)
{
    throw std::runtime_error(std::string(o.option) + " '" + o.path +
                             "': cannot write: " + reason);
}

// Writes every file output, each to new content beside its file (numlist's
// staged files), then puts them all in place, then writes standard output.
// On a failure before they are in place, nothing has changed at any path.
void write_outputs(std::vector<output>& outputs, std::ostream& out)
{
    std::vector<staged_file> staged(outputs.size());
    const auto discard = [&staged] {
        for (staged_file& file : staged) {
            discard_staged_file(file);
        }
    };
    try {
        for (std::size_t i = 0; i < outputs.size(); ++i) {
            const output& o = outputs[i];
            if (o.path == standard_output_name) {
                continue;
            }
            std::string reason;
            if (!stage_file(o.path, staged[i], reason)) {
                cannot_write(o, reason);
            }
            file_output_buffer buffer(staged[i].file);
            std::ostream stream(&buffer);
            errno = 0;
            o.write(stream);
            stream.flush();
            if (!stream) {
                cannot_write(o, std::strerror(errno != 0 ? errno : EIO));
            }
            if (!finish_staged_file(staged[i], reason)) {
                cannot_write(o, reason);
            }
        }
        for (std::size_t i = 0; i < outputs.size(); ++i) {
            std::string reason;
            if (outputs[i].path != standard_output_name &&
                !commit_staged_file(staged[i], reason)) {
                cannot_write(outputs[i], reason);
            }
        }
    } catch (...) {
        discard();
        throw;
    }
    for (const output& o : outputs) {
        if (o.path == standard_output_name) {
            o.write(out);
            out.flush();
            if (!out) {
                throw std::runtime_error(std::string(o.option) +
                                         ": cannot write to standard output");
            }
        }
    }
}

#if SEVENPARAM_HAVE_CRS
// The writers of a run in coordinate reference systems: the reports with
// their CRS parts, the operation files and the map layer. An operation PROJ
// could not express fails the run before anything is written.
void set_crs_writers(std::vector<output>& outputs, const crs_run& crs, const quality_report& report,
                     const report_inputs& inputs, const std::string& title, unsigned threads)
{
    for (output& o : outputs) {
        const std::string option = o.option;
        if (option == report_option::output) {
            o.write = [&](std::ostream& s) {
                write_text_report(s, report, title, threads);
                write_crs_text(s, crs, report);
            };
        } else if (option == report_option::json) {
            o.write = [&](std::ostream& s) {
                write_json_report(s, report, version_text, threads,
                                  [&](std::ostream& t) { write_crs_json(t, crs, report); });
            };
        } else if (option == report_option::html) {
            o.write = [&](std::ostream& s) {
                write_html_report(s, report, inputs.target,
                                  [&](std::ostream& t) { write_crs_html(t, crs, report); });
            };
        } else if (option == report_option::geojson) {
            o.write = [&](std::ostream& s) { write_geojson(s, crs, report); };
        } else if (option == report_option::wkt || option == report_option::projjson) {
            const bool wkt = option == report_option::wkt;
            const std::string& text = wkt ? crs.operation.wkt : crs.operation.projjson;
            if (text.empty()) {
                throw std::runtime_error(option + ": no " + (wkt ? "WKT" : "PROJJSON") +
                                         " to write: " + crs.operation.missing);
            }
            o.write = [&text](std::ostream& s) { s << text << '\n'; };
        }
    }
}
#endif
// Progress lines on `err`: every one with --progress; on a terminal, only
// once the run has taken more than quiet_seconds, so that a short run says
// nothing.
struct progress_lines {
    static constexpr double quiet_seconds = 2.0;
    std::ostream* err = nullptr; // null: no progress at all
    bool always = false;
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();

    void operator()(const std::string& text) const
    {
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
        if (err == nullptr || (!always && elapsed.count() < quiet_seconds)) {
            return;
        }
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.1f", elapsed.count());
        *err << report_program_name << ": [" << seconds << " s] " << text << '\n' << std::flush;
    }
};

progress_lines progress_of(const command_line& line, std::ostream& err)
{
    progress_lines progress;
    progress.always = line.progress;
    if (line.progress || (&err == &std::cerr && standard_error_is_terminal())) {
        progress.err = &err;
    }
    return progress;
}

} // namespace

int run_report(int argc, const char* const* argv, std::ostream& out, std::ostream& err)
{
    command_line line;
    std::vector<output> outputs;
    report_settings settings;
    try {
        const auto app = make_parser(line);
        try {
            app->parse(argc, argv);
        } catch (const CLI::CallForHelp&) {
            out << app->help() << std::flush;
            return report_exit_success;
        } catch (const CLI::CallForVersion& e) {
            out << e.what() << '\n' << std::flush;
            return report_exit_success;
        } catch (const CLI::ParseError& e) {
            throw usage_error(std::string(e.what()) + " (see " + report_option::help + ")");
        }
        settings = settings_of(line);
        line.inputs.precision = precision_of(line);
        outputs = outputs_of(line);
        refuse_outputs_over_inputs(outputs, line, argc > 0 ? argv[0] : nullptr);
#if !SEVENPARAM_HAVE_CRS
        if (any_crs_option(line.crs)) {
            throw usage_error(
                "this build of " + std::string(report_program_name) +
                " has no CRS support (it was built without PROJ): " + report_option::src_crs +
                ", " + report_option::des_crs + ", " + report_option::east_first + ", " +
                report_option::wkt + ", " + report_option::projjson + " and " +
                report_option::geojson + " cannot be used");
        }
#endif
    } catch (const usage_error& e) {
        report_error(err, e.what());
        return report_exit_usage_error;
    }

    const progress_lines progress = progress_of(line, err);
    settings.progress = progress;
    try {
        progress("reading the points");
        const char* program_path = argc > 0 ? argv[0] : nullptr;
#if SEVENPARAM_HAVE_CRS
        const bool in_crs = any_crs_option(line.crs);
        crs_run crs;
        if (in_crs) {
            crs = open_crs_run(line.crs);
        }
        report_inputs inputs = in_crs ? gather_crs_inputs(line.inputs, crs, program_path)
                                      : gather_inputs(line.inputs, program_path);
#else
        report_inputs inputs = gather_inputs(line.inputs, program_path);
#endif
        progress("estimating and testing " + std::to_string(inputs.source.names.size()) +
                 " common points");
        quality_report report;
        try {
            // The outputs take no covariance of the target points: freed on the way.
            report =
                build_quality_report_freeing(inputs.source, inputs.target, inputs.test, settings);
        } catch (const estimation_error& e) {
            // The estimation's message names the problem; the input goes first.
            throw estimation_error(inputs.common_origin + ": " + e.what());
        }
        report_warnings_to(err, report);
        progress("writing the reports");
        const std::string title = std::string(report_program_name) + " " + version_text +
                                  ": quality report of a seven-parameter transformation";
        for (output& o : outputs) {
            if (o.option == report_option::output) {
                o.write = [&](std::ostream& s) {
                    write_text_report(s, report, title, settings.threads);
                };
            } else if (o.option == report_option::json) {
                o.write = [&](std::ostream& s) {
                    write_json_report(s, report, version_text, settings.threads);
                };
            } else {
                o.write = [&](std::ostream& s) { write_html_report(s, report, inputs.target); };
            }
        }
#if SEVENPARAM_HAVE_CRS
        if (in_crs) {
            complete_crs_run(crs, report, inputs, version_text, line.crs.geojson.has_value());
            set_crs_writers(outputs, crs, report, inputs, title, settings.threads);
        }
#endif
        write_outputs(outputs, out);
        progress("done");
        // A large run's report and inputs hold hundreds of megabytes (a
        // million rows and names), freed on two threads at once rather than
        // one after the other at the run's end.
        std::thread free_report([&report] { const quality_report gone = std::move(report); });
        {
            const report_inputs gone = std::move(inputs);
        }
        free_report.join();
    } catch (const input_error& e) {
        report_error(err, e.what());
        return e.status();
    } catch (const estimation_error& e) {
        report_error(err, e.what());
        return report_exit_data_error;
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& e) {
        report_error(err, e.what());
        return report_exit_data_error;
    }
    return report_exit_success;
}

} // namespace sevenparam
