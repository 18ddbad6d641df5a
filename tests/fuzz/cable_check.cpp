// The cable fuzz target's rules (see cable_check.h).
#include "cable_check.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "cable_model.h"

namespace cable_fuzz {

fs::path root;
int report_fd = 2;

void broken(const std::string& rule) {
    dprintf(report_fd, "cable fuzz: broken: %s\n", rule.c_str());
    std::abort();
}

namespace {

void check(bool holds, const std::string& rule) {
    if (!holds)
        broken(rule);
}

std::string read_all(const fs::path& path) {
    std::ifstream stream(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

void write_all(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::set<std::string> entries(const fs::path& directory) {
    std::set<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(directory))
        names.insert(entry.path().filename().string());
    return names;
}

const char* const KEPT = "kept\n";
const char* const OUTSIDE = "outside\n";

}  // namespace

// Without the one the listing itself used.
std::set<int> open_descriptors() {
    std::set<int> listed;
    for (const fs::directory_entry& entry : fs::directory_iterator("/proc/self/fd"))
        listed.insert(std::atoi(entry.path().filename().c_str()));
    std::set<int> descriptors;
    for (int descriptor : listed) {
        if (fcntl(descriptor, F_GETFD) != -1)
            descriptors.insert(descriptor);
    }
    return descriptors;
}

void place(obstacle kind, const fs::path& run, const std::string& name) {
    const fs::path path = run / name;
    switch (kind) {
        case obstacle::none:
            break;
        case obstacle::file:
            write_all(path, KEPT);
            break;
        case obstacle::link_to_file:
            write_all(root / "outside", OUTSIDE);
            fs::create_symlink("../outside", path);
            break;
        case obstacle::dangling_link:
            fs::create_symlink("../absent", path);
            break;
        case obstacle::directory:
            fs::create_directory(path);
            break;
    }
}

namespace {

void check_obstacle(obstacle kind, const fs::path& run, const std::string& name) {
    const fs::path path = run / name;
    const fs::file_status status = fs::symlink_status(path);
    switch (kind) {
        case obstacle::none:
            break;
        case obstacle::file:
            check(fs::is_regular_file(status) && read_all(path) == KEPT, "existing file changed");
            break;
        case obstacle::link_to_file:
            check(fs::is_symlink(status) && fs::read_symlink(path) == "../outside",
                  "existing link changed");
            check(read_all(root / "outside") == OUTSIDE, "file behind a link changed");
            break;
        case obstacle::dangling_link:
            check(fs::is_symlink(status) && fs::read_symlink(path) == "../absent",
                  "dangling link changed");
            break;
        case obstacle::directory:
            check(fs::is_directory(status) && fs::is_empty(path), "existing directory changed");
            break;
    }
}

}  // namespace

void check_run(const cable_case& c, int status, const fs::path& run, const std::string& blocker) {
    check(status == 0 || status == 1, "status " + std::to_string(status));

    std::set<std::string> expected_root{"run"};
    if (c.in_the_way == obstacle::link_to_file && !blocker.empty())
        expected_root.insert("outside");
    check(entries(root) == expected_root, "something appeared outside the run's directory");
    if (!blocker.empty())
        check_obstacle(c.in_the_way, run, blocker);

    std::set<std::string> created = entries(run);
    if (c.in_the_way != obstacle::none)
        created.erase(blocker);
    check(created.size() <= 1, "more than one file");
    std::string made;
    if (!created.empty()) {
        made = *created.begin();
        check(fs::is_regular_file(fs::symlink_status(run / made)), "made something not a file");
    }

    const vmu_sim& card = port.card;
    check(card.stray.empty(), "a register outside the link was accessed");
    for (const std::string& complaint : card.complaints) {
        check(complaint.find("D4-D7") == std::string::npos &&
                  complaint.find("D1 changed") == std::string::npos,
              "the PC broke a line rule: " + complaint);
    }
    check(!card.acquired || card.released, "the port was not released");

    if (status != 0) {
        check(made.empty() || fs::file_size(run / made) == 0, "a failed run left data behind");
        return;
    }
    check(!made.empty(), "status 0 without a file");
    const std::string content = read_all(run / made);
    if (!c.glitches.empty()) {
        // Raw status values may change what was received; the file must
        // still be whole blocks.
        check(content.size() % 512 == 0 && content.size() <= 255 * 512, "file of broken size");
        return;
    }
    const model_result expected = model_transfer(card);
    check(expected.complete, "status 0 where the card's frames cannot make a transfer");
    check(content == std::string(expected.image.begin(), expected.image.end()),
          "the file does not hold the card's bytes");
    check(made == (c.named ? "out.bin" : name_from_block(expected.name)), "wrong file name");
}

}  // namespace cable_fuzz
