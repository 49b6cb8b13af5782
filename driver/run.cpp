#include "driver/run.h"

#include "driver/options.h"
#include "estimation/array_print.h"
#include "estimation/console_text.h"
#include "numlist/message_excerpt.h"
#include "numlist/number_list.h"
#include "numlist/result_file.h"
#include "profile/profile.h"

#include <chrono>
#include <cmath>
#include <memory>
#include <ostream>
#include <utility>

namespace sevenparam {

namespace {

// Every message on the error stream names the program first.
constexpr char program_name[] = "sevenparam";

// The number lists of a run, parsed.
struct parsed_lists {
    std::unique_ptr<double[]> source;
    std::size_t source_count = 0;
    std::unique_ptr<double[]> target;
    std::size_t target_count = 0;
    std::vector<double> test_points;
};

void report(std::ostream& err, const std::string& message)
{
    err << program_name << ": " << message << '\n' << std::flush;
}

void report_unwritable(std::ostream& err, const std::string& path, const std::string& reason)
{
    report(err, "cannot write result file '" + path + "': " + reason);
}

// A command-line option only fills a text the profile left empty.
void fill_from_option(const option_table& options, const char* name, std::string& text)
{
    if (const auto value = find_option(options, name); value && text.empty()) {
        text = *value;
    }
}

template <typename ParseError>
void report_parse_error(std::ostream& err, const char* list, const ParseError& e)
{
    report(err, std::string(list) + " field " + std::to_string(e.field_number()) + " \"" +
                    message_excerpt(e.field_text()) + "\": " + e.what());
}

// The first value of `values` that is not finite, as "point N ... X = v"
// continued by `what`; empty when every value is finite.
std::string first_non_finite(const std::vector<double>& values, const char* what)
{
    static const char* const axis[] = {"X", "Y", "Z"};
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (!std::isfinite(values[i])) {
            return "test point " + std::to_string(i / 3 + 1) + " " + what + ": " + axis[i % 3] +
                   " = " + message_number(values[i]);
        }
    }
    return std::string();
}

// Step 3. A cut value would be read as a shorter list, or a changed number;
// the run stops before anything is computed. Returns false after reporting
// the first cut key.
bool profile_values_whole(const profile_inputs& inputs, std::ostream& err)
{
    const struct {
        bool cut;
        const char* key;
        const char* option;
    } keys[] = {
        {inputs.src_cut, profile_key::src, option_name::inputsrc},
        {inputs.des_cut, profile_key::des, option_name::inputdes},
        {inputs.test_cut, profile_key::test, option_name::inputtest},
    };
    for (const auto& k : keys) {
        if (k.cut) {
            report(err, std::string(k.key) + " in '" + inputs.path + "' is longer than " +
                            std::to_string(profile_value_size - 1) + " bytes; give it with " +
                            k.option + " instead");
            return false;
        }
    }
    return true;
}

// Step 7. Every list is parsed before anything is computed, so a bad field
// anywhere ends the run with nothing written. Returns false after reporting
// the first bad field (source first, then target, then test points).
bool parse_lists(const run_texts& texts, parsed_lists& lists, std::ostream& err)
{
    const char* list = profile_key::src;
    try {
        lists.source_count = 0;
        lists.source = read_coordinate_list(texts.src, lists.source_count);
        list = profile_key::des;
        lists.target_count = 0;
        lists.target = read_coordinate_list(texts.des, lists.target_count);
        list = profile_key::test;
        lists.test_points = parse_number_list(texts.test);
    } catch (const invalid_number_error& e) {
        report_parse_error(err, list, e);
        return false;
    } catch (const number_out_of_range_error& e) {
        report_parse_error(err, list, e);
        return false;
    }
    // One or two trailing values would be no point at all; predicting only
    // the whole triples would silently drop what the user asked for.
    if (lists.test_points.size() % 3 != 0) {
        report(err, "test holds " + std::to_string(lists.test_points.size()) +
                        " values, not whole points of 3");
        return false;
    }
    // Like a common point, a test point must be a place: "inf" or "nan"
    // would only come out again as a coordinate that is no number.
    if (const std::string bad =
            first_non_finite(lists.test_points, "has a coordinate that is not finite");
        !bad.empty()) {
        report(err, bad);
        return false;
    }
    return true;
}

// Step 10a.
int parameter_end(const adjustment_result& result, const std::string& result_path,
                  std::ostream& err)
{
    const std::string text =
        compose_parameter_output(result.args.data(), result.ave_src.data(), result.ave_tar.data());
    std::string reason;
    if (!write_text_file(result_path, text, reason)) {
        report_unwritable(err, result_path, reason);
        return exit_failure;
    }
    return exit_success;
}

// Step 10b. The report is printed in full even when the result file could not
// be written; the failure is reported after it.
int prediction_end(const std::vector<double>& test_points, const adjustment_result& result,
                   const run_texts& texts, const std::string& result_path, std::ostream& out,
                   std::ostream& err)
{
    // A finite test point can still overflow on its way; nothing is printed
    // or written for it.
    const std::vector<double> predicted = predict_points(test_points, result);
    if (const std::string bad =
            first_non_finite(predicted, "is carried to a coordinate that is not finite");
        !bad.empty()) {
        report(err, bad);
        return exit_failure;
    }
    // One joined text serves the console line and the "output=" line.
    const std::string joined = join_numbers(predicted);
    out << console_text::prediction_result << joined << '\n' << std::flush;

    std::string reason;
    const bool written = write_text_file(
        result_path, compose_prediction_output(texts.src, texts.des, texts.test, joined), reason);

    out << console_text::unit_weight_error << result.sigma0 << '\n' << std::flush;
    out << console_text::parameter_errors << '\n' << std::flush;
    print_array(out, "sigmax", result.sigmax);
    const std::chrono::duration<double> elapsed =
        std::chrono::steady_clock::now() - result.loop_started;
    out << console_text::elapsed_time << elapsed.count() << " s" << '\n' << std::flush;

    if (!written) {
        report_unwritable(err, result_path, reason);
        return exit_failure;
    }
    return exit_success;
}

} // namespace

std::vector<double> predict_points(const std::vector<double>& test_points,
                                   const adjustment_result& result)
{
    std::vector<double> predicted;
    predicted.reserve(test_points.size() - test_points.size() % 3);
    for (std::size_t i = 0; i + 3 <= test_points.size(); i += 3) {
        const point_row moved =
            carry_point(result, point_row(test_points[i], test_points[i + 1], test_points[i + 2]));
        predicted.push_back(moved(0));
        predicted.push_back(moved(1));
        predicted.push_back(moved(2));
    }
    return predicted;
}

namespace {

// Steps 1 to 11 of the run; run() adds the check of the console output.
int run_steps(int argc, const char* const* argv, std::ostream& out, std::ostream& err)
{
    // Step 1: executable directory.
    const std::string exe_dir = executable_directory(argc > 0 ? argv[0] : nullptr);

    // Step 2: option table and argument echo.
    const option_table options = build_option_table(argc, argv, out);

    // Step 3: profile inputs.
    run_texts texts;
    std::optional<file_identity> profile_identity;
    if (const auto profile = find_option(options, option_name::inputfile)) {
        auto from_profile = read_profile_inputs(*profile, exe_dir);
        if (!from_profile) {
            return exit_failure;
        }
        if (!profile_values_whole(*from_profile, err)) {
            return exit_failure;
        }
        texts.src = std::move(from_profile->src);
        texts.des = std::move(from_profile->des);
        texts.test = std::move(from_profile->test);
        profile_identity = from_profile->identity;
    }

    // Step 4: result file path. A present but empty "--outfile" stays empty
    // and fails when the file is written.
    const auto outfile = find_option(options, option_name::outfile);
    const std::string result_path = outfile ? *outfile : exe_dir + default_result_name;

    // Step 5: command-line fill-in; profile values win.
    fill_from_option(options, option_name::inputsrc, texts.src);
    fill_from_option(options, option_name::inputdes, texts.des);
    fill_from_option(options, option_name::inputtest, texts.test);

    // Step 6: run condition.
    if (texts.src.empty() || texts.des.empty()) {
        return exit_failure;
    }

    // Step 7: parsing.
    parsed_lists lists;
    if (!parse_lists(texts, lists, err)) {
        return exit_failure;
    }
    // The result would replace the user's lists with the run's output.
    if (profile_identity && names_same_file(result_path, *profile_identity)) {
        report(err, "result file '" + result_path +
                        "' is the profile file the lists were read from; give another " +
                        option_name::outfile);
        return exit_failure;
    }

    // Steps 8 to 10, guarded against the estimation's error.
    try {
        const adjustment_result result = estimate_seven_parameters(
            lists.source.get(), lists.source_count, lists.target.get(), lists.target_count, out);
        // Step 9: choice of the end.
        if (lists.test_points.empty()) {
            return parameter_end(result, result_path, err);
        }
        return prediction_end(lists.test_points, result, texts, result_path, out, err);
    } catch (const estimation_error& e) {
        err << e.what() << '\n' << std::flush;
        return exit_failure;
    }
}

} // namespace

int run(int argc, const char* const* argv, std::ostream& out, std::ostream& err)
{
    const int status = run_steps(argc, argv, out, err);
    // A failed write leaves the stream failed for good: one test at the end
    // covers every line of the run.
    out.flush();
    if (!out) {
        report(err, "cannot write standard output");
        return exit_failure;
    }
    return status;
}

} // namespace sevenparam
