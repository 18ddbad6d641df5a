// vmurx-vmu asm: assembles one source file into a program image, written to
// a temporary file beside the output and renamed into place, so that a
// failed run leaves the previous image as it was, and never over a file the
// assembly read.
#include <cstdio>
#include <string>
#include <vector>

#include "cardcpu/asm/assembler.h"
#include "files/atomic_write.h"
#include "files/paths.h"
#include "files/text.h"
#include "vmu_tool/vmu_tool.h"

namespace {

// SOURCE with its extension replaced by .vms (or .vms added).
std::string default_output(const std::string& source) {
    return without_extension(source) + ".vms";
}

}  // namespace

int vmu_tool_asm(const cli_parsed& cl) {
    std::vector<std::string> include_dirs;
    std::string output;
    for (const cli_given& given : cl.options) {
        if (given.id == VMU_TOOL_INCLUDE)
            include_dirs.push_back(given.value);
        else  // VMU_TOOL_OUTPUT
            output = given.value;
    }
    if (cl.operands.size() != 1)
        return vmu_tool_usage_error(cl.operands.empty() ? "asm: no SOURCE"
                                                        : "asm: one SOURCE only");
    const std::string& source = cl.operands.front();
    if (output.empty()) {
        output = default_output(source);
    }
    const vmu_asm_result result = vmu_assemble_file(source, include_dirs);
    // An error in a line says where, as compilers do; one about a whole file
    // (it cannot be read, it is too large) names the program, as run does.
    for (const vmu_asm_error& error : result.errors) {
        if (error.line > 0) {
            // The file may be an .include's name, of any bytes.
            std::fprintf(stderr, "%s:%d: %s\n", printable(error.file).c_str(), error.line,
                         printable(error.message).c_str());
        } else {
            vmu_tool_fail(error.file, error.message);
        }
    }
    if (!result.errors.empty()) {
        return 1;
    }
    // The image never replaces the source or a file it includes, by whatever
    // name the output reaches it.
    input_files inputs;
    for (const std::string& read : result.files_read)
        add_input(inputs, read);
    file_error error;
    if (!write_files_atomically({{output, result.image, std::nullopt}}, true, error, &inputs)) {
        return vmu_tool_fail(error.object, error.reason);
    }
    return 0;
}
