#include "DumpInput.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/Descriptor.h"
#include "platform/Files.h"

namespace {

int hexValue(char c)
{
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string describe(char c)
{
  char text[16];
  if (c > 32 && c < 127)
    snprintf(text, sizeof text, "'%c'", c);
  else
    snprintf(text, sizeof text, "byte 0x%02X", (unsigned char)c);
  return text;
}

}  // namespace

bool DumpInput::readAll(const std::string& path, std::vector<unsigned char>& bytes, std::string& error)
{
  const bool standardInput = path == "-";
  // Standard input passes its bytes unchanged, also where it opens as text (Windows).
  if (standardInput) platform::setBinaryMode(0);
  FILE* file = standardInput ? stdin : platform::openStream(path.c_str(), "rb");
  const std::string name = standardInput ? "standard input" : path;
  if (!file) {
    error = "cannot open " + name + ": " + strerror(errno);
    return false;
  }
  bytes.clear();
  unsigned char block[65536];
  bool ok = true;
  for (;;) {
    const size_t got = fread(block, 1, sizeof block, file);
    if (bytes.size() + got > MAX_INPUT) {
      error = name + " holds more than " + std::to_string(MAX_INPUT) + " bytes";
      ok = false;
      break;
    }
    bytes.insert(bytes.end(), block, block + got);
    if (got < sizeof block) {
      if (ferror(file)) {
        error = "cannot read " + name + ": " + strerror(errno);
        ok = false;
      }
      break;
    }
  }
  if (!standardInput) fclose(file);
  return ok;
}

bool DumpInput::decodeHex(const std::string& text, std::vector<unsigned char>& bytes, std::string& error)
{
  bytes.clear();
  for (size_t i = 0; i < text.size();) {
    const char c = text[i];
    if (c == '#') {
      while (i < text.size() && text[i] != '\n') i++;
    } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == ',' || c == ';' || c == ':') {
      i++;
    } else if (c == '0' && i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
      i += 2;
    } else if (hexValue(c) < 0) {
      error = "hex text: unexpected " + describe(c) + " at character " + std::to_string(i);
      return false;
    } else if (i + 1 >= text.size() || hexValue(text[i + 1]) < 0) {
      error = "hex text: lone hex digit at character " + std::to_string(i) + " (a byte takes two)";
      return false;
    } else {
      bytes.push_back((unsigned char)(hexValue(c) * 16 + hexValue(text[i + 1])));
      i += 2;
    }
  }
  return true;
}
