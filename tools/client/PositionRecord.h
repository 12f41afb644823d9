// One position record as the bridge sends it: a dictionary of ten double numbers, read into
// fixed fields in the natural order (latitude .. accelerationZ), whatever order the
// dictionary iterates in. A plain value; reading keeps no reference to the reply.
#pragma once

#include <string>

class BaseObject;

struct PositionRecord
{
  enum
  {
    FIELD_COUNT = 10
  };
  static const char* const FIELD_NAMES[FIELD_COUNT];

  double values[FIELD_COUNT] = {};

  // True when `reply` is a dictionary holding a number under every field name. Otherwise
  // `problem` says what is wrong with it.
  static bool fromReply(BaseObject* reply, PositionRecord& out, std::string& problem);
};
