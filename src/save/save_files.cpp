// Reading and writing saves on disk.
#include "save/save_files.h"

#include <sys/stat.h>

#include "files/atomic_write.h"
#include "files/bounded_read.h"
#include "files/paths.h"
#include "files/text.h"

namespace {

// The same name with `ext` (".vms" or ".vmi") in the letter case of the
// extension it has.
std::string companion(const std::string& path, const std::string& ext) {
    const std::string own = extension(path);
    const bool upper = !own.empty() && own[1] >= 'A' && own[1] <= 'Z';
    std::string other = ext;
    if (upper) {
        for (char& c : other)
            c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    }
    return without_extension(path) + other;
}

bool exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// The file beside `path` with the extension `ext`: in the letter case of
// the path's own extension first, then in lower case, then in upper case.
// When none exists, the last, for the message that it cannot be read.
std::string companion_path(const std::string& path, const std::string& ext) {
    const std::string candidates[] = {
        companion(path, ext),
        companion(without_extension(path) + ".x", ext),
        companion(without_extension(path) + ".X", ext),
    };
    for (const std::string& candidate : candidates) {
        if (exists(candidate))
            return candidate;
    }
    return candidates[2];
}

const char* const TOO_LARGE = "larger than 255 blocks of 512 bytes";

// Reads at most `limit` bytes of `path`, refusing a longer file with
// `too_large` as the reason.
bool read_limited(const std::string& path, std::size_t limit, const char* too_large,
                  bounded_file& file, file_error& error) {
    if (read_file_bounded(path, limit, file, error))
        return true;
    if (error.cause == file_failure::too_large)
        error.reason = too_large;
    return false;
}

std::optional<std::string> name_if_fits(const std::string& name) {
    if (name.empty() || name.size() > 12)
        return std::nullopt;
    return name;
}

bool load_dci(const std::string& path, save_input& input, file_error& error) {
    bounded_file file;
    if (!read_limited(path, CARD_ENTRY_SIZE + MAX_CARD_FILE_SIZE + IMAGE_BLOCK_SIZE - 1, TOO_LARGE,
                      file, error)) {
        return false;
    }
    input.files_read.push_back(path);
    auto dci = parse_dci(file.bytes, input.problems);
    if (!dci) {
        error = {path, "too short for a DCI (" + std::to_string(file.bytes.size()) + " bytes)",
                 file_failure::content};
        return false;
    }
    if (dci->content.size() > MAX_CARD_FILE_SIZE) {
        error = {path, TOO_LARGE, file_failure::too_large};
        return false;
    }
    input.format = "dci";
    input.content = std::move(dci->content);
    input.name = name_if_fits(trim_field(dci->entry.name));
    input.stamp = card_file_stamp(dci->entry);
    if (dci->entry.type == TYPE_GAME)
        input.kind = save_kind::game;
    else if (dci->entry.type == TYPE_DATA)
        input.kind = save_kind::data;
    input.protect = dci->entry.protection != 0x00;
    return true;
}

// Reads the descriptor at `path` into `vmi`.
bool read_descriptor(const std::string& path, std::optional<vmi_record>& vmi, save_input& input,
                     file_error& error) {
    bounded_file file;
    if (!read_limited(path, 4096, "too large for a VMI (over 4096 bytes)", file, error))
        return false;
    vmi = parse_vmi(file.bytes, input.problems);
    if (!vmi) {
        error = {path, "too short for a VMI (" + std::to_string(file.bytes.size()) + " bytes)",
                 file_failure::content};
        return false;
    }
    input.descriptor = path;
    input.files_read.push_back(path);
    return true;
}

// The card name the file's own name gives: all of a raw file's name, a
// .vms's without the extension; when longer than a card name, kept apart.
void take_file_name(file_format format, const std::string& data_path, save_input& input) {
    const std::string base = base_name(data_path);
    const std::string own_name = format == file_format::bytes ? base : without_extension(base);
    input.name = name_if_fits(own_name);
    if (!input.name && !own_name.empty())
        input.long_name = own_name;
}

void take_vmi(const vmi_record& vmi, save_input& input) {
    if (!vmi.card_name.empty())
        input.name = vmi.card_name;
    if (stamp_is_valid(vmi.stamp))
        input.stamp = vmi.stamp;
    input.kind = vmi.mode & VMI_MODE_GAME ? save_kind::game : save_kind::data;
    input.protect = (vmi.mode & VMI_MODE_PROTECTED) != 0;
    if (vmi.file_size != input.content.size()) {
        input.problems.push_back("the VMI gives the size " + std::to_string(vmi.file_size) +
                                 ", the file has " + std::to_string(input.content.size()));
    }
}

}  // namespace

file_format format_of(const std::string& path) {
    const std::string ext = ascii_lower(extension(path));
    if (ext == ".dci")
        return file_format::dci;
    if (ext == ".vmi")
        return file_format::vmi;
    if (ext == ".vms")
        return file_format::vms;
    return file_format::bytes;
}

bool load_save(const std::string& path, save_input& input, file_error& error) {
    input = {};
    const file_format format = format_of(path);
    if (format == file_format::dci)
        return load_dci(path, input, error);

    input.format = "vms";
    std::string data_path = path;
    std::optional<vmi_record> vmi;
    if (format == file_format::vmi) {
        if (!read_descriptor(path, vmi, input, error))
            return false;
        data_path = companion_path(path, ".vms");
    } else if (format == file_format::vms) {
        const std::string vmi_path = companion_path(path, ".vmi");
        if (exists(vmi_path) && !read_descriptor(vmi_path, vmi, input, error))
            return false;
    }
    bounded_file data;
    if (!read_limited(data_path, MAX_CARD_FILE_SIZE, TOO_LARGE, data, error))
        return false;
    input.content = std::move(data.bytes);
    input.files_read.push_back(data_path);
    take_file_name(format, data_path, input);
    input.stamp = standard_time_stamp(data.mtime);
    // Without a descriptor nothing tells whether the card protects the file.
    if (vmi)
        take_vmi(*vmi, input);
    return true;
}

bool write_outputs(const std::vector<output_file>& files, bool force, file_error& error,
                   const input_files* inputs) {
    std::vector<file_to_write> outputs;
    outputs.reserve(files.size());
    for (const auto& file : files) {
        outputs.push_back(
            {file.path, file.bytes, file.stamp ? stamp_time(*file.stamp) : std::nullopt});
    }
    return write_files_atomically(outputs, force, error, inputs);
}
