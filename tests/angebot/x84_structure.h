// SPDX-License-Identifier: MIT
// The structural checks a bid of phase 84 must pass: well-formed DA XML 3.3 in its namespace,
// every element under a parent that may hold it and in the order of the standard, required
// elements present, no empty or padded texts, numbers with a decimal point and their decimals,
// unique IDs, and every total equal to the sum below it.
#pragma once

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace angebot_test {

// Every fault of the bid, one line each; empty when it passes.
std::vector<std::string> x84_structure_faults(std::string_view xml);

// Which child elements stand before which under each parent, as a set of bills shows it.
struct ElementOrder {
    std::set<std::pair<std::string, std::string>> children;  // (parent, child) seen
    std::map<std::string, std::set<std::pair<std::string, std::string>>>
        before;  // parent -> (a, b): a before b
};
// The order in the given DA XML files (element names without namespace).
ElementOrder element_order(const std::vector<std::filesystem::path>& files);
// Places where `xml` puts an element under a parent the bills never do, or two children in the
// opposite order of the bills.
std::vector<std::string> order_faults(const ElementOrder& order, std::string_view xml);

// The phase-84 bills among the samples (*.x84 and the samples named after phase 84).
std::vector<std::filesystem::path> sample_x84_files();

}  // namespace angebot_test
