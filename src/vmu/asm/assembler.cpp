// The two passes over the statements of a source and its includes.
#include "vmu/asm/assembler.h"

vmu_asm_result vmu_assemble_text(std::string_view source, const std::string& name,
                                 const std::vector<std::string>& include_dirs) {
    (void)source;
    (void)include_dirs;
    return {{}, {{name, 0, "assembler not yet built"}}};
}

vmu_asm_result vmu_assemble_file(const std::string& path,
                                 const std::vector<std::string>& include_dirs) {
    return vmu_assemble_text({}, path, include_dirs);
}
