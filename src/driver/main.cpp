#include <cstdio>
#include <cstdlib>

#include "driver/run.h"
#include "zelk.h"

int main(int argc, char** argv) {
    static char output_buffer[1 << 20];
    setvbuf(stdout, output_buffer, _IOFBF, sizeof output_buffer);
    // Text still gathered when exit() is called goes out with stdio's.
    atexit(zelk_drain_output);
    if (zelk_install_sig(signal_handler) != 0) fprintf(stderr, "Error: %s\n", "zelk_install_sig failed!");
    install_run_signals();
    run(argc, argv);
    exit_handler(0);
}
