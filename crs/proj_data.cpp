#include "crs/proj_data.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <vector>

namespace sevenparam {

std::string proj_data_directory()
{
#ifdef _WIN32
    // The long-path limit of the system; a longer path is cut, and PROJ
    // then says that it finds no database.
    std::vector<wchar_t> path(32768);
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0 || length >= path.size()) {
        return std::string();
    }
    std::wstring directory(path.data(), length);
    const auto last = directory.find_last_of(L"\\/");
    directory.resize(last == std::wstring::npos ? 0 : last);
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, directory.data(),
                                          static_cast<int>(directory.size()), nullptr, 0,
                                          nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0) {
        WideCharToMultiByte(CP_UTF8, 0, directory.data(), static_cast<int>(directory.size()),
                            &utf8[0], bytes, nullptr, nullptr);
    }
    return utf8;
#else
    return std::string();
#endif
}

std::string proj_database_path()
{
    const std::string directory = proj_data_directory();
    return directory.empty() ? directory : directory + "\\proj.db";
}

void use_proj_data(PJ_CONTEXT* context)
{
    const std::string directory = proj_data_directory();
    if (!directory.empty()) {
        const char* paths[] = {directory.c_str()};
        proj_context_set_search_paths(context, 1, paths);
    }
}

} // namespace sevenparam
