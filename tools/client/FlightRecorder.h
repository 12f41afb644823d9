// Keeps the records of a run as a flight log and a track that map tools open: BASE.csv, one
// row per record with the time it came and every field in its shortest exact form, and
// BASE.gpx, a GPX 1.1 track of the points that lie on the globe. Each record is written and
// flushed as it comes, so a killed client loses at most the record in hand; the GPX document
// is closed only by finish() (or the destructor). Owns its two files; one thread at a time.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

#include "PositionRecord.h"

class FlightRecorder
{
public:
  using TimePoint = std::chrono::system_clock::time_point;

  FlightRecorder() = default;
  ~FlightRecorder();
  FlightRecorder(const FlightRecorder&) = delete;
  FlightRecorder& operator=(const FlightRecorder&) = delete;

  // What --record FILE names: FILE without a trailing ".csv" or ".gpx" (in any case), so
  // that "flight", "flight.csv" and "flight.gpx" all record to flight.csv and flight.gpx.
  static std::string baseName(const std::string& file);

  // Creates or empties the two files of `file`'s base name and writes their heads. When
  // either cannot be created, `problem` names the file and the reason, and no file that
  // this call created is left behind.
  bool open(const std::string& file, std::string& problem);
  bool isOpen() const { return m_csv != nullptr; }
  // One received record, numbered as on standard output: always a CSV row, and a track
  // point unless its latitude or longitude is not finite or off the globe.
  void add(long long number, const PositionRecord& record, double roundTripMs, TimePoint received);
  // Closes the track and both files. False, with `problem` saying which file and why, when
  // anything written since open() did not reach its file (a full disk).
  bool finish(std::string& problem);

  const std::string& csvPath() const { return m_csvPath; }
  const std::string& gpxPath() const { return m_gpxPath; }

  // ISO 8601 in UTC to the millisecond, e.g. "2026-12-07T05:07:10.123Z".
  static std::string utcTime(TimePoint time);

private:
  void _write(FILE* file, const std::string& text, const std::string& path);

  FILE* m_csv = nullptr;
  FILE* m_gpx = nullptr;
  std::string m_csvPath;
  std::string m_gpxPath;
  std::string m_writeProblem;  // the first write that failed
};
