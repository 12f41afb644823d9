// Walks one object of a stream in memory without building it: where it ends, or the first
// byte at fault and why, and where file content lies. It keeps the serializer's reading rules,
// so what it accepts the serializer reads, and holds every length and count against the bytes
// really there before anything is made. Points into bytes it does not own; one thread.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

class StreamScanner
{
public:
  // A file object inside the last object scanned. Its header and content are what the dump
  // leaves out, so that it reads as its attribute dictionary and no content is ever handled.
  struct FileObject
  {
    size_t offset;            // its kind byte
    size_t attributesOffset;  // the attribute dictionary, right after the header
    size_t contentOffset;     // right after the attributes
    size_t contentLength;
  };

  StreamScanner(const unsigned char* bytes, size_t length) : m_bytes(bytes), m_length(length) {}

  // True with `end` just past the object at `offset`; false with errorOffset and problem.
  bool scanObject(size_t offset, size_t& end);
  // The byte at fault: the first byte of the field that is wrong, or the end of the data
  // when the stream ends too early.
  size_t errorOffset() const { return m_errorOffset; }
  const std::string& problem() const { return m_problem; }
  // In stream order; a file inside another file's attributes comes first.
  const std::vector<FileObject>& files() const { return m_files; }

  // "string", "dictionary", ...; null for a value that is not a kind.
  static const char* kindName(int kind);

private:
  struct Value
  {
    int kind;
    size_t payload;  // strings: the text
    size_t payloadLength;
    long long integer;  // integers
  };
  // The file attributes being read: their size and transfer offset entries.
  struct FileSizes
  {
    bool hasSize = false;
    bool valid = true;
    long long size = 0;
    long long transferOffset = 0;
  };

  bool _object(size_t& pos, unsigned int depth, Value& value, FileSizes* sizes = nullptr);
  bool _collection(size_t& pos, size_t objectOffset, int kind, unsigned int depth, FileSizes* sizes);
  bool _file(size_t& pos, size_t objectOffset, unsigned int depth);
  // One packed integer; `field` and the object name the place in a truncation message.
  bool _packed(size_t& pos, bool wide, long long& value, const char* field, const char* object,
               size_t objectOffset);
  bool _fail(size_t offset, const char* format, ...) __attribute__((format(printf, 3, 4)));

  const unsigned char* m_bytes;
  size_t m_length;
  size_t m_errorOffset = 0;
  std::string m_problem;
  std::vector<FileObject> m_files;
};
