// Prints the objects of a stream in memory in a text form of the framework, each under a
// comment line with its number, byte offset and length. Each is walked by StreamScanner before
// the serializer reads it, so a malformed one stops the dump at the byte at fault, and a file
// object reads as its attribute dictionary, its content untouched. Own pools; one thread.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>

class StreamDumper
{
public:
  // `textForm` is one of BaseObject::eToStringPlain, JSON, Lua and XML.
  explicit StreamDumper(int textForm) : m_textForm(textForm) {}

  // Prints every object of the bytes to `out`. False at the first malformed byte, after
  // the objects before it; problem() then says where and what.
  bool dump(const unsigned char* bytes, size_t length, std::ostream& out);
  // E.g. "at byte 12 (in object 2, which starts at byte 10): unknown object kind 3".
  const std::string& problem() const { return m_problem; }
  size_t objectCount() const { return m_objectCount; }

  // The comment line that stands before each object, newline included.
  std::string commentLine(const std::string& text) const;

private:
  int m_textForm;
  size_t m_objectCount = 0;
  std::string m_problem;
};
