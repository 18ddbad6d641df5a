// vmurx-save check: a line per file, intact or FAILED or not a save, and an
// exit status that scripts can rely on.
#include <cstdio>

#include "files/text.h"
#include "save/vmurx_save.h"

int run_check(const command_line& cl) {
    bool failed = false;
    bool unusable = false;
    for (const auto& path : cl.operands) {
        examined f;
        file_error error;
        std::string result;
        if (!examine(path, f, error)) {
            // A .vmi read through its .vms (or the reverse) names the file
            // that is missing or wrong.
            result = "cannot read (" +
                     (error.object == path ? "" : printable(error.object) + ": ") + error.reason +
                     ")";
            unusable = true;
        } else {
            const save_analysis& a = f.analysis;
            switch (a.verdict) {
                case save_verdict::intact:
                    result = a.kind == save_kind::data   ? "OK"
                             : a.kind == save_kind::game ? "OK (game file, no checksum)"
                                                         : "OK (icon file, no checksum)";
                    break;
                case save_verdict::checksum_mismatch:
                    result = "FAILED (checksum " + hex_number(a.crc->stored, 4) + ", computed " +
                             hex_number(a.crc->computed, 4) + ")";
                    failed = true;
                    break;
                case save_verdict::truncated:
                    result = "FAILED (truncated: " + a.reason + ")";
                    failed = true;
                    break;
                default:
                    result = "not a save (" + a.reason + ")";
                    unusable = true;
            }
        }
        std::printf("%s: %s\n", printable(path).c_str(), result.c_str());
    }
    return unusable ? 2 : failed ? 1 : 0;
}
