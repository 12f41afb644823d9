// Runs beside a private Avahi daemon (through scripts/dnssd-sandbox.sh): corvane-sim loads
// the real plug-in and starts the bridge from its menu while corvane-client, knowing nothing
// but the service type, finds it by DNS-SD, logs in as the app and reads position records;
// once the bridge is stopped from the menu it is no longer advertised.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "dnssd/DnsSdBrowser.h"
#include "tools/SimChild.h"

namespace {

// The children reach the sandbox's daemon, not the nonexistent bus runChild gives them.
const std::vector<std::string> SANDBOX_BUS = {
    "DBUS_SYSTEM_BUS_ADDRESS=unix:path=/run/dbus/system_bus_socket"};
const int WINDOW_MS = 2500;

std::vector<std::string> fields(const std::string& line)
{
  std::vector<std::string> found;
  std::istringstream stream(line);
  std::string field;
  while (std::getline(stream, field, ',')) found.push_back(field);
  return found;
}

bool isNumber(const std::string& text)
{
  char* end = nullptr;
  const double value = strtod(text.c_str(), &end);
  return !text.empty() && *end == '\0' && std::isfinite(value);
}

TEST(ClientDiscoveryTest, ClientFindsTheBridgeStartedFromTheMenuAndReadsRecords)
{
  SimRun sim;
  std::thread host([&] {
    sim = runChild({CORVANE_SIM, "--no-stdin", "-c", "menu Start Corvane bridge", "-c", "sleep 5", "-c",
                    "menu Stop Corvane bridge", "-c", "quit", CORVANE_PLUGIN_FILE},
                   std::nullopt, SANDBOX_BUS, 60);
  });
  const SimRun client = runChild({CORVANE_CLIENT, "--wait", "10", "--count", "3", "--rate", "5", "--csv"},
                                 std::nullopt, SANDBOX_BUS, 60);
  host.join();

  EXPECT_EQ(client.status, 0) << client.err;
  EXPECT_NE(client.err.find("found \"X-Plane\""), std::string::npos) << client.err;
  const std::vector<std::string> lines = client.outLines();
  ASSERT_EQ(lines.size(), 4u) << client.out << client.err;
  EXPECT_EQ(lines[0], "n,latitude,longitude,altitude,speed,course,pitch,roll,yaw,slip,accelerationZ,rtt_ms");
  for (size_t row = 1; row < lines.size(); ++row) {
    const std::vector<std::string> values = fields(lines[row]);
    ASSERT_EQ(values.size(), 12u) << lines[row];
    EXPECT_EQ(values[0], std::to_string(row));
    for (size_t column = 1; column <= 10; ++column) EXPECT_TRUE(isNumber(values[column])) << lines[row];
  }

  EXPECT_EQ(sim.status, 0) << sim.err;
  EXPECT_NE(sim.err.find("*** Stopping Corvane bridge"), std::string::npos) << sim.err;
  EXPECT_FALSE(isBrowsable("_corvane_gps._tcp", "X-Plane", WINDOW_MS));
}

}  // namespace
