// Reading source and included files, each up to a limit, and the include
// search.
#include "cardcpu/asm/source.h"

#include <filesystem>
#include <system_error>

#include "files/bounded_read.h"

namespace {

bool is_file(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error);
}

}  // namespace

std::optional<std::string> vmu_asm_read_file(const std::string& path, std::size_t limit,
                                             const char* what_limit, std::string& error) {
    bounded_file file;
    file_error failure;
    if (!read_file_bounded(path, limit, file, failure)) {
        error = failure.reason;
        if (failure.cause == file_failure::too_large) {
            error += what_limit;
        }
        return std::nullopt;
    }
    return std::string(file.bytes.begin(), file.bytes.end());
}

std::optional<std::string> vmu_asm_find_include(const std::string& name,
                                                const std::string& including_file,
                                                const std::vector<std::string>& include_dirs) {
    const std::filesystem::path wanted(name);
    if (wanted.is_absolute()) {
        return is_file(wanted) ? std::optional<std::string>(name) : std::nullopt;
    }
    const std::filesystem::path beside =
        std::filesystem::path(including_file).parent_path() / wanted;
    if (is_file(beside)) {
        return beside.string();
    }
    for (const std::string& dir : include_dirs) {
        const std::filesystem::path candidate = std::filesystem::path(dir) / wanted;
        if (is_file(candidate)) {
            return candidate.string();
        }
    }
    return std::nullopt;
}

std::string vmu_asm_canonical(const std::string& path) {
    std::error_code error;
    const std::filesystem::path canonical = std::filesystem::weakly_canonical(path, error);
    return error ? path : canonical.string();
}
