// corvane-client: stands in for the Corvane app. Finds the bridge, logs in and polls it for
// positions, printing (and with --record saving) each record with its round trip; see
// ClientOptions::helpText for the command line and ClientExit for the exit statuses.
// Everything runs on the main thread.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "BridgeConnection.h"
#include "BridgeFinder.h"
#include "ClientExit.h"
#include "ClientOptions.h"
#include "FlightRecorder.h"
#include "PositionRecord.h"
#include "RecordPrinter.h"
#include "RoundTripSummary.h"
#include "StopSignal.h"
#include "object/BaseAutorelease.h"
#include "object/BaseString.h"
#include "platform/Process.h"
#include "platform/Sockets.h"

namespace {

using Clock = std::chrono::steady_clock;

void say(const std::string& message)
{
  fprintf(stderr, "corvane-client: %s\n", message.c_str());
}

// False once standard output is gone, as when the reader of a pipe (`| head`) has closed it.
bool show(const std::string& text)
{
  return fputs(text.c_str(), stdout) >= 0 && fflush(stdout) == 0;
}

std::string seconds(double value)
{
  return RecordPrinter::exactNumber(value) + " s";
}

// Where to connect: the given host, or the instance found by DNS-SD. 0 when there is one.
int locateBridge(const ClientOptions& options, std::string& host, uint16_t& port)
{
  if (!options.host.empty()) {
    host = options.host;
    port = options.port;
    return ClientExit::eExitDone;
  }
  BridgeFinder finder(ClientOptions::SERVICE_TYPE, options.instance, options.instanceGiven);
  BridgeLocation found;
  switch (finder.find(int(options.waitSeconds * 1000), found)) {
    case BridgeFinder::eStopped:
      say("interrupted while looking for the bridge");
      return -1;
    case BridgeFinder::eNotFound:
      say("bridge not found within " + seconds(options.waitSeconds) + ": " + finder.problem());
      return ClientExit::eExitNotFound;
    case BridgeFinder::eFound:
      break;
  }
  std::string txt;
  for (const auto& entry : found.txt) txt += (txt.empty() ? "" : " ") + entry.first + "=" + entry.second;
  say("found \"" + found.instance + "\" at " + found.hostTarget + " port " + std::to_string(found.port) +
      " (TXT " + txt + "); address " + found.address + ", from " + found.addressSource);
  host = found.address;
  port = found.port;
  return ClientExit::eExitDone;
}

// Asks and prints (and records, when `recorder` is given) until the count or time is up, a
// signal comes, standard output is closed, or the bridge fails us.
int pollBridge(const ClientOptions& options, BridgeConnection& bridge, RoundTripSummary& summary,
               FlightRecorder* recorder)
{
  const RecordPrinter printer(options.format);
  if (!show(printer.header())) {
    say("standard output is closed: nothing to poll for");
    return ClientExit::eExitDone;
  }
  const auto period =
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1 / options.rate));
  const Clock::time_point start = Clock::now();
  const Clock::time_point end =
      start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.seconds));
  Clock::time_point next = start;
  long long records = 0;
  for (long long n = 1; options.count == 0 || n <= options.count; ++n) {
    BaseAutorelease pool;
    summary.addRequest();
    BaseObject* reply = nullptr;
    double roundTripMs = 0;
    const BridgeConnection::eReply result =
        bridge.request(options.command, options.replyTimeoutMs(), reply, roundTripMs);
    const FlightRecorder::TimePoint received = std::chrono::system_clock::now();
    if (result == BridgeConnection::eReplyStopped) break;
    if (result == BridgeConnection::eReplyClosed) {
      say("connection lost: " + bridge.problem() + " after " + std::to_string(records) +
          (records == 1 ? " record" : " records") +
          (n == 1 ? " (the bridge serves one app at a time: is another one connected?)" : ""));
      return ClientExit::eExitConnectionLost;
    }
    if (result == BridgeConnection::eReplyUnreadable) {
      say("unusable reply to request " + std::to_string(n) + ": " + bridge.problem());
      return ClientExit::eExitBadReply;
    }
    if (result == BridgeConnection::eReplyNone) {
      if (options.asksForPosition()) {
        say("the bridge did not answer position request " + std::to_string(n) + ": " + bridge.problem());
        return ClientExit::eExitNoReply;
      }
      say("no reply to cmd_id " + options.command + " (request " + std::to_string(n) + ") within " +
          seconds(options.replyTimeoutMs() / 1000.0) + ", as expected: the bridge answers only cmd_id 1");
    } else {
      summary.addReply(roundTripMs);
      PositionRecord record;
      std::string problem;
      if (PositionRecord::fromReply(reply, record, problem)) {
        const bool shown = show(printer.line(n, record, roundTripMs));
        if (recorder) recorder->add(n, record, roundTripMs, received);
        ++records;
        if (!shown) {
          say("standard output is closed: stopping after " + std::to_string(records) +
              (records == 1 ? " record" : " records"));
          break;
        }
      } else if (options.asksForPosition()) {
        say("the reply to request " + std::to_string(n) + " is not a position record: " + problem);
        return ClientExit::eExitBadReply;
      } else {
        say("reply to cmd_id " + options.command + ": " + reply->toString()->cString());
      }
    }
    next += period;
    const Clock::time_point now = Clock::now();
    if (next < now) next = now;
    if (options.seconds > 0 && next >= end) break;
    if (StopSignal::sleepFor(int(std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count())))
      break;
  }
  if (StopSignal::raised()) say("interrupted");
  return ClientExit::eExitDone;
}

int connectAndPoll(const ClientOptions& options, FlightRecorder* recorder)
{
  std::string host;
  uint16_t port = 0;
  int status = locateBridge(options, host, port);
  if (status != ClientExit::eExitDone) return status < 0 ? ClientExit::eExitDone : status;

  BridgeConnection bridge;
  switch (bridge.connect(host, port, int(options.waitSeconds * 1000))) {
    case BridgeConnection::eConnectStopped:
      say("interrupted while connecting");
      return ClientExit::eExitDone;
    case BridgeConnection::eConnectFailed:
      say(bridge.problem() + (options.host.empty() ? " (a bridge stopped a moment ago is still announced for "
                                                     "about a second)"
                                                   : ""));
      return ClientExit::eExitCannotConnect;
    case BridgeConnection::eConnected:
      break;
  }
  const int login = bridge.login(options.userAgent, options.user, options.loginPassword(),
                                 int(options.replySeconds * 1000));
  if (login != 0) {
    say(std::string("login failed: ") + ClientExit::loginProblem(login) + " (result " +
        std::to_string(login) + ")");
    return ClientExit::forLoginResult(login);
  }
  const std::string name = bridge.bridgeName();
  say("logged in to " + (name.empty() ? std::string("the bridge") : "\"" + name + "\"") + " at " + host +
      ":" + std::to_string(port) + ", cmd_id " + options.command + " at " +
      RecordPrinter::exactNumber(options.rate) + " Hz");

  RoundTripSummary summary;
  status = pollBridge(options, bridge, summary, recorder);
  bridge.close();
  say(summary.text());
  return status;
}

// The record files are made before anything is sent, so that a bad path costs no flight, and
// closed on every way out of polling.
int run(const ClientOptions& options)
{
  FlightRecorder recorder;
  std::string problem;
  if (!options.recordFile.empty()) {
    if (!recorder.open(options.recordFile, problem)) {
      say("--record: " + problem);
      return ClientExit::eExitCannotRecord;
    }
    say("recording to " + recorder.csvPath() + " and " + recorder.gpxPath());
  }
  int status = connectAndPoll(options, recorder.isOpen() ? &recorder : nullptr);
  if (!recorder.finish(problem)) {
    say("--record: " + problem);
    if (status == ClientExit::eExitDone) status = ClientExit::eExitCannotRecord;
  }
  return status;
}

}  // namespace

int main(int argc, char** argv)
{
  // Our own program: Avahi's note that it emulates the dns_sd.h interface is not news here.
  if (!getenv("AVAHI_COMPAT_NOWARN")) platform::setEnvironmentVariable("AVAHI_COMPAT_NOWARN", "1");
  BaseAutorelease pool;
  ClientOptions options;
  std::string error;
  switch (ClientOptions::parse(argc, argv, options, error)) {
    case ClientOptions::eHelp:
      fputs(ClientOptions::helpText().c_str(), stdout);
      return ClientExit::eExitDone;
    case ClientOptions::eError:
      say(error + " (see --help)");
      return ClientExit::eExitUsage;
    case ClientOptions::eRun:
      break;
  }
  platform::SocketLibrary sockets;
  if (!sockets.isStarted()) {
    say("the system's socket library cannot be started");
    return ClientExit::eExitCannotConnect;
  }
  if (!StopSignal::install()) say("cannot watch for Ctrl-C: it will end the client at once");
  // A closed standard output is seen as a failed write, so that polling ends in order and the
  // record files are closed; the signal would end the process in the middle of them.
  platform::catchBrokenPipeSignal(SIG_IGN);
  return run(options);
}
