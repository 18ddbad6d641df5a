// The parts of a path as the programs name their files: the directory, the
// name, its extension. Plain text work on '/'-separated paths; nothing here
// looks at the file system.
#pragma once

#include <string>

/// What follows the last '/', or the whole path.
std::string base_name(const std::string& path);

/// What precedes the name, with the trailing '/', or "" for a bare name.
std::string directory_of(const std::string& path);

/// The name's extension with its dot (".vms"), or "" when the name has no dot
/// after its first character (".profile" has none).
std::string extension(const std::string& path);

/// The path without its extension.
std::string without_extension(const std::string& path);
