#include "driver/platform.h"

#ifndef _WIN32
#include <csignal>
#endif

namespace sevenparam {

void ignore_broken_pipe_signal()
{
#ifndef _WIN32
    std::signal(SIGPIPE, SIG_IGN);
#endif
}

} // namespace sevenparam
