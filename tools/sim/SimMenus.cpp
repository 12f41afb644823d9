#include "SimMenus.h"

#include "SimOutput.h"

namespace {

// Menu ids are small tagged integers: far from null and from any address a plug-in is likely to
// pass by mistake, and cheap to validate.
constexpr uintptr_t kMenuIdBase = 0x5e1000;

std::string nameOrEmpty(const char* name)
{
  return name == nullptr ? std::string() : std::string(name);
}

}  // namespace

SimMenus::SimMenus()
{
  m_menus.push_back(Menu{"Plugins", true, nullptr, nullptr, {}});
}

XPLMMenuID SimMenus::pluginsMenu() const
{
  return idOf(0);
}

XPLMMenuID SimMenus::idOf(int index)
{
  return reinterpret_cast<XPLMMenuID>(kMenuIdBase + static_cast<uintptr_t>(index));
}

int SimMenus::indexOf(XPLMMenuID id) const
{
  const uintptr_t value = reinterpret_cast<uintptr_t>(id);
  if (value < kMenuIdBase || value - kMenuIdBase >= m_menus.size()) return -1;
  return static_cast<int>(value - kMenuIdBase);
}

XPLMMenuID SimMenus::create(const char* name, XPLMMenuID parent, int parentItem, XPLMMenuHandler_f handler,
                            void* menuRef)
{
  if (m_menus.size() >= kMaxMenus) {
    SimOutput::report("XPLMCreateMenu: too many menus (%zu), refused", kMaxMenus);
    return nullptr;
  }
  int parentIndex = -1;
  if (parent != nullptr) {
    parentIndex = indexOf(parent);
    if (parentIndex < 0) {
      SimOutput::report("XPLMCreateMenu: invalid parent menu id %p, refused", parent);
      return nullptr;
    }
    std::vector<Item>& items = m_menus[parentIndex].items;
    if (parentItem < 0 || static_cast<size_t>(parentItem) >= items.size()) {
      SimOutput::report("XPLMCreateMenu: menu '%s' has no item %d, refused",
                        SimOutput::printable(m_menus[parentIndex].name).c_str(), parentItem);
      return nullptr;
    }
    if (items[parentItem].submenu >= 0) {
      SimOutput::report("XPLMCreateMenu: item %d of menu '%s' already has a submenu, refused", parentItem,
                        SimOutput::printable(m_menus[parentIndex].name).c_str());
      return nullptr;
    }
  }
  const int index = static_cast<int>(m_menus.size());
  m_menus.push_back(Menu{nameOrEmpty(name), parent == nullptr, handler, menuRef, {}});
  if (parentIndex >= 0) m_menus[parentIndex].items[parentItem].submenu = index;
  return idOf(index);
}

int SimMenus::append(XPLMMenuID menu, const char* name, void* itemRef)
{
  const int index = indexOf(menu);
  if (index < 0) {
    SimOutput::report("XPLMAppendMenuItem: invalid menu id %p, refused", menu);
    return -1;
  }
  std::vector<Item>& items = m_menus[index].items;
  if (items.size() >= kMaxItemsPerMenu) {
    SimOutput::report("XPLMAppendMenuItem: menu '%s' is full (%zu items), refused",
                      SimOutput::printable(m_menus[index].name).c_str(), kMaxItemsPerMenu);
    return -1;
  }
  items.push_back(Item{nameOrEmpty(name), itemRef, -1, true, xplm_Menu_NoCheck});
  return static_cast<int>(items.size()) - 1;
}

SimMenus::Item* SimMenus::itemAt(XPLMMenuID menu, int index, const char* function)
{
  const int menuIndex = indexOf(menu);
  if (menuIndex < 0) {
    SimOutput::report("%s: invalid menu id %p, refused", function, menu);
    return nullptr;
  }
  std::vector<Item>& items = m_menus[menuIndex].items;
  if (index < 0 || static_cast<size_t>(index) >= items.size()) {
    SimOutput::report("%s: menu '%s' has no item %d, refused", function,
                      SimOutput::printable(m_menus[menuIndex].name).c_str(), index);
    return nullptr;
  }
  return &items[index];
}

void SimMenus::enableItem(XPLMMenuID menu, int index, bool enabled)
{
  if (Item* item = itemAt(menu, index, "XPLMEnableMenuItem")) item->enabled = enabled;
}

void SimMenus::checkItem(XPLMMenuID menu, int index, XPLMMenuCheck check)
{
  if (check != xplm_Menu_NoCheck && check != xplm_Menu_Unchecked && check != xplm_Menu_Checked) {
    SimOutput::report("XPLMCheckMenuItem: invalid check state %d, refused", check);
    return;
  }
  if (Item* item = itemAt(menu, index, "XPLMCheckMenuItem")) item->check = check;
}

SimMenus::Lookup SimMenus::findItem(const std::string& name, Target& target) const
{
  for (size_t i = 0; i < m_menus.size(); ++i) {
    if (!m_menus[i].isRoot) continue;
    const Lookup found = findItemIn(static_cast<int>(i), name, target);
    if (found != eNotFound) return found;
  }
  return eNotFound;
}

SimMenus::Lookup SimMenus::findItemIn(int menu, const std::string& name, Target& target) const
{
  const Menu& owner = m_menus[menu];
  for (const Item& item : owner.items) {
    if (item.name == name) {
      target = Target{owner.handler, owner.menuRef, item.ref, owner.name, item.enabled};
      return item.submenu >= 0 ? eOpensSubmenu : eFound;
    }
    if (item.submenu >= 0) {
      const Lookup found = findItemIn(item.submenu, name, target);
      if (found != eNotFound) return found;
    }
  }
  return eNotFound;
}

SimMenus::Lookup SimMenus::findMenu(const std::string& menuName, void* itemRef, Target& target) const
{
  // The newest menu wins, both as the default and among menus sharing a name: it is the one a
  // plug-in has just built. With no menu created yet, the default is the "Plugins" root.
  for (size_t i = m_menus.size(); i-- > 0;) {
    const Menu& menu = m_menus[i];
    if (menuName.empty() || menu.name == menuName) {
      target = Target{menu.handler, menu.menuRef, itemRef, menu.name, true};
      return eFound;
    }
  }
  return eNotFound;
}

std::vector<std::string> SimMenus::tree() const
{
  std::vector<std::string> lines;
  for (size_t i = 0; i < m_menus.size(); ++i) {
    if (!m_menus[i].isRoot) continue;
    lines.push_back(SimOutput::printable(m_menus[i].name));
    treeOf(static_cast<int>(i), 1, lines);
  }
  return lines;
}

void SimMenus::treeOf(int menu, int depth, std::vector<std::string>& lines) const
{
  const std::string indent(static_cast<size_t>(depth) * 2, ' ');
  for (const Item& item : m_menus[menu].items) {
    std::string line = indent + SimOutput::printable(item.name);
    if (item.submenu < 0)
      line += " [ref " + std::to_string(reinterpret_cast<intptr_t>(item.ref)) + "]";
    else if (m_menus[item.submenu].name != item.name)
      line += " (menu '" + SimOutput::printable(m_menus[item.submenu].name) + "')";
    if (item.check != xplm_Menu_NoCheck)
      line += item.check == xplm_Menu_Checked ? " [checked]" : " [unchecked]";
    if (!item.enabled) line += " (disabled)";
    lines.push_back(line);
    if (item.submenu >= 0) treeOf(item.submenu, depth + 1, lines);
  }
}

void SimMenus::removePluginMenus()
{
  m_menus.resize(1);
  m_menus[0].items.clear();
}
