// SPDX-License-Identifier: MIT
#include "tests/angebot/angebot_support.h"

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <zip.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>

#include "angebot/tender.h"
#include "app/controller.h"
#include "bill/collector.h"
#include "tests/support/test_support.h"
#include "workbook/excel_session.h"
#include "workbook/layout.h"
#include "workbook/xlsx/xlsx_writer.h"

namespace angebot_test {

using bill::Bill;
using bill::Builder;
using bill::Item;

namespace fs = std::filesystem;

bill::Bill sample_bill() {
    bill::Bill bill;
    bill.header.project_name = "Neubau Halle 7";
    bill.header.project_label = "Neubau einer Lagerhalle mit Büro";
    bill.header.name = "LV 01";
    bill.header.label = "Erd- & Betonarbeiten";
    bill.header.date = "2024-06-15";
    bill.header.currency = "EUR";
    bill.header.breakdown = bill::breakdown_from_mask("1122PPPPI");
    bill::Builder b(bill);
    auto item = [&b](const char* oz, std::optional<double> qty, const char* unit, const char* id = "") {
        Item i;
        i.oz = oz;
        i.quantity = qty;
        i.unit = unit;
        i.id = id;
        return i;
    };
    b.enter_range(range("01", "Erdarbeiten", "C01"));
    b.enter_range(range("01", "Aushub"));
    b.add_item(item("01.01.0010", 100, "m3", "I0110"));
    b.add_item(item("01.01.0020", 12.5, "m2"));
    b.add_item(item("01.01.0020.a", 3, "St"));
    Item alternative = item("01.01.0030", 10, "m3");
    alternative.alternative = true;
    alternative.has_total = false;
    b.add_item(alternative);
    b.leave_range();
    b.enter_range(range("02", "Verfüllung"));
    Item without_total = item("01.02.0010", 5, "h");
    without_total.provis = bill::Provis::WithoutTotal;
    without_total.has_total = false;
    b.add_item(without_total);
    Item with_total = item("01.02.0020", 2, "St");
    with_total.provis = bill::Provis::WithTotal;
    b.add_item(with_total);
    b.leave_range();
    b.leave_range();
    b.enter_range(range("02", "Beton <C25/30> & Stahl"));
    b.enter_range(range("01", "Fundamente"));
    b.add_item(item("02.01.0010", 1.234, "t"));
    b.add_item(item("02.01.0020", 7, "m<3>&\"'"));
    b.leave_range();
    b.leave_range();
    return bill;
}

std::vector<std::optional<double>> sample_prices() {
    return {12.5, 47.25, 3.125, 80, 55.55, 120, 1234.567, 0.99};
}

namespace {

void caption(workbook::Sheet& s, int32_t col, const char* text) {
    s.set_value(7, col, text);
    s.set_bold(7, col, true);
}

}  // namespace

void write_priced_workbook(const bill::Bill& bill, const std::vector<std::optional<double>>& prices,
                           const fs::path& xlsx, const Shape& shape) {
    workbook::ExcelSession excel;
    excel.Connect();
    excel.set_locale_number_formats("#,###,##0.00", "#######0.000");
    excel.set_sheets_in_new_workbook(1);
    excel.add_workbook();
    workbook::Sheet& s = excel.workbook().sheet(1);
    s.set_name("Positionsteil");
    const char* labels[] = {"Projektname:", "LV-Bezeichnung:", "LV-Datum:", "Auftraggeber:", "OZ-Maske:"};
    for (int32_t r = 1; r <= 5; ++r) s.set_value(r, 1, labels[r - 1]);
    s.set_value(1, 2, bill.header.project_name);
    s.set_value(5, 2, "1122PPPPI");
    caption(s, 1, "Ordnungszahl");
    caption(s, 2, "Positionstext");
    caption(s, 3, "Menge");
    caption(s, 4, "ME");
    caption(s, 5, "E-Preis");
    caption(s, 6, "G-Preis");
    if (shape.calc_columns) {
        caption(s, 7, "Basispreis");
        caption(s, 8, "Faktor");
    }

    // Rows in document order: ranges by their label, items by their index.
    std::vector<std::pair<bool, uint32_t>> order;
    std::function<void(uint32_t)> walk = [&](uint32_t r) {
        for (const auto& e : bill.ranges()[r].children) {
            if (!e.is_range() && !e.is_item()) continue;
            order.push_back({e.is_range(), e.index});
            if (e.is_range()) walk(e.index);
        }
    };
    walk(0);
    if (shape.reversed) std::reverse(order.begin(), order.end());

    int32_t row = 8;
    for (const auto& [is_range, index] : order) {
        if (is_range) {
            s.set_value(row, 2, "LV-Bereich -  " + bill.ranges()[index].label);
            s.set_font_color(row++, 2, workbook::kColorBlue);
            continue;
        }
        const Item& item = bill.items()[index];
        const std::string r = std::to_string(row);
        s.set_value(row, 1, item.oz);
        s.set_value(row, 2,
                    item.counts_in_total() ? "*** Normalposition" : "*** Bedarfsposition ohne G-Preis");
        if (item.quantity) s.set_value(row, 3, *item.quantity);
        s.set_value(row, 4, item.unit);
        const std::optional<double> price = index < prices.size() ? prices[index] : std::nullopt;
        if (shape.calc_columns) {
            if (price) s.set_value(row, 7, *price);
            s.set_value(row, 8, 1.0);
            s.set_formula(row, 5, "=ROUND($G$" + r + "*$H$" + r + ",2)");
        } else if (price) {
            s.set_value(row, 5, *price);
        }
        if (item.counts_in_total()) s.set_formula(row, 6, "=ROUND($C$" + r + "*$E$" + r + ",2)");
        ++row;
        s.set_value(row++, 2, "Kurztext der Position " + item.oz);
        if (shape.spare_rows) {
            ++row;
            s.set_value(row++, 2, "Anmerkung des Kalkulators");
        }
    }
    workbook::xlsx::save(excel, excel.workbook(), xlsx);
}

std::vector<fs::path> libreoffice_resave(const std::vector<fs::path>& files, const fs::path& folder) {
    const char* candidates[] = {"/usr/bin/soffice", "/usr/local/bin/soffice", "/usr/bin/libreoffice"};
    std::string soffice;
    for (const char* c : candidates)
        if (fs::exists(c)) soffice = c;
    if (soffice.empty()) return {};
    const fs::path profile = folder / "profile";
    const fs::path out = folder / "resaved";
    fs::create_directories(profile / "user");
    fs::create_directories(out);
    std::string command = fmt::format(
        "HOME='{}' timeout 300 '{}' -env:UserInstallation=file://{} --headless --norestore --nolockcheck "
        "--convert-to xlsx --outdir '{}'",
        folder.string(), soffice, profile.string(), out.string());
    for (const auto& f : files) command += fmt::format(" '{}'", f.string());
    command += " >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    EXPECT_EQ(status, 0) << command;
    std::vector<fs::path> resaved;
    for (const auto& f : files) {
        resaved.push_back(out / f.filename());
        EXPECT_TRUE(fs::exists(resaved.back())) << "LibreOffice wrote no " << resaved.back();
    }
    return resaved;
}

std::string make_zip(const std::vector<std::pair<std::string, std::string>>& parts) {
    const fs::path path = testsupport::fresh_dir() / "package.zip";
    int error = 0;
    zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (z == nullptr) {
        ADD_FAILURE() << "zip_open " << error;
        return {};
    }
    for (const auto& [name, bytes] : parts) {
        zip_source_t* source = zip_source_buffer(z, bytes.data(), bytes.size(), 0);
        if (source == nullptr || zip_file_add(z, name.c_str(), source, ZIP_FL_OVERWRITE) < 0) {
            ADD_FAILURE() << "zip_file_add " << name;
            zip_source_free(source);
        }
    }
    if (zip_close(z) != 0) ADD_FAILURE() << "zip_close";
    return testsupport::read_file(path);
}

namespace {

uint32_t crc32(std::string_view bytes) {
    uint32_t crc = 0xFFFFFFFFu;
    for (const char ch : bytes) {
        crc ^= static_cast<unsigned char>(ch);
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void put16(std::string& out, uint32_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>((v >> 8) & 0xFF));
}

void put32(std::string& out, uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

}  // namespace

std::string make_stored_zip(const std::vector<std::pair<std::string, std::string>>& parts) {
    std::string out, directory;
    for (const auto& [name, bytes] : parts) {
        const auto offset = static_cast<uint32_t>(out.size());
        const uint32_t crc = crc32(bytes);
        const auto size = static_cast<uint32_t>(bytes.size());
        // Local header: signature, version 2.0, flags, stored, time, date, CRC, sizes, name length.
        put32(out, 0x04034b50);
        for (const uint32_t v : {20u, 0u, 0u, 0u, 0x21u}) put16(out, v);
        for (const uint32_t v : {crc, size, size}) put32(out, v);
        put16(out, static_cast<uint32_t>(name.size()));
        put16(out, 0);
        out += name;
        out += bytes;
        // Central directory entry of the same part.
        put32(directory, 0x02014b50);
        for (const uint32_t v : {20u, 20u, 0u, 0u, 0u, 0x21u}) put16(directory, v);
        for (const uint32_t v : {crc, size, size}) put32(directory, v);
        put16(directory, static_cast<uint32_t>(name.size()));
        for (int i = 0; i < 4; ++i) put16(directory, 0);
        put32(directory, 0);
        put32(directory, offset);
        directory += name;
    }
    const auto directory_offset = static_cast<uint32_t>(out.size());
    out += directory;
    put32(out, 0x06054b50);
    put16(out, 0);
    put16(out, 0);
    put16(out, static_cast<uint32_t>(parts.size()));
    put16(out, static_cast<uint32_t>(parts.size()));
    put32(out, static_cast<uint32_t>(directory.size()));
    put32(out, directory_offset);
    put16(out, 0);
    return out;
}

std::vector<std::pair<std::string, std::string>> read_zip(const std::string& bytes) {
    std::vector<std::pair<std::string, std::string>> parts;
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
    zip_t* z = source ? zip_open_from_source(source, ZIP_RDONLY, &error) : nullptr;
    zip_error_fini(&error);
    if (z == nullptr) {
        if (source) zip_source_free(source);
        ADD_FAILURE() << "no zip archive";
        return parts;
    }
    for (zip_int64_t i = 0; i < zip_get_num_entries(z, 0); ++i) {
        zip_stat_t stat;
        zip_file_t* f = zip_fopen_index(z, static_cast<zip_uint64_t>(i), 0);
        if (f == nullptr || zip_stat_index(z, static_cast<zip_uint64_t>(i), 0, &stat) != 0) {
            ADD_FAILURE() << "part " << i << " unreadable";
            if (f) zip_fclose(f);
            continue;
        }
        std::string data(stat.size, '\0');
        if (zip_fread(f, data.data(), data.size()) != static_cast<zip_int64_t>(data.size()))
            ADD_FAILURE() << "part " << stat.name << " short";
        parts.push_back({stat.name, std::move(data)});
        zip_fclose(f);
    }
    zip_discard(z);
    return parts;
}

std::vector<std::pair<std::string, std::string>> workbook_parts(const std::string& sheet_xml,
                                                                const std::string& shared_strings,
                                                                const std::string& sheet_file) {
    const std::string ns = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
    std::vector<std::pair<std::string, std::string>> parts;
    parts.push_back({"[Content_Types].xml",
                     "<?xml version=\"1.0\"?><Types "
                     "xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\"/>"});
    parts.push_back({"_rels/.rels",
                     "<?xml version=\"1.0\"?><Relationships "
                     "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"><Relationship "
                     "Id=\"rId1\" Type=\"" +
                         ns + "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>"});
    parts.push_back(
        {"xl/workbook.xml",
         "<?xml version=\"1.0\"?><workbook "
         "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" xmlns:r=\"" +
             ns +
             "\"><sheets><sheet name=\"Positionsteil\" sheetId=\"1\" r:id=\"rId7\"/></sheets></workbook>"});
    std::string rels =
        "<?xml version=\"1.0\"?><Relationships "
        "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"><Relationship Id=\"rId7\" "
        "Type=\"" +
        ns + "/worksheet\" Target=\"worksheets/" + sheet_file + "\"/>";
    if (!shared_strings.empty())
        rels += "<Relationship Id=\"rId8\" Type=\"" + ns + "/sharedStrings\" Target=\"sharedStrings.xml\"/>";
    parts.push_back({"xl/_rels/workbook.xml.rels", rels + "</Relationships>"});
    parts.push_back({"xl/worksheets/" + sheet_file, sheet_xml});
    if (!shared_strings.empty()) parts.push_back({"xl/sharedStrings.xml", shared_strings});
    return parts;
}

std::string worksheet(const std::string& rows) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><worksheet "
           "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData>" +
           rows + "</sheetData></worksheet>";
}

std::unique_ptr<Tender> read_tender(const fs::path& path, const workbook::ReadOptions& options) {
    auto tender = std::make_unique<Tender>();
    bill::Collector collector;
    app::ConversionController controller(tender->ui, testsupport::startup_values());
    tender->end = controller.read(path, options, collector);
    tender->model = angebot::tender_bill(std::move(collector.bill()));
    return tender;
}

bill::Range range(std::string rno_part, std::string label, std::string id) {
    bill::Range r;
    r.rno_part = std::move(rno_part);
    r.label = std::move(label);
    r.id = std::move(id);
    return r;
}

std::string outline(const bill::Bill& bill) {
    std::string out;
    std::function<void(uint32_t, int)> walk = [&](uint32_t r, int depth) {
        for (const auto& e : bill.ranges()[r].children) {
            out += std::string(static_cast<size_t>(depth) * 2, ' ');
            if (e.is_range()) {
                const bill::Range& sub = bill.ranges()[e.index];
                out += sub.rno_part + (sub.id.empty() ? "" : " [" + sub.id + "]") + "\n";
                walk(e.index, depth + 1);
                continue;
            }
            if (!e.is_item()) continue;
            const Item& i = bill.items()[e.index];
            out += i.rno_part + (i.rno_index.empty() ? "" : "." + i.rno_index) + " " + i.oz;
            if (i.quantity) out += fmt::format(" {}", *i.quantity);
            if (!i.unit.empty()) out += " " + i.unit;
            if (!i.id.empty()) out += " [" + i.id + "]";
            if (i.alternative) out += " alternative";
            if (i.provis == bill::Provis::WithTotal) out += " with-total";
            if (i.provis == bill::Provis::WithoutTotal) out += " without-total";
            if (i.markup_subject) out += " marked";
            if (i.surcharge) {
                out += i.markup_type == bill::MarkupType::AllInCat      ? " AllInCat"
                       : i.markup_type == bill::MarkupType::IdentAsMark ? " IdentAsMark"
                                                                        : " ListInSubQty";
                for (const auto& ref : i.markup_refs)
                    out +=
                        " >" + ref.item_id + (ref.sub_quantity ? fmt::format("*{}", *ref.sub_quantity) : "");
            }
            out += i.has_total ? " F" : " no-F";
            out += "\n";
        }
    };
    walk(0, 0);
    return out;
}

angebot::PricedWorkbook priced(const std::vector<std::pair<std::string, angebot::CellContent>>& rows) {
    angebot::PricedWorkbook book;
    book.caption_row = 7;
    int32_t r = 8;
    for (const auto& [oz, price] : rows) {
        angebot::PricedRow row;
        row.row = r++;
        row.oz = oz;
        row.unit_price = price;
        book.rows.push_back(std::move(row));
    }
    return book;
}

angebot::CellContent number(double value) {
    return {angebot::CellType::Number, value, {}};
}

angebot::CellContent text(const std::string& value) {
    return {angebot::CellType::Text, 0, value};
}

}  // namespace angebot_test
