// Where the backed-up files go: a card image, each file placed where the
// card itself places a new one (card/card_place) under the image's lock and
// stored whole after each file, or a folder with a file per file in the form
// vmurx-card extract writes. A target refuses a file as soon as the frame
// that tells why has come (its size with the start frame, its name with the
// name frame), so that the card shows its own screen for it, and it changes
// nothing until the file is whole.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "backup/backup_options.h"
#include "cable/cable.h"
#include "card/card_disk.h"

/// A file as the card's Copy sent it.
struct backup_file {
    bool game = false;
    std::size_t blocks = 0;
    std::array<std::uint8_t, NAME_BLOCK_SIZE> name{};
    directory_tail tail{};              // the directory frame: stamp, size, header offset
    std::vector<std::uint8_t> content;  // blocks * 512 bytes
};

/// The card name of `file` as text, for messages (not yet made printable).
std::string backup_file_name(const backup_file& file);

/// Why a target will not take a file: the reason in words and what the user
/// can do. Empty when it will.
struct backup_refusal {
    std::string reason;
    std::string remedy;
    [[nodiscard]] bool refused() const { return !reason.empty(); }
};

class backup_target {
public:
    virtual ~backup_target() = default;
    /// Before each file: false with the reason when the target cannot take
    /// any file now (a card image another program holds, or unreadable).
    virtual bool begin(std::string& error) = 0;
    /// With the start frame.
    virtual backup_refusal check_size(bool game, std::size_t blocks) = 0;
    /// With the name frame.
    virtual backup_refusal check_name(const backup_file& file) = 0;
    /// Once the file is whole: stores it, with the words of where in
    /// `where`; false with the reason, the target as it was.
    virtual bool store(const backup_file& file, std::string& where, std::string& error) = 0;
    /// After each file, stored or not: lets go of what begin took.
    virtual void end() = 0;
};

/// The target the command line names.
std::unique_ptr<backup_target> backup_make_target(const backup_command_line& cl);
