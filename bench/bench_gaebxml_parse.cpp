// SPDX-License-Identifier: MIT
// pugixml alone on a GAEB DA XML file, with the parse options of the reader: the floor that the
// conversion's time is compared with in bench_gaebxml.sh.
//
//   bench_gaebxml_parse FILE
#include <pugixml.hpp>

#include <chrono>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "Aufruf: bench_gaebxml_parse DATEI\n");
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    pugi::xml_document doc;
    const pugi::xml_parse_result result = doc.load_file(
        argv[1], pugi::parse_default | pugi::parse_comments | pugi::parse_doctype, pugi::encoding_utf8);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!result) {
        std::fprintf(stderr, "%s (offset %td)\n", result.description(), result.offset);
        return 1;
    }
    size_t elements = 0;
    for (pugi::xml_node n = doc.document_element(); n;) {
        ++elements;
        if (n.first_child()) {
            n = n.first_child();
            continue;
        }
        while (n && !n.next_sibling()) n = n.parent();
        if (n) n = n.next_sibling();
    }
    std::printf("%.3f s, %zu nodes\n", seconds, elements);
    return 0;
}
