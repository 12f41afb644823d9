// Runs beside a private Avahi daemon (through scripts/dnssd-sandbox.sh): corvane-sim loads a
// copy of the real plug-in, with a log.conf beside it, and starts the bridge from its menu, on
// a machine with both DNS-SD libraries, with libdns_sd.so.1 alone, and with neither. While
// the bridge is announced, corvane-client, knowing nothing but the service type, finds it by
// DNS-SD, as avahi-browse does; otherwise the client is given the address. Either way it logs
// in as the app and reads a record. Once stopped from the menu, the bridge is not advertised.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <link.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "dnssd/DnsSdBrowser.h"
#include "tools/SimChild.h"

namespace fs = std::filesystem;

namespace {

// The children reach the sandbox's daemon, not the nonexistent bus runChild gives them.
const std::vector<std::string> SANDBOX_BUS = {
    "DBUS_SYSTEM_BUS_ADDRESS=unix:path=/run/dbus/system_bus_socket"};
const int WINDOW_MS = 2500;

struct LibrarySetup
{
  const char* name;
  std::vector<const char*> hidden;  // libraries whose files the host does not see
  // Avahi's client library found by no one but libdns_sd.so.1, which is built on it.
  bool libdnsSdAlone;
  const char* logLine;
  const char* txt;  // as avahi-browse shows the resolved instance's TXT strings, in their order
};

// Where the loader finds `soname`: that very file is hidden.
std::string libraryFile(const char* soname)
{
  void* library = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
  link_map* map = nullptr;
  std::string path;
  if (library && dlinfo(library, RTLD_DI_LINKMAP, &map) == 0 && map->l_name) path = map->l_name;
  if (library) dlclose(library);
  return path;
}

// avahi-browse -rtp found the instance on loopback with its address, port and TXT strings.
bool resolvedByAvahiBrowse(const SimRun& browse, const std::string& txt)
{
  const std::string start = "=;lo;IPv4;X-Plane;_corvane_gps._tcp;local;", end = ";127.0.0.1;21777;" + txt;
  const std::vector<std::string> lines = browse.outLines();
  return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
    return line.rfind(start, 0) == 0 && line.size() >= start.size() + end.size() &&
           line.compare(line.size() - end.size(), end.size(), end) == 0;
  });
}

class ClientDiscoveryTest : public ::testing::TestWithParam<LibrarySetup>
{
protected:
  // The plug-in folder as a pilot installs it, logging Info and worse to m_log.
  void SetUp() override
  {
    std::string pattern = (fs::current_path() / "discovery-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    m_root = pattern;
    m_plugin = m_root / "Corvane" / "lin_x64" / "Corvane.xpl";
    m_log = m_root / "bridge.log";
    fs::create_directories(m_plugin.parent_path());
    fs::copy_file(CORVANE_PLUGIN_FILE, m_plugin);
    std::ofstream(m_root / "Corvane" / "log.conf")
        << "%S: %m\n\n__|__\nfile:" << m_log.string() << "\n__|__\ninfo\n";
  }
  void TearDown() override { fs::remove_all(m_root, m_ignored); }
  fs::path m_root, m_plugin, m_log;
  std::error_code m_ignored;
};

TEST_P(ClientDiscoveryTest, BridgeStartedFromTheMenuServesAndIsAnnouncedWhileALibraryIs)
{
  const LibrarySetup& setup = GetParam();
  const bool announced = setup.hidden.empty();
  std::vector<std::string> host = {HIDE_FILES};
  for (const char* library : setup.hidden) {
    host.push_back(libraryFile(library));
    ASSERT_FALSE(host.back().empty()) << library << " is not installed";
  }
  host.insert(host.end(), {"--", CORVANE_SIM, "--no-stdin", "-c", "menu Start Corvane bridge", "-c",
                           "sleep 6", "-c", "menu Stop Corvane bridge", "-c", "quit", m_plugin.string()});
  std::vector<std::string> environment = SANDBOX_BUS;
  if (setup.libdnsSdAlone) {
    environment.push_back(std::string("LD_AUDIT=") + REFUSE_AVAHI_CLIENT);
#if defined(__SANITIZE_THREAD__)
    // Beside an audit module, ThreadSanitizer's runtime finds too little static TLS left. Not
    // otherwise: the spare room would come out of every thread's stack.
    environment.push_back("GLIBC_TUNABLES=glibc.rtld.optional_static_tls=1048576");
#endif
  }
  std::vector<std::string> client = {CORVANE_CLIENT, "--wait", "10", "--count", "1", "--csv"};
  if (!announced) client.insert(client.begin() + 1, {"--host", "127.0.0.1"});

  SimRun sim, browse;
  std::atomic<bool> hostDone{false};
  std::thread hostThread([&] {
    sim = runChild(host, std::nullopt, environment, 60);
    hostDone = true;
  });
  // A browse lists what is announced when it starts: it is made again while the host runs,
  // until it sees the bridge (on a slow machine the app alone may outlast the bridge).
  std::thread browseThread([&] {
    do browse = runChild({"/usr/bin/avahi-browse", "-rtp", "_corvane_gps._tcp"}, std::nullopt, SANDBOX_BUS, 20);
    while (!hostDone && !resolvedByAvahiBrowse(browse, setup.txt));
  });
  const SimRun app = runChild(client, std::nullopt, SANDBOX_BUS, 60);
  hostThread.join();
  browseThread.join();

  std::ostringstream log;
  log << std::ifstream(m_log).rdbuf();
  EXPECT_EQ(sim.status, 0) << sim.err;
  EXPECT_NE(sim.err.find("*** Stopping Corvane bridge"), std::string::npos) << sim.err;
  EXPECT_NE(log.str().find(setup.logLine), std::string::npos) << log.str();
  EXPECT_EQ(resolvedByAvahiBrowse(browse, setup.txt), announced) << browse.out;

  EXPECT_EQ(app.status, 0) << app.err << log.str();
  EXPECT_EQ(app.err.find("found \"X-Plane\"") != std::string::npos, announced) << app.err;
  // The header and one record (how records are printed is the client's own tests' business).
  const std::vector<std::string> lines = app.outLines();
  ASSERT_EQ(lines.size(), 2u) << app.out << app.err;
  EXPECT_EQ(std::count(lines[1].begin(), lines[1].end(), ','), 11) << lines[1];
  EXPECT_FALSE(announced && isBrowsable("_corvane_gps._tcp", "X-Plane", WINDOW_MS));
}

// Avahi's libdns_sd hands the TXT strings to the daemon last first.
// clang-format off
INSTANTIATE_TEST_SUITE_P(Libraries, ClientDiscoveryTest, ::testing::Values(
    LibrarySetup{"Both", {}, false, "Info: DNS-SD through Avahi's client library\n",
                 "\"txtvers=1\" \"qtotal=1\" \"priority=30\""},
    LibrarySetup{"LibdnsSdAlone", {}, true, "Info: DNS-SD through libdns_sd.so.1\n",
                 "\"priority=30\" \"qtotal=1\" \"txtvers=1\""},
    LibrarySetup{"Neither", {"libavahi-client.so.3", "libdns_sd.so.1"}, false,
                 "Warning: no DNS-SD library found: the service is not announced; clients must connect by "
                 "address\nWarning: unable to publish our service via MDNS\n", ""}),
    [](const ::testing::TestParamInfo<LibrarySetup>& info) { return std::string(info.param.name); });
// clang-format on

}  // namespace
