// The parts of a path.
#include "files/paths.h"

std::string base_name(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string directory_of(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

std::string extension(const std::string& path) {
    const std::string base = base_name(path);
    const auto dot = base.rfind('.');
    return dot == std::string::npos || dot == 0 ? "" : base.substr(dot);
}

std::string without_extension(const std::string& path) {
    return path.substr(0, path.size() - extension(path).size());
}
