// Turns position records into output lines: an aligned table, JSON lines or CSV, each record
// with its sequence number first and its round trip in milliseconds last. Doubles are written
// in their shortest form that reads back to the same bits, so printed values can be compared
// exactly. Builds strings only; the caller writes them. Any thread.
#pragma once

#include <string>

#include "ClientOptions.h"
#include "PositionRecord.h"

class RecordPrinter
{
public:
  explicit RecordPrinter(ClientOptions::eFormat format) : m_format(format) {}

  // The line before the first record, newline included; empty for JSON.
  std::string header() const;
  // One record, newline included.
  std::string line(long long number, const PositionRecord& record, double roundTripMs) const;

  // The fewest significant digits (1 to 17) that strtod turns back into `value`, in %g's
  // form, except that whole numbers below 1e16 are written out ("60", not "6e+01"); "nan",
  // "inf" and "-inf" for the values that have no digits.
  static std::string exactNumber(double value);
  // The same digits written out without an exponent ("0.00001", "1200"), as XML Schema's
  // decimal type wants them; values without digits as exactNumber writes them.
  static std::string decimalNumber(double value);

  // Table columns: right-aligned, this wide, one space apart. Wide enough for a 17-digit
  // value with sign and decimal point; longer exponent forms push the line out.
  static constexpr int NUMBER_WIDTH = 19;
  static constexpr int INDEX_WIDTH = 5;
  static constexpr int ROUND_TRIP_WIDTH = 8;

private:
  ClientOptions::eFormat m_format;
};
