// The one place where the program differs between Windows and POSIX systems.
#ifndef SEVENPARAM_DRIVER_PLATFORM_H
#define SEVENPARAM_DRIVER_PLATFORM_H

namespace sevenparam {

// On POSIX systems, ignores SIGPIPE for the whole process: a write to a
// standard output whose reader has gone then fails (and the run says so at
// its end) instead of ending the process before the result file is written.
// Windows has no such signal; there it does nothing. Raises nothing.
void ignore_broken_pipe_signal();

} // namespace sevenparam

#endif
