// The plug-in shares the simulator's process with other plug-ins: it must export exactly
// the host's entry points and the two bridge functions, all with C names, and nothing of
// the framework linked into it.
#include <elf.h>
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace {

struct DynamicSymbol
{
  std::string name;
  unsigned char type;
  bool defined;
};

// Reads the global symbols of a 64-bit ELF file's dynamic symbol table: the visible
// definitions (its exports) and the references it leaves for the loader to resolve.
std::vector<DynamicSymbol> readDynamicSymbols(const std::string& path)
{
  std::ifstream file(path, std::ios::binary);
  std::vector<char> image((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::vector<DynamicSymbol> exports;
  if (image.size() < sizeof(Elf64_Ehdr)) return exports;
  const Elf64_Ehdr* header = reinterpret_cast<const Elf64_Ehdr*>(image.data());
  if (memcmp(header->e_ident, ELFMAG, SELFMAG) != 0 || header->e_ident[EI_CLASS] != ELFCLASS64)
    return exports;
  if (header->e_shoff + (uint64_t)header->e_shnum * sizeof(Elf64_Shdr) > image.size()) return exports;
  const Elf64_Shdr* sections = reinterpret_cast<const Elf64_Shdr*>(image.data() + header->e_shoff);
  for (int i = 0; i < header->e_shnum; i++) {
    if (sections[i].sh_type != SHT_DYNSYM) continue;
    const Elf64_Shdr& strings = sections[sections[i].sh_link];
    const Elf64_Sym* symbols = reinterpret_cast<const Elf64_Sym*>(image.data() + sections[i].sh_offset);
    size_t count = sections[i].sh_size / sizeof(Elf64_Sym);
    for (size_t s = 0; s < count; s++) {
      const Elf64_Sym& symbol = symbols[s];
      unsigned char binding = ELF64_ST_BIND(symbol.st_info);
      if (binding != STB_GLOBAL && binding != STB_WEAK) continue;
      if (ELF64_ST_VISIBILITY(symbol.st_other) != STV_DEFAULT) continue;
      exports.push_back({image.data() + strings.sh_offset + symbol.st_name, ELF64_ST_TYPE(symbol.st_info),
                         symbol.st_shndx != SHN_UNDEF});
    }
  }
  return exports;
}

TEST(PluginExportsTest, ExportsExactlyTheEntryPointsAndBridgeFunctions)
{
  std::set<std::string> names;
  for (const DynamicSymbol& symbol : readDynamicSymbols(CORVANE_PLUGIN_FILE)) {
    if (!symbol.defined) continue;
    names.insert(symbol.name);
    EXPECT_EQ(symbol.type, STT_FUNC) << symbol.name << " is not a function";
  }
  const std::set<std::string> expected = {"XPluginStart", "XPluginEnable",         "XPluginDisable",
                                          "XPluginStop",  "XPluginReceiveMessage", "startGPSBridge",
                                          "stopGPSBridge"};
  EXPECT_EQ(names, expected);
}

TEST(PluginExportsTest, LeavesTheHostFunctionsToTheHost)
{
  std::set<std::string> imported;
  for (const DynamicSymbol& symbol : readDynamicSymbols(CORVANE_PLUGIN_FILE))
    if (!symbol.defined) imported.insert(symbol.name);
  for (const char* name : {"XPLMFindPluginsMenu", "XPLMAppendMenuItem", "XPLMCreateMenu"})
    EXPECT_EQ(imported.count(name), 1u) << name << " should be left for the host";
}

}  // namespace
