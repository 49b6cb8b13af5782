#include "driver/run.h"

#include "driver/options.h"
#include "driver/platform.h"
#include "estimation/array_print.h"
#include "estimation/console_text.h"
#include "numlist/number_list.h"
#include "numlist/result_file.h"
#include "profile/profile.h"

#include <algorithm>
#include <chrono>
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
                    e.field_text() + "\": " + e.what());
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
    // One joined text serves the console line and the "output=" line.
    const std::string joined = join_numbers(predict_points(test_points, result));
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

std::string executable_directory(const char* program_path)
{
    if (program_path == nullptr) {
        return std::string();
    }
    const std::string path = program_path;
    const auto last = path.rfind('\\');
    if (last == std::string::npos) {
        return std::string();
    }
    return path.substr(0, last + 1);
}

std::optional<run_texts> read_profile_inputs(const std::string& profile_option,
                                             const std::string& exe_dir)
{
    std::string path = profile_option;
    if (!path_exists(path)) {
        path = exe_dir + profile_option;
        if (!path_exists(path)) {
            return std::nullopt;
        }
    }

    std::vector<char> buffer(profile_value_size);
    const auto read_key = [&](const char* key) {
        std::fill(buffer.begin(), buffer.end(), '\0');
        profile_read_string(path.c_str(), "", key, buffer.data(), "");
        // Bounded, so a value that filled the buffer to its last byte cannot
        // run past it.
        return std::string(buffer.begin(), std::find(buffer.begin(), buffer.end(), '\0'));
    };
    run_texts texts;
    texts.src = read_key(profile_key::src);
    texts.des = read_key(profile_key::des);
    texts.test = read_key(profile_key::test);
    return texts;
}

std::vector<double> predict_points(const std::vector<double>& test_points,
                                   const adjustment_result& result)
{
    std::vector<double> predicted;
    predicted.reserve(test_points.size() - test_points.size() % 3);
    for (std::size_t i = 0; i + 3 <= test_points.size(); i += 3) {
        // The parameters map centred source coordinates to centred target
        // coordinates: the centroids carry the translation of the datum change.
        const point_row centred =
            point_row(test_points[i], test_points[i + 1], test_points[i + 2]) - result.ave_src;
        const point_row moved =
            transform_point(centred(0), centred(1), centred(2), result.args) + result.ave_tar;
        predicted.push_back(moved(0));
        predicted.push_back(moved(1));
        predicted.push_back(moved(2));
    }
    return predicted;
}

int run(int argc, const char* const* argv, std::ostream& out, std::ostream& err)
{
    // Step 1: executable directory.
    const std::string exe_dir = executable_directory(argc > 0 ? argv[0] : nullptr);

    // Step 2: option table and argument echo.
    const option_table options = build_option_table(argc, argv, out);

    // Step 3: profile inputs.
    run_texts texts;
    if (const auto profile = find_option(options, option_name::inputfile)) {
        auto from_profile = read_profile_inputs(*profile, exe_dir);
        if (!from_profile) {
            return exit_failure;
        }
        texts = std::move(*from_profile);
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

} // namespace sevenparam
