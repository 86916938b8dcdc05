// The command line: argv built from the input (arguments separated by NUL
// bytes), parsed, applied and checked as a run does before it starts a
// capture source. The parser ends the program on bad input; exit is
// wrapped at link time so that such an end returns to the fuzzer.
#include <cstdlib>
#include <string>
#include <vector>

#include "driver/settings.h"
#include "zelk.h"

namespace {

struct program_exit {
    int status;
};
bool exit_intercepted = false;

}  // namespace

extern "C" [[noreturn]] void __real_exit(int status);
extern "C" [[noreturn]] void __wrap_exit(int status) {
    if (exit_intercepted) throw program_exit{status};
    __real_exit(status);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr size_t most_arguments = 64;
    std::vector<std::string> arguments{"nodrix"};
    std::string current;
    for (size_t i = 0; i < size && arguments.size() < most_arguments; ++i) {
        if (data[i] == 0) {
            arguments.push_back(current);
            current.clear();
        } else {
            current.push_back(static_cast<char>(data[i]));
        }
    }
    if (!current.empty() && arguments.size() < most_arguments) arguments.push_back(current);
    std::vector<char*> argv;
    for (auto& a : arguments) argv.push_back(a.data());
    argv.push_back(nullptr);

    FILE* sink = fopen("/dev/null", "w");
    zelk_set_output(sink);
    exit_intercepted = true;
    try {
        parse_command_line(static_cast<int>(arguments.size()), argv.data(), &options);
        apply_command_line(argv.data());
        check_option_combinations(argv.data());
    } catch (const program_exit&) {
    }
    exit_intercepted = false;
    zelk_set_output(nullptr);
    fclose(sink);
    zelk_clear_quiet();
    zelk_clear_really_quiet();
    return 0;
}
