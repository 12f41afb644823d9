#include "RecordPrinter.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char* const ROUND_TRIP_NAME = "rtt_ms";

std::string padded(const std::string& text, int width)
{
  return text.size() < size_t(width) ? std::string(width - text.size(), ' ') + text : text;
}

// Milliseconds to the microsecond: finer would be noise.
std::string milliseconds(double value)
{
  char text[32];
  snprintf(text, sizeof text, "%.3f", value);
  return text;
}

}  // namespace

std::string RecordPrinter::exactNumber(double value)
{
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  char text[40];
  // Seventeen digits always read back.
  int digits = 1;
  for (; digits <= 17; ++digits) {
    snprintf(text, sizeof text, "%.*e", digits - 1, value);
    if (digits == 17 || strtod(text, nullptr) == value) break;
  }
  // %g would write 60 as "6e+01" with one digit: below 1e16 whole numbers keep their zeros.
  const int exponent = atoi(strchr(text, 'e') + 1);
  snprintf(text, sizeof text, "%.*g", exponent >= digits && exponent < 16 ? exponent + 1 : digits, value);
  return text;
}

std::string RecordPrinter::header() const
{
  std::string text;
  switch (m_format) {
    case ClientOptions::eFormatJSON:
      return text;
    case ClientOptions::eFormatCSV:
      text = "n";
      for (const char* name : PositionRecord::FIELD_NAMES) text += std::string(",") + name;
      return text + "," + ROUND_TRIP_NAME + "\n";
    case ClientOptions::eFormatTable:
      text = padded("n", INDEX_WIDTH);
      for (const char* name : PositionRecord::FIELD_NAMES) text += " " + padded(name, NUMBER_WIDTH);
      return text + " " + padded(ROUND_TRIP_NAME, ROUND_TRIP_WIDTH) + "\n";
  }
  return text;
}

std::string RecordPrinter::line(long long number, const PositionRecord& record, double roundTripMs) const
{
  std::string text;
  switch (m_format) {
    case ClientOptions::eFormatJSON:
      text = "{\"n\":" + std::to_string(number);
      for (int i = 0; i < PositionRecord::FIELD_COUNT; ++i) {
        // JSON has no words for the values without digits.
        const double value = record.values[i];
        text += std::string(",\"") + PositionRecord::FIELD_NAMES[i] +
                "\":" + (std::isfinite(value) ? exactNumber(value) : "null");
      }
      return text + ",\"" + ROUND_TRIP_NAME + "\":" + milliseconds(roundTripMs) + "}\n";
    case ClientOptions::eFormatCSV:
      text = std::to_string(number);
      for (double value : record.values) text += "," + exactNumber(value);
      return text + "," + milliseconds(roundTripMs) + "\n";
    case ClientOptions::eFormatTable:
      text = padded(std::to_string(number), INDEX_WIDTH);
      for (double value : record.values) text += " " + padded(exactNumber(value), NUMBER_WIDTH);
      return text + " " + padded(milliseconds(roundTripMs), ROUND_TRIP_WIDTH) + "\n";
  }
  return text;
}
