// The host's menus: the "Plugins" root, the top-level menus and submenus a plug-in creates, and
// their items. Ids given to the plug-in are tagged indexes checked on every call, so a foreign or
// stale id is reported and refused instead of followed. Handlers are not called from here: the host
// looks a target up, then calls it with no reference into this tree held. Main thread only.
#pragma once

#include "plugin/xplm/XPLM.h"

#include <cstdint>
#include <string>
#include <vector>

class SimMenus
{
public:
  // Where a menu choice goes: the owning menu's handler with its menu reference and the item's.
  struct Target
  {
    XPLMMenuHandler_f handler = nullptr;
    void* menuRef = nullptr;
    void* itemRef = nullptr;
    std::string menuName;
    bool enabled = true;  // X-Plane does not let a disabled item be chosen
  };
  enum Lookup
  {
    eFound,
    eNotFound,
    eOpensSubmenu
  };

  SimMenus();

  XPLMMenuID pluginsMenu() const;
  // Both return null / -1 and report on bad arguments, like a host that survives its plug-ins.
  XPLMMenuID create(const char* name, XPLMMenuID parent, int parentItem, XPLMMenuHandler_f handler,
                    void* menuRef);
  int append(XPLMMenuID menu, const char* name, void* itemRef);
  // Both report and refuse a bad id, index or check state, and change nothing then.
  void enableItem(XPLMMenuID menu, int index, bool enabled);
  void checkItem(XPLMMenuID menu, int index, XPLMMenuCheck check);

  // The first item named `name`, depth-first in creation order.
  Lookup findItem(const std::string& name, Target& target) const;
  // The menu named `menuName` (empty: the menu created last), with `itemRef` as the item reference.
  Lookup findMenu(const std::string& menuName, void* itemRef, Target& target) const;

  std::vector<std::string> tree() const;  // the lines of the "menus" command
  void removePluginMenus();               // at XPluginStop: only the empty "Plugins" root stays

  static constexpr size_t kMaxMenus = 1000;
  static constexpr size_t kMaxItemsPerMenu = 1000;

private:
  struct Item
  {
    std::string name;
    void* ref;
    int submenu;  // index into m_menus, -1 when the item is choosable
    bool enabled;
    XPLMMenuCheck check;
  };
  struct Menu
  {
    std::string name;
    bool isRoot;
    XPLMMenuHandler_f handler;
    void* menuRef;
    std::vector<Item> items;
  };

  int indexOf(XPLMMenuID id) const;                                // -1 when not an id we handed out
  Item* itemAt(XPLMMenuID menu, int index, const char* function);  // reports and gives null when bad
  static XPLMMenuID idOf(int index);
  Lookup findItemIn(int menu, const std::string& name, Target& target) const;
  void treeOf(int menu, int depth, std::vector<std::string>& lines) const;

  std::vector<Menu> m_menus;  // index 0 is "Plugins"; roots and submenus in creation order
};
