// vmurx-save's shared output: the two kinds of error message, and reading a
// file with its analysis, as every command does.
#include <cstdio>

#include "files/text.h"
#include "save/vmurx_save.h"

// Names and values in messages come from the command line or from a file's
// name: they pass through the same escaping as standard output, so that no
// control byte reaches the terminal.
int usage_error(const std::string& message) {
    return cli_usage_error(save_program(), message);
}

void report(const std::string& object, const std::string& reason) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s: %s\n", PROGRAM, printable(object).c_str(),
                 printable(reason).c_str());
}

int fail(const std::string& object, const std::string& reason) {
    report(object, reason);
    return 1;
}

int fail_write(const file_error& error) {
    if (error.cause == file_failure::exists)
        return fail(error.object, error.reason + " (use --force to replace it)");
    return fail(error.object, error.reason);
}

void warn(const std::string& object, const std::string& reason) {
    report("warning: " + object, reason);
}

bool examine(const std::string& path, examined& file, file_error& error) {
    if (!load_save(path, file.input, error))
        return false;
    file.analysis = analyse_save(file.input.content, file.input.kind, file.input.name.value_or(""));
    return true;
}
