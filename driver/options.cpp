#include "driver/options.h"

#include <ostream>

namespace sevenparam {

namespace {

const char* const all_option_names[] = {
    option_name::inputfile, option_name::outfile,   option_name::inputsrc,
    option_name::inputdes,  option_name::inputtest,
};

} // namespace

bool is_option_name(const std::string& argument)
{
    for (const char* name : all_option_names) {
        if (argument == name) {
            return true;
        }
    }
    return false;
}

option_table build_option_table(int argc, const char* const* argv, std::ostream& echo)
{
    option_table table;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i] != nullptr ? argv[i] : "";
        // The echo comes before classification, so dropped arguments show too.
        echo << argument << '\n' << std::flush;

        if (is_option_name(argument)) {
            table[argument].clear();
            continue;
        }
        for (auto& entry : table) {
            if (entry.second.empty()) {
                entry.second = argument;
                break;
            }
        }
    }
    return table;
}

std::optional<std::string> find_option(const option_table& table, const std::string& name)
{
    const auto it = table.find(name);
    if (it == table.end()) {
        return std::nullopt;
    }
    return it->second;
}

} // namespace sevenparam
