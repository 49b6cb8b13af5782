// sevenparam-report: the quality report of a seven-parameter estimation.
#include "report/app.h"

#include <iostream>

int main(int argc, char** argv)
{
    // The report may run to millions of lines; the C streams are not used.
    std::ios::sync_with_stdio(false);
    return sevenparam::run_report(argc, argv, std::cout, std::cerr);
}
