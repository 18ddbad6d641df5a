// Reading source and included files, and the include search.
#include "cardcpu/asm/source.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace {

bool is_file(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error);
}

}  // namespace

std::optional<std::string> vmu_asm_read_file(const std::string& path, std::string& error) {
    std::error_code status;
    if (std::filesystem::is_directory(path, status)) {
        error = std::strerror(EISDIR);
        return std::nullopt;
    }
    errno = 0;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = std::strerror(errno != 0 ? errno : ENOENT);
        return std::nullopt;
    }
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        error = std::strerror(errno != 0 ? errno : EIO);
        return std::nullopt;
    }
    return text;
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
