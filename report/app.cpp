#include "report/app.h"

#if SEVENPARAM_HAVE_CRS
#include "report/crs_run.h"
#endif

#include "numlist/number_list.h"
#include "numlist/result_file.h"
#include "report/crs_options.h"
#include "report/html.h"
#include "report/inputs.h"
#include "report/json_report.h"
#include "report/report_options.h"
#include "report/text_report.h"
#include "sevenparam_version.h"

#include <CLI/CLI.hpp>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <ostream>
#include <vector>

namespace sevenparam {

namespace {

const std::string version_text = SEVENPARAM_VERSION;

// An output file is written as FILE + this, then renamed to FILE.
constexpr char temporary_suffix[] = ".sevenparam-report-part";

// The command line as given.
struct command_line {
    input_options inputs;
    std::optional<std::string> output, json, html;
    std::optional<std::string> sigma, alpha, rotation;
    std::vector<std::string> exclude;
    bool snoop = false;
    crs_options crs;
};

class usage_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

void report_error(std::ostream& err, const std::string& message)
{
    std::string line = message;
    // One line whatever the message holds.
    for (char& c : line) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    err << report_program_name << ": " << line << '\n' << std::flush;
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
              "Source points file: one point a line, [NAME] X Y Z");
    add_value(*app, report_option::des_file, "FILE", in.des_file, "Target points file");
    add_value(*app, report_option::test_file, "FILE", in.test_file, "Test points file");
    add_value(*app, report_option::output, "FILE", line.output,
              "Text report to this file (default: standard output)");
    add_value(*app, report_option::json, "FILE", line.json,
              "JSON report to this file ('-': standard output)");
    add_value(*app, report_option::html, "FILE", line.html, "HTML report to this file");
    add_value(*app, report_option::sigma, "S", line.sigma,
              "A-priori standard error of one coordinate, m (> 0): the w-test and the "
              "global test");
    add_value(*app, report_option::alpha, "A", line.alpha,
              "Significance of each test, 0 < A < 1 (default 0.001)");
    app->add_option_function<std::string>(
           report_option::exclude,
           [&line](const std::string& value) {
               std::size_t start = 0;
               for (;;) {
                   const std::size_t comma = value.find(',', start);
                   line.exclude.push_back(value.substr(start, comma - start));
                   if (comma == std::string::npos) {
                       break;
                   }
                   start = comma + 1;
               }
           },
           "Leave out these points, by name or 1-based number (repeatable)")
        ->type_name("NAME[,NAME...]")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    app->add_flag(report_option::snoop, line.snoop,
                  "Data snooping: remove the worst flagged point and estimate again, "
                  "until none is flagged");
    add_crs_options(*app, line.crs);
    add_value(*app, report_option::rotation, "MODEL", line.rotation,
              "Rotation model: linearised (default, as sevenparam) or exact");
    app->footer("Exit status: 0 success, 1 bad data or failed estimation, 2 usage error.");
    return app;
}

double positive_number(const std::string& text, const char* option, bool below_one)
{
    double value = 0;
    try {
        value = convert_number_field(text.data(), text.data() + text.size(), 1);
    } catch (const std::exception&) {
        throw usage_error(std::string(option) + " \"" + text + "\": not a number");
    }
    if (!(std::isfinite(value) && value > 0 && (!below_one || value < 1))) {
        throw usage_error(std::string(option) + " \"" + text + "\": " +
                          (below_one ? "must lie between 0 and 1" : "must be a positive number"));
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
    for (const std::string& name : line.exclude) {
        if (name.empty()) {
            throw usage_error(std::string(report_option::exclude) + ": empty point name");
        }
    }
    settings.exclude = line.exclude;
    settings.snoop = line.snoop;
    return settings;
}

// An output: where it goes and how it is written.
struct output {
    const char* option;
    std::string path; // standard_output_name for standard output
    std::function<void(std::ostream&)> write;
};

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
        for (std::size_t k = 0; k < i; ++k) {
            if (outputs[k].path == outputs[i].path) {
                throw usage_error(std::string(outputs[k].option) + " and " + outputs[i].option +
                                  " both name '" + outputs[i].path + "'");
            }
        }
    }
    return outputs;
}

// A file is replaced through a temporary file beside it only when it is a
// plain file or does not exist yet: a device (/dev/null), a pipe or a
// symbolic link is written in place, so that it stays what it is.
bool replaced_whole(const std::string& path)
{
    if (exists_as_other_than_file(path)) {
        return false;
    }
    std::error_code error;
    const auto status = std::filesystem::symlink_status(path, error);
    return error || !std::filesystem::exists(status) || std::filesystem::is_regular_file(status);
}

[[noreturn]] void cannot_write(const output& o, const std::string& reason)
{
    throw std::runtime_error(std::string(o.option) + " '" + o.path + "': cannot write: " + reason);
}

// Writes every file output (under a temporary name where replaced_whole),
// then renames the temporaries into place, then writes standard output. On a
// failure removes the temporaries and throws the message.
void write_outputs(std::vector<output>& outputs, std::ostream& out)
{
    struct pending {
        std::string temporary;
        const output* to;
    };
    std::vector<pending> temporaries;
    const auto discard = [&temporaries] {
        for (const pending& p : temporaries) {
            std::remove(p.temporary.c_str());
        }
    };
    std::vector<char> buffer(1 << 20);
    for (const output& o : outputs) {
        if (o.path == standard_output_name) {
            continue;
        }
        const bool whole = replaced_whole(o.path);
        const std::string target = whole ? o.path + temporary_suffix : o.path;
        std::ofstream file;
        file.rdbuf()->pubsetbuf(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        errno = 0;
        file.open(target, std::ios::out | std::ios::trunc);
        if (!file) {
            const std::string reason = errno ? std::strerror(errno) : "cannot open";
            discard();
            cannot_write(o, reason);
        }
        if (whole) {
            temporaries.push_back({target, &o});
        }
        o.write(file);
        file.close();
        if (!file) {
            const std::string reason = errno ? std::strerror(errno) : "write failed";
            discard();
            cannot_write(o, reason);
        }
    }
    for (std::size_t i = 0; i < temporaries.size(); ++i) {
        std::string reason;
        if (!replace_file(temporaries[i].temporary, temporaries[i].to->path, reason)) {
            temporaries.erase(temporaries.begin(), temporaries.begin() + static_cast<long>(i));
            discard();
            cannot_write(*temporaries.front().to, reason);
        }
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
                     const report_inputs& inputs, const std::string& title)
{
    for (output& o : outputs) {
        const std::string option = o.option;
        if (option == report_option::output) {
            o.write = [&](std::ostream& s) {
                write_text_report(s, report, title);
                write_crs_text(s, crs, report);
            };
        } else if (option == report_option::json) {
            o.write = [&](std::ostream& s) {
                write_json_report(s, report, version_text,
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
        outputs = outputs_of(line);
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

    try {
        const char* program_path = argc > 0 ? argv[0] : nullptr;
#if SEVENPARAM_HAVE_CRS
        const bool in_crs = any_crs_option(line.crs);
        crs_run crs;
        if (in_crs) {
            crs = open_crs_run(line.crs);
        }
        const report_inputs inputs = in_crs ? gather_crs_inputs(line.inputs, crs, program_path)
                                            : gather_inputs(line.inputs, program_path);
#else
        const report_inputs inputs = gather_inputs(line.inputs, program_path);
#endif
        quality_report report;
        try {
            report = build_quality_report(inputs.source, inputs.target, inputs.test, settings);
        } catch (const estimation_error& e) {
            // The estimation's message names the problem; the input goes first.
            throw estimation_error(inputs.common_origin + ": " + e.what());
        }
        const std::string title = std::string(report_program_name) + " " + version_text +
                                  ": quality report of a seven-parameter transformation";
        for (output& o : outputs) {
            if (o.option == report_option::output) {
                o.write = [&](std::ostream& s) { write_text_report(s, report, title); };
            } else if (o.option == report_option::json) {
                o.write = [&](std::ostream& s) { write_json_report(s, report, version_text); };
            } else {
                o.write = [&](std::ostream& s) { write_html_report(s, report, inputs.target); };
            }
        }
#if SEVENPARAM_HAVE_CRS
        if (in_crs) {
            complete_crs_run(crs, report, inputs, version_text, line.crs.geojson.has_value());
            set_crs_writers(outputs, crs, report, inputs, title);
        }
#endif
        write_outputs(outputs, out);
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
