#include "StreamDumper.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "StreamScanner.h"
#include "io/IOAbstract.h"
#include "object/BaseAutorelease.h"
#include "object/BaseString.h"
#include "serialization/BaseSerializer.h"

namespace {

// Reads stretches of bytes one after another as one stream: an object with its file
// headers and contents cut out. Points into bytes it does not own.
class IOByteSegments : public IOAbstract
{
public:
  explicit IOByteSegments(std::vector<std::pair<const unsigned char*, size_t>> segments)
      : m_segments(std::move(segments))
  {
  }
  bool readIO(void* buffer, uint32_t& length) override
  {
    while (m_next < m_segments.size() && m_used == m_segments[m_next].second) {
      m_next++;
      m_used = 0;
    }
    if (m_next == m_segments.size() || length == 0) {
      length = 0;
      return false;
    }
    const size_t left = m_segments[m_next].second - m_used;
    if (left < length) length = (uint32_t)left;
    memcpy(buffer, m_segments[m_next].first + m_used, length);
    m_used += length;
    return true;
  }
  bool writeIO(const void*, uint32_t) override { return false; }
  const char* getClass() const override { return "IOByteSegments"; }

private:
  std::vector<std::pair<const unsigned char*, size_t>> m_segments;
  size_t m_next = 0;
  size_t m_used = 0;
};

}  // namespace

std::string StreamDumper::commentLine(const std::string& text) const
{
  switch (m_textForm & 3) {
    case BaseObject::eToStringJSON:
      return "// " + text + "\n";
    case BaseObject::eToStringLua:
      return "-- " + text + "\n";
    case BaseObject::eToStringXML:
      return "<!-- " + text + " -->\n";
    default:
      return "# " + text + "\n";
  }
}

bool StreamDumper::dump(const unsigned char* bytes, size_t length, std::ostream& out)
{
  m_objectCount = 0;
  m_problem.clear();
  StreamScanner scanner(bytes, length);
  for (size_t offset = 0, end = 0; offset < length; offset = end) {
    const size_t number = m_objectCount + 1;
    if (!scanner.scanObject(offset, end)) {
      m_problem = "at byte " + std::to_string(scanner.errorOffset()) + " (in object " +
                  std::to_string(number) + ", which starts at byte " + std::to_string(offset) +
                  "): " + scanner.problem();
      return false;
    }
    // The object as the serializer reads it, file headers and contents left out.
    std::vector<std::pair<size_t, size_t>> cuts;
    for (const StreamScanner::FileObject& file : scanner.files()) {
      cuts.emplace_back(file.offset, file.attributesOffset);
      cuts.emplace_back(file.contentOffset, file.contentOffset + file.contentLength);
    }
    std::sort(cuts.begin(), cuts.end());
    std::vector<std::pair<const unsigned char*, size_t>> segments;
    size_t from = offset;
    for (const auto& cut : cuts) {
      if (cut.first > from) segments.emplace_back(bytes + from, cut.first - from);
      from = cut.second;
    }
    if (end > from) segments.emplace_back(bytes + from, end - from);

    BaseAutorelease pool;
    IOByteSegments* stream = new (eRetainAutorelease) IOByteSegments(std::move(segments));
    BaseSerializer serializer(stream, nullptr);
    // Never reached, since file objects are cut out; if one were, no file is written.
    serializer.setAcceptsFileObjects(false);
    BaseObject* object = serializer.unserializeObjectFromIO();
    if (!object) {
      m_problem = "at byte " + std::to_string(offset) + " (in object " + std::to_string(number) +
                  ", which starts at byte " + std::to_string(offset) + "): the serializer cannot read it";
      return false;
    }
    m_objectCount = number;
    std::string text = commentLine("object " + std::to_string(number) + " at byte " + std::to_string(offset) +
                                   ", " + std::to_string(end - offset) + " bytes");
    std::vector<StreamScanner::FileObject> files = scanner.files();
    std::sort(files.begin(), files.end(),
              [](const StreamScanner::FileObject& a, const StreamScanner::FileObject& b) {
                return a.offset < b.offset;
              });
    for (const StreamScanner::FileObject& file : files)
      text += commentLine("file at byte " + std::to_string(file.offset) + " shown as its attributes; " +
                          std::to_string(file.contentLength) + " content bytes at byte " +
                          std::to_string(file.contentOffset) + " not extracted");
    BaseString* form = object->toString(m_textForm);
    text.append(form->cString(), form->length());
    text += '\n';
    out << text;
  }
  return true;
}
