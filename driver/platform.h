// The one place where the program differs between Windows and POSIX systems.
#ifndef SEVENPARAM_DRIVER_PLATFORM_H
#define SEVENPARAM_DRIVER_PLATFORM_H

#include <string>

namespace sevenparam {

// True when something exists at `path` (a file, a directory or anything
// else); false when nothing does or the path cannot be examined. The path is
// taken as the bytes the C run-time library sees; relative paths resolve
// against the current directory. Raises nothing.
bool path_exists(const std::string& path);

} // namespace sevenparam

#endif
