// info --json where text cannot say everything: a bare file cannot tell
// whether it is protected, names that are not UTF-8 come with their bytes,
// and the application identifier comes as text where it is printable.
#include <gtest/gtest.h>

#include "save_program.h"

namespace {

const std::uint8_t STAMP[8] = {0x20, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x00};

TEST(InfoJson, SaysWhatItCannotTellAndNamesEveryFileExactly) {
    temp_dir dir;
    write_bytes(dir, "BARE", make_save({}));
    write_bytes(dir, "odd\xFF", make_save({}));
    write_bytes(dir, "card.dci", make_dci(make_save({}), 0x33, "N\xFFME", STAMP));
    write_bytes(dir, "binary.dci",
                make_dci(make_save({.application = "\x01\x02\x03"}), 0x33, "BIN", STAMP));
    ASSERT_EQ(run_save(dir, "convert --protect BARE P.VMS").status, 0);
    const struct {
        const char* rule;
        std::string file;
        std::vector<std::string> present, absent;
    } cases[] = {
        {"a bare file cannot tell protection",
         "BARE",
         {"\"protected\": null,", "\"application_text\": \"TESTAPP\","},
         {"_bytes"}},
        {"a VMI tells it", "P.VMS", {"\"protected\": true,"}, {}},
        {"a file name that is not UTF-8",
         "odd\xFF",
         {"\"file\": \"odd\xEF\xBF\xBD\",\n    \"file_bytes\": \"6f6464ff\",",
          "\"name\": \"odd\xEF\xBF\xBD\",\n    \"name_bytes\": \"6f6464ff\","},
         {}},
        {"a card name that is not UTF-8",
         "card.dci",
         {"\"name\": \"N\xEF\xBF\xBDME\",\n    \"name_bytes\": \"4eff4d45\","},
         {"file_bytes"}},
        {"an application that is not text",
         "binary.dci",
         {"\"application\": \"010203", "\"application_text\": null,"},
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        const run_result r = run_save(dir, "info --json " + c.file);
        EXPECT_EQ(r.status, 0) << r.err;
        for (const auto& text : c.present)
            EXPECT_NE(r.out.find(text), std::string::npos) << text << "\n" << r.out;
        for (const auto& text : c.absent)
            EXPECT_EQ(r.out.find(text), std::string::npos) << text << "\n" << r.out;
    }
    EXPECT_NE(run_save(dir, "info BARE").out.find("Copy-protected:   unknown\n"),
              std::string::npos);
}

}  // namespace
