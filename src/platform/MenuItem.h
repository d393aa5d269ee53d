#pragma once

// A menu as plain data: what a window shows as a pop-up or a submenu, built
// by the controller that owns its meaning and read by whatever draws it.
// `action` names the controller operation the item invokes; an item with a
// submenu may have an action of its own.

#include <cstdint>
#include <string>
#include <vector>

namespace tollvane {

struct MenuItem {
    std::string title;
    int64_t tag = 0;
    std::string action;
    bool checked = false;
    std::vector<MenuItem> submenu;
};

// The indexes leading from a top-level menu to one of its items.
using MenuItemPath = std::vector<size_t>;

}  // namespace tollvane
