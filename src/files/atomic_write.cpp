// Writing several files all or none. Each new file is first written in full to
// a temporary name in its target's directory; then, one by one, the temporary
// files take their names. An existing file is exchanged with its temporary
// file in one step, so its name never goes missing and its old contents stay
// under the temporary name until every file is in place; any failure brings
// every old file back and removes every new one. How a file takes its name is
// in atomic_place.cpp.
#include "files/atomic_write.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "files/atomic_place.h"
#include "files/bounded_read.h"
#include "files/paths.h"
#include "files/temporary_cleanup.h"

namespace {

bool write_whole(int fd, const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// A replacement takes the old file's owner where this process may give it,
// and its mode; set-user and set-group bits only with the owner they belong to.
bool keep_owner_and_mode(int fd, const struct stat& old) {
    struct stat now {};
    if (fstat(fd, &now) != 0)
        return false;
    if ((now.st_uid != old.st_uid || now.st_gid != old.st_gid) &&
        fchown(fd, old.st_uid, old.st_gid) != 0) {
        [[maybe_unused]] const int ignored = fchown(fd, static_cast<uid_t>(-1), old.st_gid);
    }
    if (fstat(fd, &now) != 0)
        return false;
    mode_t mode = old.st_mode & 07777;
    if (now.st_uid != old.st_uid)
        mode &= ~static_cast<mode_t>(S_ISUID);
    if (now.st_gid != old.st_gid)
        mode &= ~static_cast<mode_t>(S_ISGID);
    return fchmod(fd, mode) == 0;
}

bool write_temporary(const file_to_write& out, write_target& t, int& noted, file_error& error) {
    // ".vmurx-" and six letters: even a target name of 255 bytes has a
    // temporary beside it. Created and noted with the signals held: one
    // that came as the open returned would leave it behind.
    int fd = -1;
    {
        const temporaries_held held;
        fd = create_unique(t.dir, ".vmurx-", t.temp);
        noted = fd >= 0 ? temporaries_note(t.temp) : -1;
        if (fd >= 0 && noted < 0) {
            close(fd);
            unlink(t.temp.c_str());
            error = {out.path, "more files written at once than a signal could clean up after",
                     file_failure::system};
            t.temp.clear();
            return false;
        }
    }
    if (fd < 0) {
        error = {out.path, std::strerror(errno), file_failure::system};
        t.temp.clear();
        return false;
    }
    bool ok = write_whole(fd, out.bytes);
    ok = ok && (!t.exists || keep_owner_and_mode(fd, t.old));
    ok = ok && fsync(fd) == 0;
    if (ok && out.mtime) {
        const timespec times[2] = {{*out.mtime, 0}, {*out.mtime, 0}};
        ok = futimens(fd, times) == 0;
    }
    int saved = errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    if (!ok) {
        error = {out.path, std::strerror(saved), file_failure::system};
        unlink(t.temp.c_str());
        t.temp.clear();
    }
    return ok;
}

bool check_target(const file_to_write& out, bool replace, const input_files* inputs,
                  write_target& t, file_error& error) {
    t.dir = directory_of(out.path);
    t.held = out.held;
    if (lstat(out.path.c_str(), &t.old) != 0) {
        if (errno != ENOENT) {
            error = {out.path, std::strerror(errno), file_failure::system};
            return false;
        }
        if (out.held == nullptr)
            return true;  // a missing directory shows when the file is written
        error = {out.path, "removed by another program since it was read", file_failure::changed};
        return false;
    }
    t.exists = true;
    if (!S_ISREG(t.old.st_mode)) {
        error = {out.path,
                 std::string("not replaced: it is ") + file_kind(t.old.st_mode) +
                     " (only a regular file is ever replaced)",
                 file_failure::not_regular};
        return false;
    }
    if (const std::string* input =
            inputs ? input_named(*inputs, {t.old.st_dev, t.old.st_ino}) : nullptr) {
        error = {out.path,
                 *input == out.path ? "not replaced: it is an input of this run"
                                    : "not replaced: it is " + *input + ", an input of this run",
                 file_failure::is_input};
        return false;
    }
    if (!replace) {
        error = {out.path, "File exists", file_failure::exists};
        return false;
    }
    return out.held == nullptr || held_file_unchanged(*out.held, true, error);
}

void sync_directories(const std::vector<write_target>& targets) {
    for (std::size_t i = 0; i < targets.size(); ++i) {
        bool seen = false;
        for (std::size_t j = 0; j < i; ++j)
            seen = seen || targets[j].dir == targets[i].dir;
        if (seen)
            continue;
        const std::string dir = targets[i].dir.empty() ? "." : targets[i].dir;
        const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd >= 0) {
            fsync(fd);
            close(fd);
        }
    }
}

// Undoes every placed file: an old file takes its name back, a new name goes.
// Temporary files not yet placed are removed. An old file that does not go
// back is named in `kept_as`.
void roll_back(const std::vector<file_to_write>& outputs, std::vector<write_target>& targets,
               std::string& kept_as) {
    for (std::size_t i = targets.size(); i-- > 0;) {
        write_target& t = targets[i];
        if (t.placed && t.exists) {
            if (call_rename(t.temp.c_str(), outputs[i].path.c_str()) != 0)
                kept_as = t.temp;
        } else if (t.placed) {
            unlink(outputs[i].path.c_str());
        } else if (!t.temp.empty()) {
            unlink(t.temp.c_str());
        }
    }
}

// Every temporary file takes its name, or none does.
bool place_all(const std::vector<file_to_write>& outputs, std::vector<write_target>& targets,
               file_error& error) {
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        write_target& t = targets[i];
        t.placed = t.exists ? place_over(t, outputs[i].path, error.kept_as)
                            : place_new(t, outputs[i].path);
        if (!t.placed) {
            error = {outputs[i].path, std::strerror(errno), file_failure::system, error.kept_as};
            if (t.changed) {
                error.reason = "changed while the new file was written; left as it is";
                error.cause = file_failure::changed;
            }
            roll_back(outputs, targets, error.kept_as);
            return false;
        }
    }
    for (const write_target& t : targets) {
        if (t.exists)
            unlink(t.temp.c_str());  // the old file, no longer needed
    }
    sync_directories(targets);
    return true;
}

// Writes the temporary files and puts them in place, with the signals
// watched while they are written and held back while they are placed.
bool write_and_place(const std::vector<file_to_write>& outputs, std::vector<write_target>& targets,
                     file_error& error) {
    std::vector<int> noted(outputs.size(), -1);
    const auto forget_all = [&] {
        for (const int token : noted)
            temporaries_forget(token);
    };
    temporaries_watch();
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        if (!write_temporary(outputs[i], targets[i], noted[i], error)) {
            roll_back(outputs, targets, error.kept_as);
            forget_all();
            temporaries_unwatch();
            return false;
        }
    }
    if (atomic_write_test_hooks().before_placing)
        atomic_write_test_hooks().before_placing();
    bool placed = true;
    {
        // Held back in this thread, and in any other the handler records
        // the signal and leaves it to the end of the hold.
        const temporaries_held held;
        forget_all();
        for (std::size_t i = 0; i < outputs.size() && placed; ++i) {
            if (targets[i].held != nullptr && !held_file_unchanged(*targets[i].held, true, error)) {
                roll_back(outputs, targets, error.kept_as);
                placed = false;
            }
        }
        placed = placed && place_all(outputs, targets, error);
    }
    temporaries_unwatch();
    return placed;
}

}  // namespace

atomic_write_hooks& atomic_write_test_hooks() {
    static atomic_write_hooks hooks;
    return hooks;
}

bool write_files_atomically(const std::vector<file_to_write>& outputs, bool replace,
                            file_error& error, const input_files* inputs) {
    std::vector<write_target> targets(outputs.size());
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            if (outputs[j].path == outputs[i].path) {
                error = {outputs[i].path, "named twice among the files to write",
                         file_failure::named_twice};
                return false;
            }
        }
        if (!check_target(outputs[i], replace, inputs, targets[i], error))
            return false;
    }
    return write_and_place(outputs, targets, error);
}
