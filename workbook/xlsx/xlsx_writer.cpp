// SPDX-License-Identifier: MIT
// Saving: our writer of the package into a new file beside the target, the file read back, and
// only then put in the target's place.
#include "workbook/xlsx/xlsx_writer.h"

#include <fmt/format.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <exception>
#include <new>
#include <string>
#include <system_error>

#include "workbook/errors.h"
#include "workbook/output_file.h"
#include "workbook/xlsx/package_writer.h"
#include "workbook/xlsx/zip_check.h"
#include "workbook/xlsx/zip_writer.h"

namespace workbook::xlsx {

namespace {

namespace fs = std::filesystem;

// Our own failure, already worded for the user; anything else thrown while saving is wrapped,
// except an allocation failure, which the caller reports as such.
class SaveError : public WorkbookError {
public:
    using WorkbookError::WorkbookError;
};

[[noreturn]] void fail(const fs::path& target, const std::string& reason) {
    throw SaveError(
        fmt::format("Die Arbeitsmappe {} kann nicht gespeichert werden: {}.", target.string(), reason));
}

[[noreturn]] void fail_errno(const fs::path& target, int error) {
    if (error == ENOMEM) throw std::bad_alloc();
    fail(target, errno_text(error));
}

// The share of the save that is done, for the caller's display: rows written and packed, then the
// read-back of the archive.
class SaveMeter {
public:
    explicit SaveMeter(const SaveProgress* progress) : m_progress(progress) {}

    void rows_packed(int64_t done, int64_t total) {
        report(kPackingEnd * done / std::max<int64_t>(total, 1));
    }
    void checking(uint64_t done, uint64_t total) {
        const int64_t steps = kSaveSteps - kPackingEnd;
        report(kPackingEnd +
               (total == 0 ? steps
                           : static_cast<int64_t>(static_cast<double>(std::min(done, total)) /
                                                  static_cast<double>(total) * static_cast<double>(steps))));
    }
    void finished() { report(kSaveSteps); }
    bool wanted() const { return m_progress != nullptr; }

private:
    static constexpr int64_t kPackingEnd = 820;

    void report(int64_t done) {
        if (!m_progress || done <= m_last) return;
        m_last = done;
        (*m_progress)(done, kSaveSteps);
    }

    const SaveProgress* m_progress;
    int64_t m_last = -1;
};

// True when the filesystem of `folder` has no room left for a block.
bool folder_full(const fs::path& folder) {
    struct statvfs st {};
    return ::statvfs(folder.c_str(), &st) == 0 && st.f_bavail == 0;
}

// The package into the new file; returns the parts the finished file must hold.
ZipExpectation write_own(const ExcelSession& excel, const Workbook& book, OutputFile& file,
                         const fs::path& target, SaveMeter& meter) {
    try {
        return write_package(file.fd(), excel, book,
                             [&meter](int64_t done, int64_t total) { meter.rows_packed(done, total); });
    } catch (const std::system_error& e) {
        fail_errno(target, e.code().value());
    } catch (const ZipTooLarge&) {
        fail(target, "Die Arbeitsmappe würde größer als 4 GiB, mehr fasst eine .xlsx-Datei ohne Zip64 nicht");
    } catch (const InvalidSheetName& e) {
        fail(target, fmt::format("Ungültiger Tabellenname \"{}\"", e.name));
    }
}

// Proves the written file complete before anything is replaced.
void verify(const OutputFile& file, const ZipExpectation& expected, const fs::path& target,
            SaveMeter& meter) {
    const ZipCheck check =
        meter.wanted() ? check_zip(file.temp_path(), expected,
                                   [&meter](uint64_t done, uint64_t total) { meter.checking(done, total); })
                       : check_zip(file.temp_path(), expected);
    if (check.ok) return;
    if (check.read_error != 0) fail_errno(target, check.read_error);
    if (folder_full(file.temp_path().parent_path())) fail_errno(target, ENOSPC);
    fail(target, "Die geschriebene Datei ist unvollständig (" + check.fault + ")");
}

void save_with(const ExcelSession& excel, const Workbook& book, const fs::path& target, Existing existing,
               const SaveProgress* progress) {
    SaveMeter meter(progress);
    try {
        OutputFile file(target, existing);
        const ZipExpectation expected = write_own(excel, book, file, target, meter);
        file.close();
        verify(file, expected, target, meter);
        file.commit();
    } catch (const OutputFileError& e) {
        if (e.error() == 0) fail(target, e.what());
        fail_errno(target, e.error());
    } catch (const SaveError&) {
        throw;
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& e) {
        fail(target, e.what());
    }
    meter.finished();
}

}  // namespace

void save(const ExcelSession& excel, const Workbook& book, const fs::path& target, Existing existing) {
    save_with(excel, book, target, existing, nullptr);
}

void save(const ExcelSession& excel, const Workbook& book, const fs::path& target, Existing existing,
          SaveProgress progress) {
    save_with(excel, book, target, existing, &progress);
}

}  // namespace workbook::xlsx
