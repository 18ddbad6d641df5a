// Pass 2's output: each statement's bytes, from the values its operands have
// now that every name is defined, written into the image at the address pass
// 1 gave it.
#include <algorithm>
#include <array>

#include "cardcpu/asm/assembly.h"

namespace {

/// The bytes of one statement of pass 2; false with `error` set.
bool encode(vmu_asm_assembly& as, const vmu_asm_statement& statement,
            std::vector<std::uint8_t>& bytes, std::string& error) {
    if (statement.kind == vmu_asm_statement_kind::fixed) {
        bytes = statement.fixed;
        return true;
    }
    std::vector<std::int64_t> values;
    for (const vmu_asm_operand& operand : statement.operands) {
        if (operand.kind == vmu_asm_operand_kind::indirect) {
            values.push_back(operand.reg);
        } else if (const auto value = vmu_asm_value(as, operand.value, error)) {
            values.push_back(*value);
        } else {
            return false;
        }
    }
    if (statement.kind == vmu_asm_statement_kind::instruction) {
        std::array<std::uint8_t, 3> out{};
        if (!vmu_asm_encode(*statement.form, statement.pc, values, out, error)) {
            return false;
        }
        bytes.assign(out.begin(), out.begin() + statement.form->size);
        return true;
    }
    for (const vmu_asm_data_item& item : statement.items) {
        if (item.is_string) {
            bytes.insert(bytes.end(), item.text.begin(), item.text.end());
            continue;
        }
        const std::optional<std::int64_t> value = vmu_asm_value(as, item.value, error);
        if (!value) {
            return false;
        }
        const bool word = statement.kind == vmu_asm_statement_kind::words;
        if (*value < (word ? -0x8000 : -0x80) || *value > (word ? 0xFFFF : 0xFF)) {
            error = "value " + vmu_asm_hex(*value, 1) + " does not fit in a " +
                    (word ? "word" : "byte");
            return false;
        }
        bytes.push_back(static_cast<std::uint8_t>(*value & 0xFF));
        if (word) {
            bytes.push_back(static_cast<std::uint8_t>((*value >> 8) & 0xFF));
        }
    }
    return true;
}

}  // namespace

std::vector<std::uint8_t> vmu_asm_write_image(vmu_asm_assembly& as) {
    std::vector<std::uint8_t> image;
    std::vector<int> owner(vmu_asm_space, -1);
    for (std::size_t index = 0; index < as.statements.size(); ++index) {
        const vmu_asm_statement& statement = as.statements[index];
        std::vector<std::uint8_t> bytes;
        std::string error;
        if (!encode(as, statement, bytes, error)) {
            vmu_asm_fail_at(as, statement.file, statement.line, error);
            continue;
        }
        const auto pc = static_cast<std::size_t>(statement.pc);
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            const int previous = owner[pc + i];
            if (previous >= 0) {
                const vmu_asm_statement& first = as.statements[static_cast<std::size_t>(previous)];
                vmu_asm_fail_at(as, statement.file, statement.line,
                                "overwrites " + vmu_asm_hex(static_cast<std::int64_t>(pc + i), 4) +
                                    ", already written by " +
                                    vmu_asm_where(as, first.file, first.line));
                break;
            }
            owner[pc + i] = static_cast<int>(index);
        }
        if (image.size() < pc + bytes.size()) {
            image.resize(pc + bytes.size(), 0);
        }
        std::copy(bytes.begin(), bytes.end(), image.begin() + static_cast<std::ptrdiff_t>(pc));
    }
    return image;
}
