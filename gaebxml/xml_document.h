// SPDX-License-Identifier: MIT
// The document operations the GAEB DA XML reader uses, over pugixml. White space between
// elements is no node; comments are nodes (with a name no element has). A missing child comes
// back as the null node, which behaves as an empty element: no children, no attributes, no text.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include <pugixml.hpp>

#include "workbook/errors.h"

namespace gaebxml {

using Node = pugi::xml_node;

// The document holds a text that is not a single text node where one is needed, or a required
// text is missing.
class XmlDocError : public workbook::BremoraError {
public:
    explicit XmlDocError(const std::string& message) : BremoraError("EXMLDocError", message) {}
};

// The file is no well-formed XML document, or one the reader does not take (DOCTYPE, encoding).
class DomParseError : public workbook::BremoraError {
public:
    explicit DomParseError(const std::string& message) : BremoraError("EDOMParseError", message) {}
};

// How the bytes of a file are turned into the UTF-8 text that is parsed.
enum class SourceEncoding { Utf8, Latin1, Latin9, Cp1252, Utf16or32 };

// The encoding named in the XML declaration, upper-cased; empty when there is none.
std::string declared_encoding(std::string_view bytes);
// The encoding to decode with; throws DomParseError for an encoding the reader does not know.
SourceEncoding source_encoding(std::string_view bytes);

class XmlDocument {
public:
    // Parses the bytes of a file; `original` gives them again for the line and column of a fault.
    // Throws DomParseError with a German message.
    void load(std::string bytes, const std::function<std::string()>& original);
    void load_file(const std::filesystem::path& path);
    Node root() const { return m_doc.document_element(); }

private:
    std::string m_text;  // the parsed text; pugixml points into it
    pugi::xml_document m_doc;
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
