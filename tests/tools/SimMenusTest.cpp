// corvane-sim's menus: the tree the plug-in builds as "menus" prints it, with item states, which
// handler a choice reaches with which references, and menu calls with ids the host never handed out.
#include "SimChild.h"

#include <gtest/gtest.h>

namespace {

const std::vector<std::string> kProbeTree = {
    "sim: Plugins",
    "sim:   Probe",
    "sim:     Read datarefs [ref 1]",
    "sim:     Read on thread [ref 2]",
    "sim:     Start loops [ref 3]",
    "sim:     Loop report [ref 4]",
    "sim:     Misuse host [ref 5]",
    "sim:     Start background reads [ref 6]",
    "sim:     Join background reads [ref 7]",
    "sim:     Append from thread [ref 8]",
    "sim:     Rearm from last call [ref 9]",
    "sim:     Rearm from now [ref 10]",
    "sim:     Item states [ref 11]",
    "sim:     Write log [ref 12]",
    "sim: Probe Tools",
    "sim:   Nested (menu 'Deeper')",
    "sim:     Deep item [ref -7]",
    "sim:     Tool [ref 7]",
    "sim:   Tool [ref 256]",
};

std::vector<std::string> treeLines(const SimRun& run)
{
  std::vector<std::string> lines;
  for (const std::string& line : run.outLinesStartingWith("sim: ")) {
    if (line.compare(0, 8, "sim: Plu") == 0 || line.compare(0, 8, "sim: Pro") == 0 ||
        line.compare(0, 7, "sim:   ") == 0)
      lines.push_back(line);
  }
  return lines;
}

TEST(SimMenusTest, TreeShowsRootsItemsAndSubmenusInCreationOrder)
{
  const SimRun run = runProbe(commands({"menus"}));
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(kProbeTree, treeLines(run));
}

TEST(SimMenusTest, ChoiceCallsOwningMenuHandlerWithBothReferences)
{
  // "Tool" exists twice: depth-first order finds the one in the nested submenu first.
  const SimRun run = runProbe(commands({"menu Deep item", "menu Tool", "menu Loop report"}));
  EXPECT_EQ(0, run.status);
  const std::vector<std::string> expected = {"probe: menu handler menuRef=99 itemRef=-7",
                                             "probe: menu handler menuRef=99 itemRef=7",
                                             "probe: menu handler menuRef=77 itemRef=4"};
  EXPECT_EQ(expected, run.outLinesStartingWith("probe: menu handler"));
}

TEST(SimMenusTest, ItemStatesShowInTreeAndDisabledItemsAreNotChosen)
{
  // Set again, a state replaces the last one: "Start loops" is checked, then has no check mark.
  std::vector<std::string> tree = kProbeTree;
  tree[2] += " [unchecked]";
  tree[11] += " [checked] (disabled)";
  tree[12] += " [checked]";
  tree[tree.size() - 4] += " [checked]";  // "Nested", which opens a submenu
  const SimRun run =
      runProbe(commands({"menu Item states", "menus", "menu Rearm from now", "menu-ref 10 Probe"}));
  EXPECT_EQ(tree, treeLines(run));
  const std::vector<std::string> lines = run.commandLines();
  const std::vector<std::string> expected = {"sim: menu item 'Rearm from now' is disabled",
                                             "probe: menu handler menuRef=77 itemRef=10"};
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(expected, std::vector<std::string>(lines.end() - 2, lines.end()));
}

TEST(SimMenusTest, MenuRefReachesNamedOrNewestMenuWithAnyReference)
{
  const SimRun run = runProbe(commands({"menu-ref 42 Probe", "menu-ref -3", "menu-ref 0x10 Probe Tools",
                                        "menu-ref 1 Nope", "menu-ref 3 Plugins"}));
  EXPECT_EQ(0, run.status);
  const std::vector<std::string> expected = {"probe: menu handler menuRef=77 itemRef=42",
                                             "probe: menu handler menuRef=99 itemRef=-3",
                                             "probe: menu handler menuRef=88 itemRef=16",
                                             "sim: no menu 'Nope'", "sim: menu 'Plugins' has no handler"};
  EXPECT_EQ(expected, run.commandLines());
}

TEST(SimMenusTest, UnknownItemsAndSubmenuHoldersAreNotChosen)
{
  const SimRun run = runProbe(commands({"menu No such item", "menu Probe", "menu Loop report  "}));
  EXPECT_EQ(0, run.status);
  const std::vector<std::string> lines = run.commandLines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ("sim: no menu item 'No such item'", lines[0]);
  EXPECT_EQ("sim: menu item 'Probe' opens a submenu; nothing to choose", lines[1]);
  EXPECT_EQ("probe: menu handler menuRef=77 itemRef=4", lines[2]);  // trailing blanks are not part of a name
}

TEST(SimMenusTest, ForeignMenuIdsAndItemsAreRefusedAndReported)
{
  const SimRun run = runProbe(commands({"menu Misuse host", "menus"}));
  EXPECT_EQ(0, run.status);
  const std::vector<std::string> expected = {
      "probe: append to bogus menu -> -1", "probe: create under bogus menu -> null",
      "probe: create under missing item -> null", "probe: create on item with submenu -> null"};
  const std::vector<std::string> probe = run.outLinesStartingWith("probe: ");
  ASSERT_GE(probe.size(), 8u);
  EXPECT_EQ(expected, std::vector<std::string>(probe.begin() + 4, probe.begin() + 8));
  EXPECT_EQ(kProbeTree, treeLines(run));
  for (const char* report : {"sim: XPLMAppendMenuItem: invalid menu id 0x1234, refused",
                             "sim: XPLMCreateMenu: invalid parent menu id 0x1234, refused",
                             "sim: XPLMCreateMenu: menu 'Probe' has no item 99, refused",
                             "sim: XPLMCreateMenu: item 0 of menu 'Plugins' already has a submenu, refused",
                             "sim: XPLMEnableMenuItem: invalid menu id 0x1234, refused",
                             "sim: XPLMCheckMenuItem: menu 'Probe' has no item 99, refused",
                             "sim: XPLMCheckMenuItem: invalid check state 3, refused"})
    EXPECT_NE(std::string::npos, run.err.find(report)) << report;
}

TEST(SimMenusTest, StoppedPluginLeavesAnEmptyPluginsMenu)
{
  const SimRun run = runProbe(commands({"stop", "menus", "menu Read datarefs"}));
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(std::vector<std::string>{"sim: Plugins"}, treeLines(run));
  EXPECT_TRUE(run.outLinesStartingWith("probe: menu handler").empty());
}

}  // namespace
