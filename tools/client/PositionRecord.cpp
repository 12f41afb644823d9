#include "PositionRecord.h"

#include "object/BaseDictionary.h"
#include "object/BaseNumber.h"

const char* const PositionRecord::FIELD_NAMES[FIELD_COUNT] = {
    "latitude", "longitude", "altitude", "speed", "course", "pitch", "roll", "yaw", "slip", "accelerationZ"};

bool PositionRecord::fromReply(BaseObject* reply, PositionRecord& out, std::string& problem)
{
  BaseDictionary* dictionary = dynamic_cast<BaseDictionary*>(reply);
  if (!dictionary) {
    problem = std::string("a ") + (reply ? reply->getClass() : "null") + " instead of a dictionary";
    return false;
  }
  for (int i = 0; i < FIELD_COUNT; ++i) {
    BaseObject* value = dictionary->objectForKey(FIELD_NAMES[i]);
    BaseNumber* number = dynamic_cast<BaseNumber*>(value);
    if (!number) {
      problem = std::string(value ? "no number" : "nothing") + " under \"" + FIELD_NAMES[i] + "\"";
      return false;
    }
    out.values[i] = number->getDouble();
  }
  return true;
}
