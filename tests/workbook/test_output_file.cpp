// SPDX-License-Identifier: MIT
// The rules every output file follows: the next free name, and a file that appears while ours is
// written is never replaced.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "tests/support/test_support.h"
#include "workbook/output_file.h"

namespace {

namespace fs = std::filesystem;

// Anything with the name takes it: a file, a folder, a link even when it leads nowhere. The number
// goes before the last extension only.
TEST(OutputFile, FreeNameCountsPastEveryTakenName) {
    const fs::path dir = testsupport::fresh_dir();
    testsupport::write_file(dir / "lv.xlsx", "");
    fs::create_directory(dir / "lv (2).xlsx");
    fs::create_symlink(dir / "fehlt", dir / "lv (3).xlsx");
    testsupport::write_file(dir / "LV", "");
    testsupport::write_file(dir / "lv.tar.gz", "");
    struct Case {
        const char* wanted;
        const char* free;
    } cases[] = {
        {"lv.xlsx", "lv (4).xlsx"},
        {"neu.xlsx", "neu.xlsx"},
        {"LV", "LV (2)"},
        {"lv.tar.gz", "lv.tar (2).gz"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.wanted);
        EXPECT_EQ(workbook::free_name(dir / c.wanted), dir / c.free);
    }
    // A rule of the caller's own: the names it gives out itself are taken as well.
    EXPECT_EQ(workbook::free_name(dir / "neu.xlsx",
                                  [](const fs::path& p) { return p.filename() == "neu (3).xlsx"; }),
              dir / "neu (3).xlsx");
}

// Under Existing::Keep a file that appears between the start and the rename stays as it is, and
// ours is gone; a new file gets the permissions the umask gives, not the temporary file's 0600.
TEST(OutputFile, NeverReplacesAFileThatAppearedMeanwhile) {
    const fs::path dir = testsupport::fresh_dir();
    const fs::path target = dir / "bericht.json";
    {
        workbook::OutputFile file(target, workbook::Existing::Keep);
        file.write("unser");
        testsupport::write_file(target, "fremd");
        try {
            file.commit();
            ADD_FAILURE() << "replaced";
        } catch (const workbook::OutputFileError& e) {
            EXPECT_EQ(e.error(), EEXIST);
        }
    }
    EXPECT_EQ(testsupport::read_file(target), "fremd");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);

    const mode_t mask = ::umask(027);
    {
        workbook::OutputFile file(dir / "neu.json", workbook::Existing::Keep);
        file.write("neu");
        file.commit();
    }
    ::umask(mask);
    EXPECT_EQ(testsupport::read_file(dir / "neu.json"), "neu");
    EXPECT_EQ(fs::status(dir / "neu.json").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

}  // namespace
