#include "ClientOptions.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "FlightRecorder.h"
#include "crypto/BaseMD5.h"
#include "object/BaseString.h"

const char* const ClientOptions::DEFAULT_INSTANCE = "X-Plane";
const char* const ClientOptions::SERVICE_TYPE = "_corvane_gps._tcp";
const char* const ClientOptions::DEFAULT_USER_AGENT = "Ostrel Corvane Mobile";
const char* const ClientOptions::CREDENTIAL_TEXT = "corvane-bridge/X-Plane/1";
const char* const ClientOptions::POSITION_COMMAND = "1";

namespace {

// Whole text, finite, within [min, max]; strtod accepts what a user would type for seconds.
bool parseNumber(const std::string& text, double min, double max, double& value)
{
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  double parsed = strtod(text.c_str(), &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(parsed) || parsed < min || parsed > max) return false;
  value = parsed;
  return true;
}

bool parseInteger(const std::string& text, long long min, long long max, long long& value)
{
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long long parsed = strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || parsed < min || parsed > max) return false;
  value = parsed;
  return true;
}

bool takesValue(const std::string& name)
{
  static const char* const names[] = {"--host", "--port",          "--name",  "--wait",  "--user-agent",
                                      "--user", "--password",      "--rate",  "--count", "--seconds",
                                      "--cmd",  "--reply-timeout", "--record"};
  for (const char* known : names)
    if (name == known) return true;
  return false;
}

}  // namespace

ClientOptions::eParse ClientOptions::parse(int argc, char** argv, ClientOptions& options, std::string& error)
{
  bool portGiven = false;
  for (int i = 1; i < argc; ++i) {
    std::string name = argv[i];
    if (name == "-h" || name == "--help") return eHelp;
    if (name == "--json" || name == "--csv" || name == "--table") {
      options.format = name == "--json" ? eFormatJSON : name == "--csv" ? eFormatCSV : eFormatTable;
      continue;
    }
    // Every other option takes a value, as "--name VALUE" or "--name=VALUE".
    std::string value;
    size_t equals = name.find('=');
    bool inlineValue = name.compare(0, 2, "--") == 0 && equals != std::string::npos;
    if (inlineValue) {
      value = name.substr(equals + 1);
      name.erase(equals);
    }
    if (!takesValue(name)) {
      error =
          name.compare(0, 1, "-") == 0 ? "unknown option " + name : "unexpected argument \"" + name + "\"";
      return eError;
    }
    if (!inlineValue) {
      if (i + 1 >= argc) {
        error = name + " needs a value";
        return eError;
      }
      value = argv[++i];
    }

    long long integer = 0;
    if (name == "--host") {
      if (value.empty()) {
        error = "--host needs a host name or address";
        return eError;
      }
      options.host = value;
    } else if (name == "--port") {
      if (!parseInteger(value, 1, 65535, integer)) {
        error = "--port needs a port number from 1 to 65535, not \"" + value + "\"";
        return eError;
      }
      options.port = uint16_t(integer);
      portGiven = true;
    } else if (name == "--name") {
      if (value.empty()) {
        error = "--name needs an instance name";
        return eError;
      }
      options.instance = value;
      options.instanceGiven = true;
    } else if (name == "--wait") {
      if (!parseNumber(value, 0, 3600, options.waitSeconds)) {
        error = "--wait needs seconds from 0 to 3600, not \"" + value + "\"";
        return eError;
      }
    } else if (name == "--user-agent") {
      options.userAgent = value;
    } else if (name == "--user") {
      options.user = value;
    } else if (name == "--password") {
      options.password = value;
      options.passwordGiven = true;
    } else if (name == "--rate") {
      if (!parseNumber(value, 0.01, 1000, options.rate)) {
        error = "--rate needs requests per second from 0.01 to 1000, not \"" + value + "\"";
        return eError;
      }
    } else if (name == "--count") {
      if (!parseInteger(value, 1, 1000000000, options.count)) {
        error = "--count needs a number of requests from 1 up, not \"" + value + "\"";
        return eError;
      }
    } else if (name == "--seconds") {
      if (!parseNumber(value, 0.001, 31536000, options.seconds)) {
        error = "--seconds needs a duration above 0, not \"" + value + "\"";
        return eError;
      }
    } else if (name == "--cmd") {
      if (value.empty()) {
        error = "--cmd needs a command id";
        return eError;
      }
      options.command = value;
    } else if (name == "--reply-timeout") {
      if (!parseNumber(value, 0.01, 3600, options.replySeconds)) {
        error = "--reply-timeout needs seconds from 0.01 to 3600, not \"" + value + "\"";
        return eError;
      }
    } else if (name == "--record") {
      const std::string base = FlightRecorder::baseName(value);
      if (base.empty() || base.back() == '/') {
        error = "--record needs a file name, not \"" + value + "\"";
        return eError;
      }
      options.recordFile = value;
    }
  }
  if (portGiven && options.host.empty()) {
    error = "--port needs --host: a bridge found by DNS-SD brings its own port";
    return eError;
  }
  if (options.instanceGiven && !options.host.empty()) {
    error = "--name is for DNS-SD discovery and cannot go with --host";
    return eError;
  }
  return eRun;
}

std::string ClientOptions::loginPassword() const
{
  if (passwordGiven) return password;
  BaseString* text = new (eRetainAutorelease) BaseString(CREDENTIAL_TEXT);
  return BaseMD5::md5FromString(text)->cString();
}

int ClientOptions::replyTimeoutMs() const
{
  double bound = asksForPosition() ? replySeconds : std::min(replySeconds, OTHER_COMMAND_REPLY_SECONDS);
  return int(std::lround(bound * 1000));
}

std::string ClientOptions::helpText()
{
  return "Usage: corvane-client [options]\n"
         "\n"
         "Stands in for the Corvane app: finds the Corvane bridge (DNS-SD type _corvane_gps._tcp), logs\n"
         "in as the app does and asks for the aircraft's position at a steady rate, printing each record\n"
         "and how long its round trip took. Records go to standard output; messages and the closing\n"
         "summary (requests, replies, median and 99th-percentile round trip) to standard error.\n"
         "Ctrl-C (or SIGTERM) stops polling and prints the summary.\n"
         "\n"
         "Finding the bridge:\n"
         "  (default)               browse DNS-SD for _corvane_gps._tcp and resolve the instance "
         "\"X-Plane\"\n"
         "                          (or, if it does not show up within a second, the first one seen);\n"
         "                          the host it names is looked up through the DNS-SD daemon, then as\n"
         "                          this machine (127.0.0.1), then with the system's resolver\n"
         "  --name NAME             resolve only the DNS-SD instance NAME\n"
         "  --host H                connect to H (host name or IPv4 address) without DNS-SD\n"
         "  --port P                the port with --host (default 21777)\n"
         "  --wait S                how long to keep looking for the bridge and retrying a refused\n"
         "                          connection, in seconds (default 5)\n"
         "\n"
         "Logging in (an empty value leaves the entry out, to try a missing one):\n"
         "  --user-agent TEXT       default \"Ostrel Corvane Mobile\", the app's own\n"
         "  --user NAME             default none, as the app sends\n"
         "  --password TEXT         default the app's own: the MD5 digest of \"corvane-bridge/X-Plane/1\"\n"
         "\n"
         "Polling:\n"
         "  --rate HZ               requests per second, 0.01 to 1000 (default 2)\n"
         "  --count N               stop after N requests\n"
         "  --seconds S             stop after S seconds; without --count or --seconds, poll until\n"
         "                          interrupted; with both, whichever comes first. Polling also\n"
         "                          stops once standard output is closed (as by | head)\n"
         "  --cmd ID                the cmd_id to send (default 1, the position request). The bridge\n"
         "                          answers no other command: for those the client waits at most 1 s,\n"
         "                          says that no reply came and goes on\n"
         "  --reply-timeout S       how long to wait for each reply (default 5)\n"
         "\n"
         "Output, one line per record, numbers in their shortest exact form (they read back to the\n"
         "same double), the round trip in milliseconds last:\n"
         "  --table                 aligned columns under a header line (default)\n"
         "  --json                  one JSON object per line: {\"n\":1,\"latitude\":...,\"rtt_ms\":...}\n"
         "  --csv                   comma-separated values after a header line\n"
         "  Columns: n, latitude, longitude, altitude, speed, course, pitch, roll, yaw, slip,\n"
         "  accelerationZ, rtt_ms.\n"
         "  --record FILE           also save the records to FILE.csv, a flight log (time_utc of receipt,\n"
         "                          then the --csv columns), and FILE.gpx, a GPX 1.1 track for map\n"
         "                          tools; a .csv or .gpx ending of FILE is dropped first. Rows are\n"
         "                          written as they come; the track is closed when the client ends\n"
         "                          by itself, by Ctrl-C or by a failure, but not when it is killed\n"
         "  -h, --help              print this text and exit\n"
         "\n"
         "Exit status:\n"
         "   0  done: the requests asked for were answered, or polling was interrupted or its output closed\n"
         "   2  bad command line\n"
         "   3  bridge not found: no DNS-SD instance (or no daemon) within --wait\n"
         "   4  cannot connect to the bridge (unknown host, refused or unreachable within --wait)\n"
         "   5  connection lost: the bridge closed the connection\n"
         "   6  no reply to a position request within --reply-timeout\n"
         "   7  a reply that is not a position record\n"
         "   8  --record: a file cannot be created (nothing is sent then) or written\n"
         "  11  login refused: user name unknown\n"
         "  12  login refused: wrong password\n"
         "  13  login refused: user agent not accepted\n"
         "  14  login refused by the bridge\n"
         "  15  login refused: protocol version not supported\n"
         "  16  no usable reply from the bridge to the login\n"
         "  17  login refused with a result this client does not know\n"
         "  (11 to 16 are 10 + the bridge's login result code)\n";
}
