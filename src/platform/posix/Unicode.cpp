#include "platform/Unicode.h"

#include <utf8proc.h>

#include <cstdlib>

namespace platform {

bool composeUnicode(const char* text, size_t length, std::string& composed)
{
  if (length > 0x7FFFFFFFu) return false;
  utf8proc_uint8_t* result = nullptr;
  utf8proc_ssize_t resultLength =
      utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(text), (utf8proc_ssize_t)length, &result,
                   utf8proc_option_t(UTF8PROC_STABLE | UTF8PROC_COMPOSE));
  if (resultLength < 0) return false;
  composed.assign(reinterpret_cast<const char*>(result), (size_t)resultLength);
  free(result);
  return true;
}

}  // namespace platform
