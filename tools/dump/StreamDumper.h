// Prints the objects of an object stream held in memory as text, one after another, each
// under a comment line with its number, byte offset and length, in one of the framework's
// text forms (plain, JSON, Lua, XML). Every object is walked by StreamScanner before the
// serializer reads it, so a malformed one stops the dump with the byte at fault, and a file
// object is read as its attribute dictionary: its content is never extracted. Makes objects
// in pools of its own; one thread.
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
