// vmurx-save as a careless or hostile user meets it: --force that replaces
// only regular files and keeps their mode, a .vms pair written all or none,
// long output names, names with terminal control bytes in messages, messages
// that point at the right file, and a --type that contradicts the header.
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <functional>

#include <gtest/gtest.h>

#include "save_program.h"

namespace {

// A file written by convert shows as "new", the one there before as "old".
std::string state_of(const std::string& path) {
    const std::string state = file_state(path);
    const bool word = state == "old" || state == "absent" || state == "directory" ||
                      state == "link" || state == "fifo";
    return word ? state : "new";
}

TEST(ConvertForce, ReplacesOnlyRegularFilesAndAPairAllOrNone) {
    const struct {
        const char* rule;
        std::function<void(const temp_dir&)> before;
        std::string command, message;
        int status;
        std::vector<std::pair<std::string, std::string>> after;  // name, state_of
    } cases[] = {
        {"a directory in the way of the .vmi, with --force",
         [](const temp_dir& d) {
             write_file(d.file("O.VMS"), "old");
             mkdir(d.file("O.VMI").c_str(), 0755);
         },
         "convert --force CARD O.VMS",
         "O.VMI: not replaced: it is a directory",
         1,
         {{"O.VMS", "old"}, {"O.VMI", "directory"}}},
        {"a directory in the way of the .vmi, without --force",
         [](const temp_dir& d) { mkdir(d.file("O.VMI").c_str(), 0755); },
         "convert CARD O.VMS",
         "O.VMI: not replaced: it is a directory",
         1,
         {{"O.VMS", "absent"}}},
        {"both of a pair replaced",
         [](const temp_dir& d) {
             write_file(d.file("O.VMS"), "old");
             write_file(d.file("O.VMI"), "old");
         },
         "convert --force CARD O.VMS",
         "",
         0,
         {{"O.VMS", "new"}, {"O.VMI", "new"}}},
        {"a FIFO",
         [](const temp_dir& d) { mkfifo(d.file("o").c_str(), 0644); },
         "convert --force CARD o",
         "o: not replaced: it is a FIFO",
         1,
         {{"o", "fifo"}}},
        {"a symbolic link, and what it names",
         [](const temp_dir& d) {
             write_file(d.file("real"), "old");
             ASSERT_EQ(symlink("real", d.file("o").c_str()), 0);
         },
         "convert --force CARD o",
         "o: not replaced: it is a symbolic link",
         1,
         {{"o", "link"}, {"real", "old"}}},
        {"a device node",
         nullptr,
         "convert --force CARD /dev/null",
         "/dev/null: not replaced: it is a character device",
         1,
         {}},
        {"a 250-byte name",
         nullptr,
         "convert CARD " + std::string(250, 'n'),
         "",
         0,
         {{std::string(250, 'n'), "new"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        temp_dir dir;
        write_bytes(dir, "CARD", make_save({}));
        if (c.before)
            c.before(dir);
        const run_result r = run_save(dir, c.command);
        EXPECT_EQ(r.status, c.status) << r.err;
        if (!c.message.empty()) {
            EXPECT_EQ(r.err,
                      "vmurx-save: " + c.message + " (only a regular file is ever replaced)\n");
        }
        for (const auto& [name, state] : c.after)
            EXPECT_EQ(state_of(dir.file(name)), state) << name;
    }
}

TEST(ConvertForce, KeepsTheModeOfAReplacedFile) {
    temp_dir dir;
    write_bytes(dir, "CARD", make_save({}));
    for (const mode_t mode : {0600, 0640, 0444}) {
        write_file(dir.file("out"), "old");
        chmod(dir.file("out").c_str(), mode);
        ASSERT_EQ(run_save(dir, "convert --force CARD out").status, 0);
        struct stat st {};
        stat(dir.file("out").c_str(), &st);
        EXPECT_EQ(st.st_mode & 07777, mode);
        EXPECT_EQ(read_bytes(dir, "out"), make_save({}));
    }
}

TEST(Messages, EscapeControlBytesAndNameTheRightFile) {
    temp_dir dir;
    write_bytes(dir, "CARD", make_save({}));
    write_bytes(dir, "VERY_LONG_NAME_SAVE", make_save({}));
    write_bytes(dir, "BIG.VMI", bytes(5000, 0));
    ASSERT_EQ(run_save(dir, "convert --stamp 20020304050607 CARD ONLY.VMS").status, 0);
    std::filesystem::remove(dir.file("ONLY.VMS"));
    const std::string escape = "\x1b[31mx";
    const std::string shown = "\xEF\xBF\xBD[31mx";  // the ESC as U+FFFD
    const struct {
        std::string command;
        int status;
        std::string out, err;
    } cases[] = {
        {"info " + escape, 2, "", "vmurx-save: " + shown + ": No such file or directory\n"},
        {"check " + escape, 2, shown + ": cannot read (No such file or directory)\n", ""},
        {"convert --name \x1b]0;t\x07"
         "AAAAAAAAAAAA CARD o.dci",
         2, "",
         "vmurx-save: \xEF\xBF\xBD]0;t\xEF\xBF\xBD"
         "AAAAAAAAAAAA: a card name has 1 to 12 bytes\n"},
        {"convert --\x1b[31mx CARD o.dci", 2, "",
         "vmurx-save: unrecognized option '--\xEF\xBF\xBD[31mx'\n"},
        {"check ONLY.VMI", 2, "ONLY.VMI: cannot read (ONLY.VMS: No such file or directory)\n", ""},
        {"info BIG.VMI", 2, "", "vmurx-save: BIG.VMI: too large for a VMI (over 4096 bytes)\n"},
        {"convert VERY_LONG_NAME_SAVE x.dci", 1, "",
         "vmurx-save: VERY_LONG_NAME_SAVE: the file's name 'VERY_LONG_NAME_SAVE' is longer than "
         "a card name's 12 bytes (give --name)\n"},
        {"convert --type game CARD g.dci", 1, "",
         "vmurx-save: CARD: --type game contradicts the save's header, a data file's "
         "(--force-type writes it all the same)\n"},
        {"convert --type game --force-type CARD f.dci", 0, "", ""},
        {"convert --description hi CARD d.dci", 0, "",
         "vmurx-save: warning: d.dci: --description is written only into a .vmi, and this "
         "output has none\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        const run_result r = run_save(dir, c.command);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.out, c.out);
        // A bad command line: the message, then the usage.
        const std::size_t usage = r.err.find("Usage: vmurx-save ");
        EXPECT_EQ(usage != std::string::npos, c.status == 2 && c.command.starts_with("convert"));
        EXPECT_EQ(r.err.substr(0, usage), c.err);
    }
    EXPECT_EQ(mtime_of(dir.file("g.dci")), -1);
    EXPECT_EQ(read_bytes(dir, "f.dci")[0], 0xCC) << "--force-type writes the type given";
}

}  // namespace
