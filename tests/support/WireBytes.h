// Wire bytes written compactly: wire("0A 00 03 'abc'") is the bytes 0x0A 0x00 0x03 then the
// text between the quotes, as is. Spaces between bytes are ignored.
#pragma once

#include <cstdlib>
#include <string>

inline std::string wire(const char* text)
{
  std::string bytes;
  for (const char* at = text; *at;) {
    if (*at == ' ') {
      at++;
    } else if (*at == '\'') {
      const char* end = at + 1;
      while (*end && *end != '\'') end++;
      bytes.append(at + 1, end);
      at = *end ? end + 1 : end;
    } else {
      char pair[3] = {at[0], at[1], 0};
      bytes += (char)strtoul(pair, nullptr, 16);
      at += at[1] ? 2 : 1;
    }
  }
  return bytes;
}
