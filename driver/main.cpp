// sevenparam: estimates the seven parameters of a similarity transformation
// between two Cartesian coordinate sets; see driver/run.h for the run.
#include "driver/platform.h"
#include "driver/run.h"

#include <iostream>

int main(int argc, char* argv[])
{
    sevenparam::ignore_broken_pipe_signal();
    return sevenparam::run(argc, argv, std::cout, std::cerr);
}
