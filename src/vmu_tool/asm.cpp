// vmurx-vmu asm: assembles one source file into a program image, written to
// a temporary file beside the output and renamed into place, so that a
// failed run leaves the previous image as it was.
#include <getopt.h>

#include <cstdio>
#include <string>
#include <vector>

#include "files/atomic_write.h"
#include "files/paths.h"
#include "vmu/asm/assembler.h"
#include "vmu_tool/vmu_tool.h"

namespace {

// SOURCE with its extension replaced by .vms (or .vms added).
std::string default_output(const std::string& source) {
    return without_extension(source) + ".vms";
}

}  // namespace

int vmu_tool_asm(int argc, char* argv[]) {
    static const option options[] = {
        {"include", required_argument, nullptr, 'I'},
        {"output", required_argument, nullptr, 'o'},
        {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    std::vector<std::string> include_dirs;
    std::string output;
    opterr = 0;  // the messages below name this program
    optind = 1;
    int id = 0;
    while ((id = getopt_long(argc, argv, "+I:o:", options, nullptr)) != -1) {
        switch (id) {
            case 'I':
                include_dirs.emplace_back(optarg);
                break;
            case 'o':
                output = optarg;
                break;
            case 'h':
                std::fputs(VMU_TOOL_USAGE, stdout);
                return 0;
            default:
                if (optopt == 'I' || optopt == 'o') {
                    return vmu_tool_usage_error(std::string("option '") + argv[optind - 1] +
                                                "' needs a value");
                }
                return vmu_tool_usage_error(std::string("unrecognized option '") +
                                            argv[optind - 1] + "'");
        }
    }
    if (argc - optind != 1) {
        return vmu_tool_usage_error(argc == optind ? "asm: no SOURCE" : "asm: one SOURCE only");
    }
    const std::string source = argv[optind];
    if (output.empty()) {
        output = default_output(source);
    }
    if (output == source) {
        return vmu_tool_fail(output, "the output would replace the source");
    }
    const vmu_asm_result result = vmu_assemble_file(source, include_dirs);
    for (const vmu_asm_error& error : result.errors) {
        if (error.line > 0) {
            std::fprintf(stderr, "%s:%d: %s\n", error.file.c_str(), error.line,
                         error.message.c_str());
        } else {
            std::fprintf(stderr, "%s: %s\n", error.file.c_str(), error.message.c_str());
        }
    }
    if (!result.errors.empty()) {
        return 1;
    }
    file_error error;
    if (!write_files_atomically({{output, result.image, std::nullopt}}, true, error)) {
        return vmu_tool_fail(error.object, error.reason);
    }
    return 0;
}
