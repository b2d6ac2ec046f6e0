// SPDX-License-Identifier: MIT
// The document operations over pugixml: loading, encodings, refusals, and the null and failure
// rules of the text lookups.
#include <gtest/gtest.h>

#include "gaebxml/xml_document.h"

namespace {

using gaebxml::Node;

struct Doc {
    gaebxml::XmlDocument doc;
    explicit Doc(const std::string& bytes) {
        doc.load(bytes, [&] { return bytes; });
    }
    Node root() const { return doc.root(); }
};

// The load failure's message and, where it knows them, " | Zeile L, Spalte C", and " | endet zu
// früh" for a document that is whole up to where it stops; "" when the document loads.
std::string load_failure(const std::string& bytes) {
    try {
        Doc d(bytes);
    } catch (const gaebxml::DomParseError& e) {
        EXPECT_EQ(e.class_name(), "EDOMParseError");
        std::string text = e.what();
        if (e.line() > 0)
            text += " | Zeile " + std::to_string(e.line()) + ", Spalte " + std::to_string(e.column());
        if (e.ends_early()) text += " | endet zu früh";
        return text;
    }
    return "";
}

std::string utf16(const std::string& ascii, bool big_endian) {
    std::string out = big_endian ? "\xFE\xFF" : "\xFF\xFE";
    for (const char c : ascii) {
        out += big_endian ? std::string{'\0', c} : std::string{c, '\0'};
    }
    return out;
}

TEST(XmlDocument, TextLookups) {
    struct Case {
        const char* xml;
        std::optional<std::string> text;  // ChildText(root, "b")
        bool fails;
    };
    for (const Case& c : {
             Case{"<a><b>x</b></a>", "x", false},
             Case{"<a><b>&lt;&amp;&#x20AC;</b></a>", "<&\xE2\x82\xAC", false},
             Case{"<a><b><![CDATA[<y>]]></b></a>", "<y>", false},
             Case{"<a><b>x</b><b>z</b></a>", "x", false},
             Case{"<a><b/></a>", std::nullopt, false},
             Case{"<a><b><![CDATA[]]></b></a>", std::nullopt, false},
             Case{"<a><b>  \n </b></a>", std::nullopt, false},  // white space only is no node
             Case{"<a><c>x</c></a>", std::nullopt, false},
             Case{"<a><B>x</B></a>", std::nullopt, false},  // names compare exactly
             Case{"<a><b>x<c/></b></a>", std::nullopt, true},
             Case{"<a><b><c>x</c></b></a>", std::nullopt, true},
             Case{"<a><b>x<!-- c -->y</b></a>", std::nullopt, true},
             Case{"<a><b><!-- c --></b></a>", std::nullopt, true},
         }) {
        SCOPED_TRACE(c.xml);
        Doc d(c.xml);
        if (c.fails) {
            EXPECT_THROW(gaebxml::ChildText(d.root(), "b"), gaebxml::XmlDocError);
            EXPECT_THROW(gaebxml::ElementText(gaebxml::FindChild(d.root(), "b")), gaebxml::XmlDocError);
            continue;
        }
        const auto text = gaebxml::ChildText(d.root(), "b");
        ASSERT_EQ(text.has_value(), c.text.has_value());
        if (text) {
            EXPECT_EQ(*text, *c.text);
        }
        EXPECT_EQ(gaebxml::ElementText(gaebxml::ChildElement(d.root(), "b")).has_value(), c.text.has_value());
    }
}

TEST(XmlDocument, MissingChildIsAnEmptyElement) {
    Doc d("<a x=\"1\"><b>t</b></a>");
    const Node missing = gaebxml::child_path(d.root(), {"c", "d", "e"});
    EXPECT_FALSE(gaebxml::FindChild(d.root(), "c"));
    EXPECT_FALSE(gaebxml::has_children(missing));
    EXPECT_FALSE(gaebxml::HasAttribute(missing, "x"));
    EXPECT_EQ(gaebxml::AttributeText(missing, "x"), "");
    EXPECT_FALSE(gaebxml::ElementText(missing).has_value());
    EXPECT_FALSE(gaebxml::ChildText(missing, "b").has_value());
    EXPECT_FALSE(gaebxml::NextSibling(missing));
    EXPECT_TRUE(gaebxml::HasAttribute(d.root(), "x"));
    EXPECT_EQ(gaebxml::AttributeText(d.root(), "x"), "1");
    EXPECT_THROW(gaebxml::require_text(gaebxml::ChildText(d.root(), "c"), "c"), gaebxml::XmlDocError);
}

TEST(XmlDocument, SiblingsOfAPrettyPrintedFile) {
    Doc d(
        "<i>\r\n\t<BoQBkdn>1</BoQBkdn>\r\n\t<BoQBkdn>2</BoQBkdn>\n  <!-- c "
        "-->\n\t<BoQBkdn>3</BoQBkdn>\n</i>");
    Node n = gaebxml::ChildElement(d.root(), "BoQBkdn");
    n = gaebxml::NextSibling(n);
    EXPECT_EQ(gaebxml::node_name(n), "BoQBkdn");
    EXPECT_EQ(*gaebxml::ElementText(n), "2");
    n = gaebxml::NextSibling(n);
    EXPECT_EQ(gaebxml::node_name(n), "#comment");  // a comment is a node with a name no element has
    Doc text("<p>lose<span>s</span></p>");
    EXPECT_EQ(gaebxml::node_name(text.root().first_child()), "#text");
}

TEST(XmlDocument, Encodings) {
    // "Straße € Ä" in each encoding; ISO-8859-1 has no euro sign, so it reads the byte A4 as "¤".
    const std::string body =
        "<GAEB><t>Stra\xDF"
        "e \x80 \xC4</t></GAEB>";
    const std::string latin9_body =
        "<GAEB><t>Stra\xDF"
        "e \xA4 \xC4</t></GAEB>";
    struct Case {
        std::string bytes;
        const char* expected;
    };
    for (const Case& c : {
             Case{"<?xml version=\"1.0\" encoding=\"UTF-8\"?><GAEB><t>Straße € Ä</t></GAEB>", "Straße € Ä"},
             Case{"\xEF\xBB\xBF<?xml version=\"1.0\"?><GAEB><t>Straße € Ä</t></GAEB>", "Straße € Ä"},
             Case{"<?xml version=\"1.0\" encoding=\"windows-1252\"?>" + body, "Straße € Ä"},
             Case{"<?xml version='1.0' encoding='ISO-8859-15'?>" + latin9_body, "Straße € Ä"},
             Case{"<?xml version=\"1.0\" encoding = \"iso-8859-1\" standalone=\"yes\"?>" + latin9_body,
                  "Straße ¤ Ä"},
             // Declared UTF-8 but written in Windows-1252: the bytes are read as Windows-1252.
             Case{"<?xml version=\"1.0\" encoding=\"UTF-8\"?>" + body, "Straße € Ä"},
         }) {
        SCOPED_TRACE(c.bytes);
        Doc d(c.bytes);
        EXPECT_EQ(gaebxml::ChildText(d.root(), "t").value_or(""), c.expected);
    }
    EXPECT_NE(load_failure("<?xml version=\"1.0\" encoding=\"EBCDIC-DE\"?><GAEB/>")
                  .find("Die Zeichenkodierung \"EBCDIC-DE\" wird nicht unterstützt"),
              std::string::npos);
}

TEST(XmlDocument, BrokenDocumentsNameTheirFault) {
    struct Case {
        std::string bytes;
        const char* message;
        bool ends_early = false;  // the document stops inside an element: a file cut off
    };
    for (const Case& c : {
             Case{"<?xml version=\"1.0\"?>\n<GAEB>\n  <a>\n</GAEB>",
                  "Start- und End-Tag passen nicht zusammen | Zeile 4, Spalte 3"},
             Case{"<GAEB>\r\n<Straße>\r\n<b x=1/>", "Fehlerhaftes Attribut | Zeile 3, Spalte 6"},
             // A lone CR ends a line as well; UTF-16 is counted in its characters.
             Case{"<GAEB>\r<a>\r</b>", "Start- und End-Tag passen nicht zusammen | Zeile 3, Spalte 3"},
             Case{utf16("<GAEB>\r\n<a>\r\n</b>", false),
                  "Start- und End-Tag passen nicht zusammen | Zeile 3, Spalte 3"},
             Case{utf16("<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n<GAEB>\n <b x=1/>", true),
                  "Fehlerhaftes Attribut | Zeile 3, Spalte 7"},
             Case{"<GAEB><a>", "Start- und End-Tag passen nicht zusammen", true},
             // Cut off in a text, a start tag, an attribute, an end tag, right after a tag.
             Case{"<GAEB>\n<a>Beto", "Start- und End-Tag passen nicht zusammen | Zeile 2, Spalte 7", true},
             Case{"<GAEB>\n<a><b", "Unbekannte Markierung", true},
             Case{"<GAEB>\n<a x=\"1", "Fehlerhaftes Attribut", true},
             Case{"<GAEB>\n<a>x</a", "Fehlerhaftes End-Tag", true},
             Case{utf16("<GAEB>\r\n<a>x</a>\r\n", false), "Start- und End-Tag passen nicht zusammen", true},
             // A fault in the middle, with whole tags after it, is none.
             Case{"<GAEB><a>x</b><c/></GAEB>", "Start- und End-Tag passen nicht zusammen"},
             // The file ends before its first element.
             Case{"", "Das Dokument enthält kein Element", true},
             Case{"<?xml version=\"1.0\"?>", "Das Dokument enthält kein Element", true},
             Case{"<!DOCTYPE GAEB><GAEB/>", "Dokumenttypdeklaration (DOCTYPE)"},
             Case{"<?xml version=\"1.0\"?><!DOCTYPE GAEB [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>"
                  "<GAEB><DP>&x;</DP></GAEB>",
                  "Dokumenttypdeklaration (DOCTYPE)"},
         }) {
        SCOPED_TRACE(c.bytes);
        const std::string message = load_failure(c.bytes);
        EXPECT_NE(message.find(c.message), std::string::npos) << message;
        EXPECT_EQ(message.ends_with(" | endet zu früh"), c.ends_early) << message;
    }
}

TEST(XmlDocument, EntitiesAreNeverExpanded) {
    // Without a DTD an unknown entity stays as written; nothing is read from anywhere.
    Doc d("<GAEB><DP>&x;</DP></GAEB>");
    EXPECT_EQ(gaebxml::ChildText(d.root(), "DP").value_or(""), "&x;");
}

TEST(XmlDocument, DeepNestingLoadsWithoutRecursion) {
    const int depth = 200000;
    std::string xml;
    for (int i = 0; i < depth; ++i) xml += "<a>";
    for (int i = 0; i < depth; ++i) xml += "</a>";
    Doc d(xml);
    EXPECT_EQ(gaebxml::node_name(d.root()), "a");
}

TEST(XmlDocument, DeclaredEncodingName) {
    EXPECT_EQ(gaebxml::declared_encoding("<?xml version=\"1.0\" encoding=\"utf-8\"?><a/>"), "UTF-8");
    EXPECT_EQ(gaebxml::declared_encoding("\xEF\xBB\xBF<?xml version=\"1.0\" encoding='Windows-1252'?>"),
              "WINDOWS-1252");
    EXPECT_EQ(gaebxml::declared_encoding("<?xml version=\"1.0\"?><a encoding=\"x\"/>"), "");
    EXPECT_EQ(gaebxml::declared_encoding("<a/>"), "");
}

}  // namespace
