// Reading and writing saves on disk.
#include "save/save_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

std::string lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

std::string base_name(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string extension(const std::string& path) {
    const std::string base = base_name(path);
    const auto dot = base.rfind('.');
    return dot == std::string::npos || dot == 0 ? "" : base.substr(dot);
}

std::string without_extension(const std::string& path) {
    return path.substr(0, path.size() - extension(path).size());
}

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

// Reads at most `limit` bytes of `path`; a longer file is refused after
// `limit` + 1 bytes, so endless devices cannot exhaust memory.
bool read_limited(const std::string& path, std::size_t limit, std::vector<std::uint8_t>& bytes,
                  std::time_t& mtime, file_error& error) {
    error = {path, "", false};
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error.reason = std::strerror(errno);
        return false;
    }
    struct stat st;
    if (fstat(fd, &st) != 0) {
        error.reason = std::strerror(errno);
        close(fd);
        return false;
    }
    mtime = st.st_mtime;
    bytes.assign(limit + 1, 0);
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error.reason = std::strerror(errno);
            close(fd);
            return false;
        }
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    close(fd);
    if (got > limit) {
        error.too_large = true;
        error.reason = "larger than 255 blocks of 512 bytes";
        return false;
    }
    bytes.resize(got);
    return true;
}

std::optional<std::string> name_if_fits(const std::string& name) {
    if (name.empty() || name.size() > 12)
        return std::nullopt;
    return name;
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

bool read_vmi(const std::string& path, vmi_record& vmi, save_input& input, file_error& error) {
    std::vector<std::uint8_t> bytes;
    std::time_t ignored;
    if (!read_limited(path, 4096, bytes, ignored, error))
        return false;
    const auto parsed = parse_vmi(bytes, input.problems);
    if (!parsed) {
        error = {path, "too short for a VMI (" + std::to_string(bytes.size()) + " bytes)", false};
        return false;
    }
    vmi = *parsed;
    return true;
}

}  // namespace

file_format format_of(const std::string& path) {
    const std::string ext = lower(extension(path));
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
    std::time_t mtime = 0;

    if (format == file_format::dci) {
        std::vector<std::uint8_t> bytes;
        if (!read_limited(path, DCI_ENTRY_SIZE + MAX_CARD_FILE_SIZE + SAVE_BLOCK_SIZE - 1, bytes,
                          mtime, error)) {
            return false;
        }
        auto dci = parse_dci(bytes, input.problems);
        if (!dci) {
            error = {path, "too short for a DCI (" + std::to_string(bytes.size()) + " bytes)",
                     false};
            return false;
        }
        if (dci->content.size() > MAX_CARD_FILE_SIZE) {
            error = {path, "larger than 255 blocks of 512 bytes", true};
            return false;
        }
        input.format = "dci";
        input.content = std::move(dci->content);
        input.name = name_if_fits(dci->entry.name);
        input.stamp = dci->entry.stamp;
        if (dci->entry.type == DCI_TYPE_GAME)
            input.kind = save_kind::game;
        else if (dci->entry.type == DCI_TYPE_DATA)
            input.kind = save_kind::data;
        input.protect = dci->entry.protection != 0x00;
        return true;
    }

    input.format = "vms";
    std::string data_path = path;
    std::optional<vmi_record> vmi;
    if (format == file_format::vmi) {
        vmi_record record;
        if (!read_vmi(path, record, input, error))
            return false;
        vmi = record;
        input.descriptor = path;
        data_path = companion(path, ".vms");
        if (!exists(data_path))
            data_path = companion(without_extension(path) + ".x", ".vms");
        if (!exists(data_path))
            data_path = companion(without_extension(path) + ".X", ".vms");
    } else if (format == file_format::vms) {
        // The descriptor in the letter case of the .vms first, then in the other.
        std::string vmi_path = companion(path, ".vmi");
        if (!exists(vmi_path))
            vmi_path = companion(without_extension(path) + ".x", ".vmi");
        if (!exists(vmi_path))
            vmi_path = companion(without_extension(path) + ".X", ".vmi");
        if (exists(vmi_path)) {
            vmi_record record;
            if (!read_vmi(vmi_path, record, input, error))
                return false;
            vmi = record;
            input.descriptor = vmi_path;
        }
    }
    if (!read_limited(data_path, MAX_CARD_FILE_SIZE, input.content, mtime, error))
        return false;

    const std::string base = base_name(data_path);
    input.name = name_if_fits(format == file_format::bytes ? base : without_extension(base));
    input.stamp = standard_time_stamp(mtime);
    input.protect = false;
    if (vmi)
        take_vmi(*vmi, input);
    return true;
}

namespace {

bool write_temporary(const output_file& file, std::string& temp, file_error& error) {
    temp = file.path + ".XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0) {
        error = {file.path, std::strerror(errno), false};
        temp.clear();
        return false;
    }
    const mode_t mask = umask(0);
    umask(mask);
    bool ok = fchmod(fd, 0666 & ~mask) == 0;
    std::size_t done = 0;
    while (ok && done < file.bytes.size()) {
        const ssize_t n = write(fd, file.bytes.data() + done, file.bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok)
            done += static_cast<std::size_t>(n);
    }
    ok = ok && fsync(fd) == 0;
    if (ok && file.stamp) {
        if (const auto when = stamp_time(*file.stamp)) {
            const timespec times[2] = {{*when, 0}, {*when, 0}};
            ok = futimens(fd, times) == 0;
        }
    }
    const int saved = errno;
    ok = close(fd) == 0 && ok;
    if (!ok) {
        error = {file.path, std::strerror(errno != 0 ? errno : saved), false};
        unlink(temp.c_str());
        temp.clear();
    }
    return ok;
}

// Moves the temporary file into place; without `force` an existing file
// there, even one that appeared meanwhile, makes it fail.
bool move_into_place(const std::string& temp, const std::string& path, bool force) {
    if (force)
        return std::rename(temp.c_str(), path.c_str()) == 0;
    if (renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system without the no-replace rename: a hard link fails just
    // as well on an existing name.
    if (link(temp.c_str(), path.c_str()) != 0)
        return false;
    unlink(temp.c_str());
    return true;
}

}  // namespace

bool write_outputs(const std::vector<output_file>& files, bool force, file_error& error) {
    if (!force) {
        for (const auto& file : files) {
            if (exists(file.path)) {
                error = {file.path, "File exists (use --force to replace it)", false};
                return false;
            }
        }
    }
    std::vector<std::string> temps;
    for (const auto& file : files) {
        std::string temp;
        if (!write_temporary(file, temp, error)) {
            for (const auto& written : temps)
                unlink(written.c_str());
            return false;
        }
        temps.push_back(temp);
    }
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (!move_into_place(temps[i], files[i].path, force)) {
            error = {files[i].path, std::strerror(errno), false};
            // Nothing half-done: the files already moved took names that
            // were free, so they go again; the rest are only temporary.
            for (std::size_t j = 0; j < i && !force; ++j)
                unlink(files[j].path.c_str());
            for (std::size_t j = i; j < files.size(); ++j)
                unlink(temps[j].c_str());
            return false;
        }
    }
    return true;
}
