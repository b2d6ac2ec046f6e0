// SPDX-License-Identifier: MIT
// The document operations the GAEB DA XML reader uses, over pugixml. White space between
// elements is no node, with one exception: white space without a line break between two tags of
// inline text elements ("</span> <span>", "<span> </span>") is a text node, since it is the blank
// between two words; white space holding a line break is the file's indentation. Comments are
// nodes (with a name no element has). A missing child comes back as the null node, which behaves
// as an empty element: no children, no attributes, no text.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include <pugixml.hpp>

#include "workbook/errors.h"
#include "workbook/input_place.h"

namespace gaebxml {

using Node = pugi::xml_node;

// The document holds a text that is not a single text node where one is needed, or a required
// text is missing.
class XmlDocError : public workbook::BremoraError {
public:
    explicit XmlDocError(const std::string& message) : BremoraError("EXMLDocError", message) {}
};

// The file is no well-formed XML document, or one the reader does not take (DOCTYPE, encoding).
// A fault of the XML carries its line and column (BremoraError::line, column).
class DomParseError : public workbook::BremoraError {
public:
    explicit DomParseError(const std::string& message) : BremoraError("EDOMParseError", message) {}
    // The fault is the end of the file: the document stops inside an element (a file cut off).
    bool ends_early() const noexcept { return m_ends_early; }
    void set_ends_early() noexcept { m_ends_early = true; }

private:
    bool m_ends_early = false;
};

// How the bytes of a file are turned into the UTF-8 text that is parsed. Utf16or32: bytes that
// begin with the byte-order mark of UTF-16 or UTF-32, or without one with "<" in one of them.
enum class SourceEncoding { Utf8, Latin1, Latin9, Cp1252, Utf16or32 };

// The encoding named in the XML declaration, upper-cased; empty when there is none.
std::string declared_encoding(std::string_view bytes);
// The encoding to decode with; throws DomParseError for an encoding the reader does not know.
SourceEncoding source_encoding(std::string_view bytes);

// The document, and the locator of its places for the messages: parsing in place changes the
// text, so the first message that needs a line reads the file once more (`original`) and keeps
// that text and its line starts until the next load.
class XmlDocument : public workbook::InputPlace::Locator {
public:
    // Parses the bytes of a file; `original` gives them again for the line and column of a fault
    // (none: faults without them). Throws DomParseError with a German message, marked as ending
    // early when the document is whole up to where the file stops.
    void load(std::string bytes, std::function<std::string()> original);
    void load_file(const std::filesystem::path& path);
    Node root() const { return m_doc.document_element(); }
    // How the bytes of the file loaded last were decoded.
    SourceEncoding encoding() const { return m_encoding; }

    // Byte offset of a node in the parsed text: of an element its "<", of a text its first
    // character; -1 for the null node.
    static int64_t offset_of(Node n);
    workbook::LineColumn locate(int64_t offset) noexcept override;

private:
    std::string m_text;  // the parsed text; pugixml points into it
    pugi::xml_document m_doc;
    std::function<std::string()> m_original;
    SourceEncoding m_encoding = SourceEncoding::Utf8;
    bool m_located = false;  // the text below has been made (or could not be)
    std::string m_fresh;     // the text as parsed, before parsing changed it
    workbook::LineIndex m_lines;
};

// Name of an element; other nodes carry "#text", "#cdata-section" or "#comment".
std::string_view node_name(Node n);
bool has_children(Node n);
// First child element of that name, or the null node standing in for an empty element.
Node ChildElement(Node n, const char* name);
// Same, for a path of names: child_path(n, {"Description", "CompleteText"}).
Node child_path(Node n, std::initializer_list<const char*> names);
// First child element of that name, or the null node.
Node FindChild(Node n, const char* name);
// Text of the element: nullopt when it is empty; throws XmlDocError when it holds anything else
// than one text or CDATA node.
std::optional<std::string_view> ElementText(Node n);
// ElementText of the first child of that name; nullopt also when there is no such child.
std::optional<std::string_view> ChildText(Node n, const char* name);
bool HasAttribute(Node n, const char* name);
// The attribute's text, empty when it is missing.
std::string_view AttributeText(Node n, const char* name);
Node NextSibling(Node n);

// A value that must be text: throws XmlDocError naming the element when it is null.
std::string_view require_text(std::optional<std::string_view> text, std::string_view element);

}  // namespace gaebxml
