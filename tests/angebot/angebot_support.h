// SPDX-License-Identifier: MIT
// Bills, priced workbooks and hand-made packages for the tests of the bid.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "angebot/model.h"
#include "angebot/priced_workbook.h"
#include "workbook/conversion.h"
#include "workbook/frontend.h"

namespace angebot_test {

// A range of a hand-made bill.
bill::Range range(std::string rno_part, std::string label, std::string id = {});

// A bill as a reader gives it: breakdown 2, 2, 4 and an index of 1; ranges 01 (01.01, 01.02) and
// 02 (02.01); normal items, an indexed item, an alternative, contingencies with and without total.
bill::Bill sample_bill();
// A unit price for each item of sample_bill, some with three decimals.
std::vector<std::optional<double>> sample_prices();

// How the priced Positionsteil is laid out and what the estimator did to it.
struct Shape {
    bool calc_columns = true;  // E = ROUND(G*H,2) with the price in G; else the price in E
    bool reversed = false;     // item rows sorted in reverse order
    bool spare_rows = false;   // an empty row and a note row inserted after every item
};

// Positionsteil as the readers write it (header block, caption row 7, a range row per range, an
// item row per item with its texts), with `prices[i]` for item i (nullopt: the cell stays empty),
// saved as .xlsx by our writer: every formula carries its computed result.
void write_priced_workbook(const bill::Bill& bill, const std::vector<std::optional<double>>& prices,
                           const std::filesystem::path& xlsx, const Shape& shape = {});

// The files re-saved by headless LibreOffice Calc (own profile) into `folder`, in the same order;
// empty when soffice is not installed. A failed run fails the test.
std::vector<std::filesystem::path> libreoffice_resave(const std::vector<std::filesystem::path>& files,
                                                      const std::filesystem::path& folder);

// A zip archive of the parts, deflated.
std::string make_zip(const std::vector<std::pair<std::string, std::string>>& parts);
// A zip archive of the parts stored as they are, in this order, a name twice included (which
// libzip does not write).
std::string make_stored_zip(const std::vector<std::pair<std::string, std::string>>& parts);
// The parts of a zip archive, in the archive's order.
std::vector<std::pair<std::string, std::string>> read_zip(const std::string& bytes);

// The parts of a one-sheet workbook whose sheet "Positionsteil" is `sheet_xml` (the whole
// worksheet part) at xl/worksheets/`sheet_file`, with shared strings when given.
std::vector<std::pair<std::string, std::string>> workbook_parts(const std::string& sheet_xml,
                                                                const std::string& shared_strings = {},
                                                                const std::string& sheet_file = "sheet1.xml");

// <worksheet> with <sheetData> around `rows`.
std::string worksheet(const std::string& rows);

// The bill's tree, one line per range and item, indented by depth:
//   "01 [C1]" for a range (ID in brackets when it has one), and for an item
//   "0010.a 01.01.0010.a 12.5 m3 [I1] alternative without-total F", a surcharge with its kind and
//   the items it names ("ListInSubQty >I9*2.5 >I1"); F or no-F: whether it has a total.
std::string outline(const bill::Bill& bill);

// A tender read by the controller as for a bid, as the bid takes it (angebot::tender_bill).
struct Tender {
    bill::Bill model;
    workbook::RecordingFrontend ui;
    workbook::RunEnd end = workbook::RunEnd::Running;
};
std::unique_ptr<Tender> read_tender(const std::filesystem::path& path,
                                    const workbook::ReadOptions& options = {});

// A PricedWorkbook made in memory: rows (OZ, unit price) from row 8 on.
angebot::PricedWorkbook priced(const std::vector<std::pair<std::string, angebot::CellContent>>& rows);
angebot::CellContent number(double value);
angebot::CellContent text(const std::string& value);

}  // namespace angebot_test
