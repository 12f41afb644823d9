#include "RecordPrinter.h"

#include <cctype>
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

// The fewest significant digits (1 to 17) that strtod turns back into the finite `value`,
// without sign or point, and the power of ten of the first: 432.5 is "4325" and 2.
std::string shortestDigits(double value, int& exponent)
{
  char text[40];
  // Seventeen digits always read back.
  for (int digits = 1; digits <= 17; ++digits) {
    snprintf(text, sizeof text, "%.*e", digits - 1, value);
    if (strtod(text, nullptr) == value) break;
  }
  const char* e = strchr(text, 'e');
  exponent = atoi(e + 1);
  std::string digits;
  for (const char* c = text; c < e; ++c)
    if (isdigit(static_cast<unsigned char>(*c))) digits += *c;
  return digits;
}

}  // namespace

std::string RecordPrinter::exactNumber(double value)
{
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  int exponent = 0;
  const int digits = int(shortestDigits(value, exponent).size());
  // %g would write 60 as "6e+01" with one digit: below 1e16 whole numbers keep their zeros.
  char text[40];
  snprintf(text, sizeof text, "%.*g", exponent >= digits && exponent < 16 ? exponent + 1 : digits, value);
  return text;
}

std::string RecordPrinter::decimalNumber(double value)
{
  if (!std::isfinite(value)) return exactNumber(value);
  int exponent = 0;
  const std::string digits = shortestDigits(value, exponent);
  const std::string sign = std::signbit(value) ? "-" : "";
  if (exponent < 0) return sign + "0." + std::string(-exponent - 1, '0') + digits;
  if (digits.size() <= size_t(exponent) + 1)
    return sign + digits + std::string(exponent + 1 - digits.size(), '0');
  return sign + digits.substr(0, exponent + 1) + "." + digits.substr(exponent + 1);
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
