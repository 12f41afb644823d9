// corvane-sim's menus: the tree the plug-in builds as "menus" prints it, with item states, and
// which handler a choice reaches with which references.
#include <gtest/gtest.h>

#include "tools/SimChild.h"

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
    "sim:     Item states [ref 9]",
};

std::vector<std::string> treeLines(const SimRun& run)
{
  std::vector<std::string> lines;
  for (const std::string& line : run.outLinesStartingWith("sim: "))
    if (line == "sim: Plugins" || line.compare(0, 7, "sim:   ") == 0) lines.push_back(line);
  return lines;
}

TEST(SimMenusTest, ItemStatesShowInTheTreeAndDisabledItemsAreNotChosen)
{
  // Set again, a state replaces the last one: "Loop report" is checked, then has no check mark.
  std::vector<std::string> states = kProbeTree;
  states[2] += " [unchecked]";
  states[4] += " [checked] (disabled)";
  states[10] += " [checked]";
  const SimRun run =
      runProbe(commands({"menus", "menu Item states", "menus", "menu Start loops", "menu-ref 3 Probe"}));
  EXPECT_EQ(0, run.status);
  std::vector<std::string> expected = kProbeTree;
  expected.insert(expected.end(), states.begin(), states.end());
  EXPECT_EQ(expected, treeLines(run));
  EXPECT_EQ((std::vector<std::string>{"probe: menu handler menuRef=77 itemRef=9",
                                      "probe: menu handler menuRef=77 itemRef=3"}),
            run.outLinesStartingWith("probe: menu handler"));
  EXPECT_EQ(1u, run.outLinesStartingWith("sim: menu item 'Start loops' is disabled").size());
}

TEST(SimMenusTest, ChoicesReachTheOwningHandlerWithBothReferences)
{
  const SimRun run =
      runProbe(commands({"menu Read on thread", "menu-ref 42 Probe", "menu-ref -3", "menu-ref 1 Nope",
                         "menu No such item", "menu Probe", "menu-ref 3 Plugins"}));
  EXPECT_EQ(0, run.status);
  const std::vector<std::string> lines = run.outLinesStartingWith("probe: menu handler");
  EXPECT_EQ((std::vector<std::string>{"probe: menu handler menuRef=77 itemRef=2",
                                      "probe: menu handler menuRef=77 itemRef=42",
                                      "probe: menu handler menuRef=77 itemRef=-3"}),
            lines);
  for (const char* refused :
       {"sim: no menu 'Nope'", "sim: no menu item 'No such item'",
        "sim: menu item 'Probe' opens a submenu; nothing to choose", "sim: menu 'Plugins' has no handler"})
    EXPECT_EQ(1u, run.outLinesStartingWith(refused).size()) << refused;
}

TEST(SimMenusTest, StoppedPluginLeavesAnEmptyPluginsMenu)
{
  const SimRun run = runProbe(commands({"stop", "menus", "menu Read datarefs"}));
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(std::vector<std::string>{"sim: Plugins"}, treeLines(run));
  EXPECT_TRUE(run.outLinesStartingWith("probe: menu handler").empty());
}

}  // namespace
