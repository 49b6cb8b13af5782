// sevenparam-report: the quality report of a seven-parameter estimation.
#include "driver/platform.h"
#include "report/app.h"
#include "report/platform.h"
#include "report/report_options.h"

#include <iostream>
#include <new>

int main(int argc, char** argv)
{
    // A reader of standard output that has gone (| head) makes the write
    // fail, and the run says so, rather than ending it without a word.
    sevenparam::ignore_broken_pipe_signal();
    // The report may run to millions of lines; the C streams are not used.
    std::ios::sync_with_stdio(false);
    sevenparam::tune_allocator_for_large_runs();
    try {
        return sevenparam::run_report(argc, argv, std::cout, std::cerr);
    } catch (const std::bad_alloc&) {
        // Whatever the run held is freed by now; the inputs name themselves
        // when memory runs out while they are read.
        std::cerr << sevenparam::report_program_name << ": out of memory\n" << std::flush;
        return sevenparam::report_exit_data_error;
    }
}
