// SPDX-License-Identifier: MIT
#include "tests/angebot/x84_structure.h"

#include <fmt/format.h>

#include <pugixml.hpp>

#include <cstdint>
#include <map>
#include <regex>
#include <set>

#include "tests/support/test_support.h"

namespace angebot_test {

namespace {

std::string local(const char* name) {
    const std::string n(name);
    const size_t colon = n.find(':');
    return colon == std::string::npos ? n : n.substr(colon + 1);
}

// A child element the parent may hold: its place in the order, whether it must be there, whether
// it may repeat.
struct Slot {
    const char* name;
    bool required;
    bool repeats;
};

// The DA XML 3.3 order of the elements a bid uses, as the phase-84 bills of the standard's test
// files have it.
const std::map<std::string, std::vector<Slot>>& schema() {
    static const std::map<std::string, std::vector<Slot>> table = {
        {"GAEB", {{"GAEBInfo", true, false}, {"PrjInfo", true, false}, {"Award", true, false}}},
        {"GAEBInfo",
         {{"Version", true, false},
          {"VersDate", true, false},
          {"Date", true, false},
          {"Time", false, false},
          {"ProgSystem", false, false},
          {"ProgName", false, false}}},
        {"PrjInfo", {{"NamePrj", true, false}, {"LblPrj", false, false}}},
        {"Award",
         {{"DP", true, false},
          {"AwardInfo", true, false},
          {"OWN", false, false},
          {"CTR", false, false},
          {"BoQ", true, false}}},
        {"AwardInfo", {{"Cur", true, false}, {"CurLbl", false, false}}},
        {"CTR", {{"Address", true, false}}},
        {"Address",
         {{"Name1", true, false},
          {"Name2", false, false},
          {"Name3", false, false},
          {"Name4", false, false},
          {"Street", false, false},
          {"PCode", false, false},
          {"City", false, false}}},
        {"BoQ", {{"BoQInfo", true, false}, {"BoQBody", true, false}}},
        {"BoQInfo",
         {{"Name", true, false}, {"Date", false, false}, {"BoQBkdn", true, true}, {"Totals", false, false}}},
        {"BoQBkdn",
         {{"Type", true, false},
          {"LblBoQBkdn", false, false},
          {"Length", true, false},
          {"Num", true, false},
          {"Alignment", false, false}}},
        {"Totals", {{"Total", true, false}}},
        {"BoQCtgy", {{"BoQBody", true, false}, {"Totals", true, false}}},
        {"Item", {{"Qty", false, false}, {"QU", false, false}, {"UP", false, false}, {"IT", false, false}}},
        {"MarkupItem", {{"ITMarkup", false, false}, {"Markup", false, false}, {"IT", false, false}}},
    };
    return table;
}

// Texts of the leaves, by element name.
const std::map<std::string, std::regex>& formats() {
    static const std::map<std::string, std::regex> table = {
        {"Version", std::regex("3\\.3")},
        {"VersDate", std::regex("2021-05")},
        {"Date", std::regex("[0-9]{4}-[0-9]{2}-[0-9]{2}")},
        {"Time", std::regex("[0-9]{2}:[0-9]{2}:[0-9]{2}")},
        {"DP", std::regex("84")},
        {"Cur", std::regex("[A-Z]{3}")},
        {"Type", std::regex("BoQLevel|Item|Index")},
        {"Length", std::regex("[1-9]")},
        {"Num", std::regex("Yes|No")},
        {"Alignment", std::regex("left|right")},
        {"Qty", std::regex("-?[0-9]+\\.[0-9]{3,}")},
        {"UP", std::regex("-?[0-9]+\\.[0-9]{2,3}")},
        {"Markup", std::regex("-?[0-9]+\\.[0-9]{2,3}")},
        {"IT", std::regex("-?[0-9]+\\.[0-9]{2}")},
        {"ITMarkup", std::regex("-?[0-9]+\\.[0-9]{2}")},
        {"Total", std::regex("-?[0-9]+\\.[0-9]{2}")},
    };
    return table;
}

int64_t cents(const char* text) {
    const std::string t(text);
    const size_t dot = t.find('.');
    if (dot == std::string::npos || t.size() != dot + 3) return INT64_MIN;
    const bool negative = !t.empty() && t[0] == '-';
    const int64_t whole = std::stoll(t.substr(negative ? 1 : 0, dot - (negative ? 1 : 0)));
    const int64_t value = whole * 100 + std::stoll(t.substr(dot + 1));
    return negative ? -value : value;
}

class Checker {
public:
    std::vector<std::string> run(std::string_view xml) {
        pugi::xml_document doc;
        const auto result = doc.load_buffer(
            xml.data(), xml.size(), pugi::parse_default | pugi::parse_declaration | pugi::parse_ws_pcdata);
        if (!result) return {fmt::format("not well-formed: {} at {}", result.description(), result.offset)};
        const pugi::xml_node decl = doc.first_child();
        if (decl.type() != pugi::node_declaration ||
            std::string_view(decl.attribute("encoding").value()) != "UTF-8")
            fault("", "no XML declaration with encoding UTF-8");
        const pugi::xml_node root = doc.document_element();
        if (std::string_view(root.name()) != "GAEB") fault("", "root is not GAEB");
        if (std::string_view(root.attribute("xmlns").value()) != "http://www.gaeb.de/GAEB_DA_XML/DA84/3.3")
            fault("GAEB", "not in the namespace of DA 84, version 3.3");
        element(root, "GAEB");
        const pugi::xml_node info = root.child("Award").child("BoQ").child("BoQInfo");
        const pugi::xml_node body = root.child("Award").child("BoQ").child("BoQBody");
        if (info.child("Totals") && body) {
            const int64_t sum = body_sum(body, "BoQ");
            if (cents(info.child("Totals").child_value("Total")) != sum)
                fault("BoQInfo/Totals", fmt::format("Total {} is not the sum {}",
                                                    info.child("Totals").child_value("Total"), sum));
        }
        return std::move(m_faults);
    }

private:
    void fault(const std::string& where, const std::string& what) { m_faults.push_back(where + ": " + what); }

    void attributes(pugi::xml_node n, const std::string& path, std::initializer_list<const char*> allowed,
                    std::initializer_list<const char*> required) {
        for (pugi::xml_attribute a = n.first_attribute(); a; a = a.next_attribute()) {
            bool ok = false;
            for (const char* name : allowed) ok = ok || std::string_view(a.name()) == name;
            if (!ok) fault(path, fmt::format("attribute {} not expected", a.name()));
            if (std::string_view(a.value()).empty()) fault(path, fmt::format("attribute {} empty", a.name()));
        }
        for (const char* name : required)
            if (!n.attribute(name)) fault(path, fmt::format("attribute {} missing", name));
        if (pugi::xml_attribute id = n.attribute("ID")) {
            if (!m_ids.insert(id.value()).second) fault(path, fmt::format("ID {} not unique", id.value()));
            if (!std::regex_match(id.value(), std::regex("[A-Za-z_][A-Za-z0-9._-]*")))
                fault(path, fmt::format("ID {} is no xs:ID", id.value()));
        }
    }

    void element(pugi::xml_node n, const std::string& path) {
        const std::string name = n.name();
        if (name == "GAEB")
            attributes(n, path, {"xmlns"}, {"xmlns"});
        else if (name == "BoQ")
            attributes(n, path, {"ID"}, {"ID"});
        else if (name == "BoQCtgy")
            attributes(n, path, {"ID", "RNoPart"}, {"ID", "RNoPart"});
        else if (name == "Item" || name == "MarkupItem")
            attributes(n, path, {"ID", "RNoPart", "RNoIndex"}, {"ID", "RNoPart"});
        else
            attributes(n, path, {}, {});

        std::vector<pugi::xml_node> elements;
        bool has_text = false;
        for (pugi::xml_node c = n.first_child(); c; c = c.next_sibling()) {
            if (c.type() == pugi::node_element)
                elements.push_back(c);
            else if (c.type() == pugi::node_pcdata || c.type() == pugi::node_cdata)
                has_text =
                    has_text || std::string_view(c.value()).find_first_not_of(" \t\r\n") != std::string::npos;
            else
                fault(path, "holds a node that is no element and no text");
        }
        if (has_text && !elements.empty()) fault(path, "mixes text and elements");

        const auto it = schema().find(name);
        const bool container = it != schema().end() || name == "BoQBody" || name == "Itemlist";
        if (!container) {
            if (!elements.empty()) fault(path, "a value element holds elements");
            const std::string value = n.child_value();
            if (value.empty()) fault(path, "empty element");
            if (!value.empty() && (value.front() == ' ' || value.back() == ' ' ||
                                   value.find_first_of("\t\r\n") != std::string::npos))
                fault(path, fmt::format("text \"{}\" with blanks around it or line breaks", value));
            const auto format = formats().find(name);
            if (format != formats().end() && !std::regex_match(value, format->second))
                fault(path, fmt::format("\"{}\" is no valid {}", value, name));
            return;
        }
        if (has_text) fault(path, "a container holds text");

        if (name == "BoQBody") {
            if (elements.empty()) fault(path, "empty BoQBody");
            for (const auto& c : elements) {
                const std::string cn = c.name();
                if (cn != "BoQCtgy" && cn != "Itemlist") fault(path, fmt::format("{} not expected", cn));
                element(c, path + "/" + cn);
            }
            return;
        }
        if (name == "Itemlist") {
            if (elements.empty()) fault(path, "empty Itemlist");
            for (const auto& c : elements) {
                const std::string cn = c.name();
                if (cn != "Item" && cn != "MarkupItem") fault(path, fmt::format("{} not expected", cn));
                element(c, path + "/" + cn + "[" + c.attribute("RNoPart").value() + "]");
            }
            return;
        }

        const std::vector<Slot>& slots = it->second;
        size_t at = 0;
        std::vector<int> seen(slots.size(), 0);
        for (const auto& c : elements) {
            const std::string cn = c.name();
            size_t slot = 0;
            while (slot < slots.size() && cn != slots[slot].name) ++slot;
            if (slot == slots.size()) {
                fault(path, fmt::format("{} not expected", cn));
                continue;
            }
            if (slot < at) fault(path, fmt::format("{} out of order", cn));
            if (++seen[slot] > 1 && !slots[slot].repeats) fault(path, fmt::format("{} more than once", cn));
            at = std::max(at, slot);
            element(c, path + "/" + cn);
        }
        for (size_t s = 0; s < slots.size(); ++s)
            if (slots[s].required && seen[s] == 0) fault(path, fmt::format("{} missing", slots[s].name));

        if (name == "BoQCtgy" && n.child("Totals")) {
            const int64_t sum = body_sum(n.child("BoQBody"), path);
            if (cents(n.child("Totals").child_value("Total")) != sum)
                fault(path,
                      fmt::format("Total {} is not the sum {}", n.child("Totals").child_value("Total"), sum));
        }
        if (name == "MarkupItem" && n.child("IT") && n.child("ITMarkup") && n.child("Markup")) {
            const double expected =
                std::stod(n.child_value("ITMarkup")) * std::stod(n.child_value("Markup")) / 100;
            if (std::abs(static_cast<double>(cents(n.child_value("IT"))) / 100 - expected) > 0.005 + 1e-9)
                fault(path, "IT is not ITMarkup times Markup");
        }
    }

    // The totals of the categories in a body and the ITs of its items.
    int64_t body_sum(pugi::xml_node body, const std::string& path) {
        int64_t sum = 0;
        for (pugi::xml_node c : body.children()) {
            if (std::string_view(c.name()) == "BoQCtgy") {
                sum += cents(c.child("Totals").child_value("Total"));
            } else if (std::string_view(c.name()) == "Itemlist") {
                for (pugi::xml_node i : c.children())
                    if (i.child("IT")) {
                        const int64_t it = cents(i.child_value("IT"));
                        if (it == INT64_MIN) fault(path, "IT without two decimals");
                        sum += it;
                    }
            }
        }
        return sum;
    }

    std::vector<std::string> m_faults;
    std::set<std::string> m_ids;
};

void collect_order(pugi::xml_node n, ElementOrder& order) {
    std::vector<std::string> names;
    for (pugi::xml_node c = n.first_child(); c; c = c.next_sibling()) {
        if (c.type() != pugi::node_element) continue;
        const std::string cn = local(c.name());
        order.children.insert({local(n.name()), cn});
        names.push_back(cn);
        collect_order(c, order);
    }
    auto& before = order.before[local(n.name())];
    for (size_t i = 0; i < names.size(); ++i)
        for (size_t j = i + 1; j < names.size(); ++j)
            if (names[i] != names[j]) before.insert({names[i], names[j]});
}

}  // namespace

std::vector<std::string> x84_structure_faults(std::string_view xml) {
    return Checker().run(xml);
}

ElementOrder element_order(const std::vector<std::filesystem::path>& files) {
    ElementOrder order;
    for (const auto& f : files) {
        pugi::xml_document doc;
        if (doc.load_file(f.c_str())) collect_order(doc.document_element(), order);
    }
    return order;
}

std::vector<std::string> order_faults(const ElementOrder& order, std::string_view xml) {
    ElementOrder ours;
    pugi::xml_document doc;
    if (!doc.load_buffer(xml.data(), xml.size())) return {"not well-formed"};
    collect_order(doc.document_element(), ours);
    std::vector<std::string> faults;
    for (const auto& pc : ours.children)
        if (!order.children.count(pc))
            faults.push_back(fmt::format("{} under {}: never so in the phase-84 bills", pc.second, pc.first));
    for (const auto& [parent, pairs] : ours.before) {
        const auto theirs = order.before.find(parent);
        if (theirs == order.before.end()) continue;
        for (const auto& [a, b] : pairs)
            if (theirs->second.count({b, a}) && !theirs->second.count({a, b}))
                faults.push_back(
                    fmt::format("{}: {} before {}, the bills have it the other way", parent, a, b));
    }
    return faults;
}

std::vector<std::filesystem::path> sample_x84_files() {
    std::vector<std::filesystem::path> files;
    const auto dir = testsupport::samples_dir() / "xml";
    std::error_code ec;
    if (!std::filesystem::is_directory(dir, ec)) return files;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        const std::string name = e.path().filename().string();
        std::string ext = e.path().extension().string();
        for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (ext == ".x84" || name.find("x84") != std::string::npos) files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace angebot_test
