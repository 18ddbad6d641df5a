// Choosing the names of extracted files.
#include "card/card_names.h"

#include <set>

#include "card/card_disk.h"
#include "files/text.h"

namespace {

constexpr std::size_t VMS_STEM_SIZE = 8;
// Past every name a folder could plausibly hold: "~99999" still leaves two
// bytes of a .VMS name.
constexpr unsigned MAX_VARIANT = 100000;

std::string trimmed(std::string name) {
    while (!name.empty() && (name.back() == '\0' || name.back() == ' '))
        name.pop_back();
    return name;
}

bool vms_character(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-';
}

// The name a card name gives, and whether it is the card name as it is.
card_disk_name own_name(const std::string& card_name, card_name_form form) {
    if (form != card_name_form::vms)
        return {card_output_name(card_name), false};
    const std::string stem = card_vms_stem(card_name);
    return {stem, stem != trimmed(card_name)};
}

// The `number`th variant of `stem`: "~N" after it, for a .VMS within 8
// bytes. The '~' lies outside card_vms_stem's letters on purpose, and the
// man page promises it: no stem the rule makes has one, so a chosen name is
// told at a glance from one the card gives and can never be another
// entry's own name.
std::string variant(const std::string& stem, unsigned number, card_name_form form) {
    const std::string suffix = "~" + std::to_string(number);
    if (form != card_name_form::vms)
        return stem + suffix;
    return stem.substr(0, VMS_STEM_SIZE - suffix.size()) + suffix;
}

}  // namespace

std::string card_vms_stem(const std::string& card_name) {
    std::string stem = trimmed(card_name).substr(0, VMS_STEM_SIZE);
    for (char& c : stem) {
        if (!vms_character(c))
            c = '_';
    }
    return stem.empty() ? "_" : stem;
}

std::vector<card_disk_name> card_disk_names(const std::vector<std::string>& card_names,
                                            card_name_form form,
                                            const std::function<bool(const std::string&)>& exists) {
    std::vector<card_disk_name> names(card_names.size());
    std::vector<bool> named(card_names.size(), false);
    std::set<std::string> taken;  // in lower case
    // First every entry that can keep the name its card name gives; a name
    // that had to be made (a .VMS's) must not meet an existing file either.
    for (std::size_t i = 0; i < card_names.size(); ++i) {
        const card_disk_name own = own_name(card_names[i], form);
        if (taken.contains(ascii_lower(own.stem)) || (own.chosen && exists(own.stem)))
            continue;
        taken.insert(ascii_lower(own.stem));
        names[i] = own;
        named[i] = true;
    }
    // Then the rest, each the first variant free in the run and the folder.
    for (std::size_t i = 0; i < card_names.size(); ++i) {
        if (named[i])
            continue;
        const std::string stem = own_name(card_names[i], form).stem;
        names[i] = {"", true};
        for (unsigned number = 2; number < MAX_VARIANT; ++number) {
            const std::string candidate = variant(stem, number, form);
            if (taken.contains(ascii_lower(candidate)) || exists(candidate))
                continue;
            taken.insert(ascii_lower(candidate));
            names[i].stem = candidate;
            break;
        }
    }
    return names;
}
