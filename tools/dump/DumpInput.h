// Gets the bytes that corvane-dump reads: all of a file or of standard input, up to a cap
// that bounds the memory a dump takes, and hexadecimal text (a pasted packet capture) turned
// into bytes. Plain functions; main thread.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

class DumpInput
{
public:
  // The most a dump reads, text or bytes.
  static constexpr size_t MAX_INPUT = 64u << 20;

  // Everything in the file at `path`, or standard input for "-". False with `error` when it
  // cannot be read or holds more than MAX_INPUT bytes.
  static bool readAll(const std::string& path, std::vector<unsigned char>& bytes, std::string& error);
  // Two hexadecimal digits per byte. Between bytes, white space, ',', ';', ':' and a "0x"
  // prefix are ignored, and '#' starts a comment that runs to the end of the line. False
  // with `error` naming the character at fault, counted from 0.
  static bool decodeHex(const std::string& text, std::vector<unsigned char>& bytes, std::string& error);
};
