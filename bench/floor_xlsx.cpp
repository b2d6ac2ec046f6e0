// SPDX-License-Identifier: MIT
// The floor of a conversion: read the input as a reader must (GAEB 90 and GAEB 2000 lines
// decoded from their code pages, GAEB DA XML parsed into a document tree) and write the same
// number of text, number and formula cells with libxlsxwriter alone, in the constant-memory mode
// the program's writer uses. No GAEB rule is applied: what a conversion costs beyond this is the
// program's own work.
//
//   floor_xlsx INPUT OUTPUT.xlsx ROWS TEXTS NUMBERS FORMULAS
#include <xlsxwriter.h>

#include <pugixml.hpp>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "workbook/text.h"

namespace {

std::string read_all(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void add_lines(std::string_view text, std::vector<std::string>& out, bool gaeb90) {
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!line.empty())
            out.push_back(gaeb90 ? workbook::cp850_to_utf8(line) : workbook::cp1252_to_utf8(line));
        start = end + 1;
    }
}

void add_texts(pugi::xml_node node, std::vector<std::string>& out) {
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
        if (child.type() == pugi::node_pcdata) {
            std::string_view v = child.value();
            if (v.size() > 140) v = v.substr(0, 140);
            out.emplace_back(v);
        } else {
            add_texts(child, out);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 7) {
        std::fputs("floor_xlsx INPUT OUTPUT.xlsx ROWS TEXTS NUMBERS FORMULAS\n", stderr);
        return 2;
    }
    const std::string input = argv[1];
    const long rows = std::atol(argv[3]);
    long texts = std::atol(argv[4]), numbers = std::atol(argv[5]), formulas = std::atol(argv[6]);

    std::vector<std::string> pieces;
    const std::string ext = input.substr(input.find_last_of('.') + 1);
    pugi::xml_document doc;
    if (!ext.empty() && (ext[0] == 'x' || ext[0] == 'X')) {
        if (!doc.load_file(input.c_str())) return 1;
        add_texts(doc, pieces);
    } else {
        const std::string bytes = read_all(input.c_str());
        add_lines(bytes, pieces, ext[0] == 'd' || ext[0] == 'D');
    }
    if (pieces.empty()) pieces.emplace_back("Text");

    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    lxw_workbook* wb = workbook_new_opt(argv[2], &options);
    lxw_worksheet* ws = workbook_add_worksheet(wb, "Positionsteil");
    const long cells = texts + numbers + formulas;
    const long per_row = rows > 0 ? (cells + rows - 1) / rows : cells;
    size_t piece = 0;
    char formula[64];
    // The three kinds mixed in their proportions, as rows of a bill mix them.
    const double share_t = cells ? double(texts) / double(cells) : 0,
                 share_n = cells ? double(numbers) / double(cells) : 0,
                 share_f = cells ? double(formulas) / double(cells) : 0;
    double due_t = 0, due_n = 0, due_f = 0;
    for (long r = 0, written = 0; written < cells; ++r) {
        for (long c = 0; c < per_row && written < cells; ++c, ++written) {
            const auto row = static_cast<lxw_row_t>(r);
            const auto col = static_cast<lxw_col_t>(c);
            due_t += share_t, due_n += share_n, due_f += share_f;
            const double t = texts > 0 ? due_t : -1e9, n = numbers > 0 ? due_n : -1e9,
                         f = formulas > 0 ? due_f : -1e9;
            if (t >= n && t >= f) {
                worksheet_write_string(ws, row, col, pieces[piece++ % pieces.size()].c_str(), nullptr);
                --texts, due_t -= 1;
            } else if (n >= f) {
                worksheet_write_number(ws, row, col, static_cast<double>(written % 1000) * 1.25, nullptr);
                --numbers, due_n -= 1;
            } else {
                std::snprintf(formula, sizeof formula, "=ROUND($G$%ld*$H$%ld,2)", r + 1, r + 1);
                worksheet_write_formula_num(ws, row, col, formula, nullptr, 12.5);
                --formulas, due_f -= 1;
            }
        }
    }
    return workbook_close(wb) == LXW_NO_ERROR ? 0 : 1;
}
