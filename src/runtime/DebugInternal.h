// What the sources of the logging facility share and nobody else needs.
#pragma once

#include <string_view>

#include "object/BaseString.h"

namespace DebugInternal {

inline std::string_view viewOf(BaseString* text)
{
  return text ? std::string_view(text->cString(), text->length()) : std::string_view();
}

inline BaseString* newString(std::string_view text)
{
  return new (eRetainAutorelease) BaseString(text.data() ? text.data() : "", (int)text.size());
}

}  // namespace DebugInternal
