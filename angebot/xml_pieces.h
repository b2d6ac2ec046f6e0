// SPDX-License-Identifier: MIT
// A large part of the package read a piece at a time: the rows of a sheet or the strings of the
// shared-string table are parsed in pieces of a few MiB, so that no tree of the whole part is
// ever built. Internal to angebot/.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include <pugixml.hpp>

namespace angebot {

// A tree of the text would take more memory than this: such a piece is refused.
inline constexpr uint64_t kMaxTreeBytes = uint64_t{3} << 30;

// The memory pugixml needs for a text, from its count of elements and attributes.
uint64_t tree_bytes(std::string_view xml);

// Calls `visit` with each child element `item` of the first element `container` of the part,
// whose root element must be `root` (names compared without namespace prefix). A part without
// `container` visits nothing. Throws AngebotError, naming `what` and `part`, when the part is not
// well-formed as far as it is read, its root is another, or it is in UTF-16 or UTF-32.
void for_each_child(std::string_view xml, std::string_view root, std::string_view container,
                    std::string_view item, const std::string& what, const std::string& part,
                    const std::function<void(pugi::xml_node)>& visit);

// The local name of an element: "c" for "x:c".
std::string_view local_name(std::string_view name);

}  // namespace angebot
