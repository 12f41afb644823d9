#include "FlightRecorder.h"

#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>

#include "RecordPrinter.h"
#include "platform/Time.h"

namespace {

const char* const GPX_HEAD =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<gpx xmlns=\"http://www.topografix.com/GPX/1/1\" version=\"1.1\" creator=\"corvane-client\"\n"
    "     xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"\n"
    "     xsi:schemaLocation=\"http://www.topografix.com/GPX/1/1 "
    "http://www.topografix.com/GPX/1/1/gpx.xsd\">\n"
    "  <trk>\n"
    "    <trkseg>\n";
const char* const GPX_TAIL =
    "    </trkseg>\n"
    "  </trk>\n"
    "</gpx>\n";

bool endsWith(const std::string& text, const char* tail)
{
  const size_t length = strlen(tail);
  return text.size() >= length && strcasecmp(text.c_str() + text.size() - length, tail) == 0;
}

std::string failure(const char* what, const std::string& path, int error)
{
  return std::string(what) + " " + path + ": " + strerror(error);
}

}  // namespace

FlightRecorder::~FlightRecorder()
{
  std::string ignored;
  finish(ignored);
}

std::string FlightRecorder::baseName(const std::string& file)
{
  return endsWith(file, ".csv") || endsWith(file, ".gpx") ? file.substr(0, file.size() - 4) : file;
}

bool FlightRecorder::open(const std::string& file, std::string& problem)
{
  const std::string base = baseName(file);
  m_csvPath = base + ".csv";
  m_gpxPath = base + ".gpx";
  m_writeProblem.clear();
  const bool csvExisted = access(m_csvPath.c_str(), F_OK) == 0;
  m_csv = fopen(m_csvPath.c_str(), "we");
  if (!m_csv) {
    problem = failure("cannot create", m_csvPath, errno);
    return false;
  }
  m_gpx = fopen(m_gpxPath.c_str(), "we");
  if (!m_gpx) {
    problem = failure("cannot create", m_gpxPath, errno);
    fclose(m_csv);
    m_csv = nullptr;
    if (!csvExisted) unlink(m_csvPath.c_str());
    return false;
  }
  _write(m_csv, "time_utc," + RecordPrinter(ClientOptions::eFormatCSV).header(), m_csvPath);
  _write(m_gpx, GPX_HEAD, m_gpxPath);
  return true;
}

void FlightRecorder::add(long long number, const PositionRecord& record, double roundTripMs,
                         TimePoint received)
{
  if (!isOpen()) return;
  const std::string time = utcTime(received);
  _write(m_csv, time + "," + RecordPrinter(ClientOptions::eFormatCSV).line(number, record, roundTripMs),
         m_csvPath);

  const double latitude = record.values[0];
  double longitude = record.values[1];
  const double altitude = record.values[2];
  // A point off the globe would make the whole track invalid; the CSV row keeps it.
  if (!std::isfinite(latitude) || !std::isfinite(longitude) || std::fabs(latitude) > 90 ||
      std::fabs(longitude) > 180)
    return;
  // GPX allows -180 but not 180: the same meridian.
  if (longitude == 180) longitude = -180;
  std::string point = "      <trkpt lat=\"" + RecordPrinter::decimalNumber(latitude) + "\" lon=\"" +
                      RecordPrinter::decimalNumber(longitude) + "\">";
  // The bridge's altitude is the simulator's elevation above sea level in metres, as GPX wants.
  if (std::isfinite(altitude)) point += "<ele>" + RecordPrinter::decimalNumber(altitude) + "</ele>";
  _write(m_gpx, point + "<time>" + time + "</time></trkpt>\n", m_gpxPath);
}

bool FlightRecorder::finish(std::string& problem)
{
  if (!isOpen()) return true;
  _write(m_gpx, GPX_TAIL, m_gpxPath);
  if (fclose(m_csv) != 0 && m_writeProblem.empty())
    m_writeProblem = failure("cannot write", m_csvPath, errno);
  if (fclose(m_gpx) != 0 && m_writeProblem.empty())
    m_writeProblem = failure("cannot write", m_gpxPath, errno);
  m_csv = m_gpx = nullptr;
  problem = m_writeProblem;
  return problem.empty();
}

std::string FlightRecorder::utcTime(TimePoint time)
{
  const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
  // Floor, so that a time before 1970 still counts its milliseconds forwards.
  const long long seconds = ms / 1000 - (ms % 1000 < 0 ? 1 : 0);
  const time_t whole = time_t(seconds);
  struct tm parts = {};
  platform::utcTime(whole, parts);
  char text[48];
  const size_t length = strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts);
  snprintf(text + length, sizeof text - length, ".%03dZ", int(ms - seconds * 1000));
  return text;
}

void FlightRecorder::_write(FILE* file, const std::string& text, const std::string& path)
{
  // Flushed at once: what has been received is on disk even if the client is killed.
  if ((fputs(text.c_str(), file) < 0 || fflush(file) != 0) && m_writeProblem.empty())
    m_writeProblem = failure("cannot write", path, errno);
}
