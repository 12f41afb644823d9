// Writes objects to a stream and reads them back in the object stream format: every
// object is a packed kind, a packed version and the payload of its kind, back to back with
// no framing. The serializer retains the stream it is built on and owns the exception
// filter it writes through; it does not retain its delegate. One thread reads and one
// thread writes at a time; background reading runs on the serializer's own thread, which
// calls the delegate there.
//
// The stream is the attack surface of the bridge: anyone on the local network can send it
// bytes. A reader therefore takes every length and count as a claim, never as a fact:
//  - payloads up to READ_CHUNK bytes are read straight into their object; a longer one is
//    gathered in blocks of READ_CHUNK bytes as they arrive and assembled at the end, so a
//    header claiming 2 GiB followed by ten bytes costs one block, not 2 GiB;
//  - collections start small and grow with the elements that actually arrive;
//  - arrays, lists, dictionaries and file attributes nest at most MAX_NESTING_DEPTH levels
//    ("nesting deeper than %i levels in data"), so hostile nesting can never exhaust the stack;
//  - a 32-bit packed integer with more than four extension bytes ("packed integer with %i
//    extension bytes in data"), a magnitude beyond its form's range ("packed integer out of
//    range in data"), a negative count or length ("negative count %i in data", "negative
//    length %i in data") and a dictionary key that is not a string ("dictionary key of
//    class %s in data") are rejected: the object read yields null with that Error line, and
//    every enclosing collection adds "unexpected subObject".
// A writer never emits bytes that read back as something else without saying so:
//  - the most negative 32- and 64-bit integers have no encoding: writeInteger and
//    writeInteger64 refuse them ("%lli has no encoding in the object stream") and fail like
//    a stream failure (IOException); a BaseNumber holding INT64_MIN is written as the double
//    -2^63, which has the same numeric value, with the Warning "integer %lli written as a
//    double";
//  - the one double without a reversed-byte form (6.3e-322, bits 0x80) is written as its
//    neighbour toward zero (bits 0x7F) with the Warning "double %g has no encoding, written
//    as %g"; dates likewise;
//  - an object that no row accepts is logged ("non serial compliant object in collection");
//    at the top level nothing is written, inside a collection the null object stands in
//    for it so that the count stays true and the collection stays readable; a collection
//    nested deeper than MAX_NESTING_DEPTH (such as a cycle) is likewise written as null
//    with "nesting deeper than %i levels, written as null"; a string, buffer or collection
//    whose length or count does not fit a 32-bit packed integer is treated as having no row.
// Speed: writes are gathered in a small stage and reach the stream once per object (or
// once per stage's worth) rather than once per integer; the rows of a class are looked up
// once per dynamic type (a class reports one name for all its objects), and doubles and
// strings inside collections by their type alone. Reads and writes go to the given stream
// directly and fail exactly as the exception filter would make them fail. An object whose
// bytes the stream already holds in memory (IOAbstract::bufferedIO) is parsed in place,
// and the bytes it took are taken from the stream when the outermost read ends. A reader
// never reads ahead: it takes only bytes the current object must have, so the next object
// stays in the stream. Dictionary keys of up to 63 bytes are shared with the last
// RECENT_KEYS keys read, hash computed: like every stored key, they must not change.
//
// File objects (kind 2) carry a file's attribute dictionary and then its content from the
// transfer offset on. A received file is written under a hidden name and appears under its
// own name only when complete. Its attributes are claims too: a name or context path that
// would place the file outside the directory meant for it, a transfer offset beyond the
// size or beyond the partial copy being resumed, and a size or offset that is not a
// non-negative integer are refused ("unsafe ... in data", "... in file attributes") before
// anything touches the disk. In skip mode (a stored stream read from a BaseFile) the
// content stays where it is and the delegate is told where it starts ("fo_pk").
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <typeinfo>

#include "object/BaseObject.h"
#include "runtime/BaseThread.h"

class BaseBuffer;
class BaseDictionary;
class BaseString;
class IOAbstract;
class IOExceptionFilter;

// The kind of an object in the stream.
enum eBSObject
{
  eBSBuffer = 1,
  eBSFile = 2,
  eBSString = 10,
  eBSNull = 11,
  eBSInteger = 12,
  eBSDouble = 13,
  eBSDate = 14,
  eBSBoolean = 15,
  eBSArray = 20,
  eBSDictionary = 21,
  eBSList = 22
};

enum
{
  SERIALIZER_MODE_DEFAULT = 0,
  SERIALIZER_MODE_SKIP_FILES_CONTENT = 1
};

// Told of what a serializer reads. Called on the thread that reads: the serializer's own
// thread when it reads in the background.
class BaseSerializerDelegate
{
public:
  virtual ~BaseSerializerDelegate();
  // One object read in the background; retain it to keep it.
  virtual void handleIncommingObject(BaseObject* object);
  // Logs "in deserialization: %S". The serializer never calls it; it is for owners.
  virtual void handleDeserializationError(BaseString* message);
  // The directory for a received file; by default a new, autoreleased, empty string.
  virtual BaseString* getPathForIncommingFile(BaseDictionary* attributes);
  // The running totals: finished file objects (twice) and content bytes; `reserved` is 0.
  virtual void handleProgression(uint32_t first, uint32_t second, uint32_t bytes, uint32_t reserved) = 0;
};

class BaseSerializer : public BaseObject, public BaseThread
{
public:
  enum
  {
    OBJECT_KINDS = 11,
    // Deepest nesting of arrays, lists and dictionaries that is written or read.
    MAX_NESTING_DEPTH = 256,
    // Largest block a payload claims before its bytes have arrived.
    READ_CHUNK = 65536,
    // Largest single read of a buffer payload.
    BUFFER_READ_BLOCK = 8192,
    WRITE_STAGE_SIZE = 1024
  };

  typedef void (BaseSerializer::*SerializeOperation)(BaseObject* object);
  // Returns a new reference that the caller releases, or null.
  typedef BaseObject* (BaseSerializer::*UnserializeOperation)(unsigned char version);
  typedef bool (BaseSerializer::*ValidityTest)(BaseObject* object, eBSObject kind);

  struct ObjectDescription
  {
    const char* className;
    eBSObject kind;
    unsigned char version;  // the highest version the reader understands
    SerializeOperation serialize;
    UnserializeOperation unserialize;
    ValidityTest isValid;  // null: every object of the class
  };
  // Walked in order by writers; the first row whose class and validity test accept an
  // object decides its kind.
  static const ObjectDescription objectDesc[OBJECT_KINDS];

  // `anIO` is required and retained; the delegate may be null.
  BaseSerializer(IOAbstract* anIO, BaseSerializerDelegate* aDelegate = nullptr);
  // Stops background reading first (see stopReadingInBackground). Must not run on the
  // serializer's own thread: a delegate must not release the last reference to it.
  ~BaseSerializer() override;

  // A null delegate is ignored.
  void setSerializerDelegate(BaseSerializerDelegate* aDelegate);
  BaseSerializerDelegate* getSerializerDelegate() const { return m_delegate.load(std::memory_order_acquire); }
  // Zeroes the progress counters, then holds `object` (the object being sent).
  void setContextObject(BaseObject* object);
  BaseObject* getContextObject() const { return m_contextObject; }
  BaseString* getTemporaryStorage() const { return m_temporaryStorage; }
  void setTemporaryStorage(BaseString* path);
  // The stream given at construction, not retained for the caller.
  IOAbstract* getIO() const { return m_io; }
  // SERIALIZER_MODE_DEFAULT, or SERIALIZER_MODE_SKIP_FILES_CONTENT on a serializer whose
  // stream is a BaseFile: received files then keep their content in the stream, and "fo_pk"
  // counts from the stream's offset at the time the mode is set.
  void setSerializerMode(int aMode);
  int getSerializerMode() const { return m_mode; }
  // A reader that must never put a peer's files on disk (a session that expects only
  // messages) refuses file objects: the read yields null with "file object refused by this
  // reader". Accepted by default.
  void setAcceptsFileObjects(bool accepts) { m_acceptsFiles = accepts; }
  bool acceptsFileObjects() const { return m_acceptsFiles; }

  void initProgression();
  // Adds to the totals and tells the delegate.
  void notifyProgression(uint32_t first, uint32_t second, uint32_t bytes);
  // The running total `which`: 0 first, 1 second, 2 bytes.
  uint32_t getProgression(int which) const;

  // Writes one object and flushes. False, with "Write error on output stream while
  // serializing", when the stream fails (the bytes already written stay written). An
  // object that no row accepts counts as written.
  bool appendSerializableObject(BaseObject* object);
  // One object, in the caller's autorelease pool; null (with a log line) when none could
  // be read. After a failure the stream is out of step.
  BaseObject* unserializeObjectFromIO();

  // Starts the serializer's thread, which reads object after object and hands each to the
  // delegate, until a read fails or reading is stopped. A worker already set (even one that
  // has ended) is kept: stop it first to read again.
  bool unserializeObjectFromIOInBackground();
  // Ends background reading and waits for the thread. A worker still reading has its
  // stream closed (closeIO on the stream given at construction), since only that ends a
  // blocked read; the serializer's stream is then unusable. Called from the delegate on the
  // serializer's own thread, it only asks the loop to end after the current object.
  void stopReadingInBackground();
  void threadMethod() override;

  // The object's encoding in a new, autoreleased buffer (whatever was written, on failure).
  static BaseBuffer* serializeObject(BaseObject* object);
  // One object from the buffer's read position, in the caller's pool, or null.
  static BaseObject* unserializeObject(BaseBuffer* buffer);
  // A new, autoreleased serializer writing into a new, empty buffer (see getIO).
  static BaseSerializer* toBaseBufferSerializer();
  // Writes the object as the whole content of the file at the path (made or emptied first).
  static bool serializeObjectToFile(BaseObject* object, const char* path);
  // The first object of the file at the path, in the caller's pool, or null.
  static BaseObject* unserializeObjectFromFile(const char* path);

  // The format's primitives. They raise IOException (a pointer the catcher releases) when
  // the stream fails or the data is invalid.
  void writeInteger(int value);
  void writeInteger64(long long value);
  int readInteger();
  long long readInteger64();
  static long long swap64(long long value);
  // One complete object; no flush, IOException passed on. A null object writes nothing.
  void _appendSerializableObject(BaseObject* object);

  const char* getClass() const override;

protected:
  // Payload writers and readers of the kinds (see objectDesc).
  void serializeString(BaseObject* object);
  void serializeBuffer(BaseObject* object);
  void serializeArray(BaseObject* object);
  void serializeList(BaseObject* object);
  void serializeDictionary(BaseObject* object);
  void serializeInteger(BaseObject* object);
  void serializeDouble(BaseObject* object);
  void serializeFile(BaseObject* object);
  void serializeNull(BaseObject* object);
  void serializeDate(BaseObject* object);
  void serializeBoolean(BaseObject* object);
  BaseObject* unserializeString(unsigned char version);
  BaseObject* unserializeBuffer(unsigned char version);
  BaseObject* unserializeArray(unsigned char version);
  BaseObject* unserializeList(unsigned char version);
  BaseObject* unserializeDictionary(unsigned char version);
  BaseObject* unserializeInteger(unsigned char version);
  BaseObject* unserializeDouble(unsigned char version);
  BaseObject* unserializeFile(unsigned char version);
  BaseObject* unserializeNull(unsigned char version);
  BaseObject* unserializeDate(unsigned char version);
  BaseObject* unserializeBoolean(unsigned char version);
  bool isValidInteger(BaseObject* object, eBSObject kind);
  bool isValidDouble(BaseObject* object, eBSObject kind);
  bool isValidBoolean(BaseObject* object, eBSObject kind);
  bool isValidFile(BaseObject* object, eBSObject kind);

private:
  // One object with its own failure handling: a new reference, or null after logging.
  // The kind read goes to `kindRead` when the object was read.
  BaseObject* _readObjectInternal(int* kindRead = nullptr);
  // One object inside an object write (or the outermost one's body).
  void _writeObject(BaseObject* object);
  // _writeObject for an element of a collection, quicker for doubles and strings.
  void _writeElement(BaseObject* object);
  // The row that writes `object`, or null.
  const ObjectDescription* _rowForObject(BaseObject* object);
  bool _rowAccepts(const ObjectDescription& row, BaseObject* object);
  struct ClassRows;
  // The rows whose class name is the object's.
  const ClassRows& _rowsForClass(BaseObject* object);
  // Writes a double in reversed-byte form.
  void _writeDouble(double value);
  double _readDouble();
  // readInteger and readInteger64 inside a read.
  int _readInteger();
  long long _readInteger64();
  // The value of a packed integer whose first byte is known. When `haveExtension` is set,
  // `firstExtension` is its first extension byte, already read.
  int _packed32(uint8_t first, uint8_t firstExtension = 0, bool haveExtension = false);
  long long _packed64(uint8_t first);
  uint64_t _packedMagnitude(uint8_t first, uint8_t firstExtension, bool haveExtension, unsigned maxExtension,
                            uint64_t maxMagnitude);
  // Exact read; IOException when the stream ends or fails. Served from the read window
  // when it holds the bytes.
  void _readBytes(void* buffer, uint32_t count)
  {
    if (m_windowLength - m_windowUsed >= count) {
      memcpy(buffer, m_window + m_windowUsed, count);
      m_windowUsed += count;
      return;
    }
    _readBytesSlow(buffer, count);
  }
  void _readBytesSlow(void* buffer, uint32_t count);
  // A dictionary key: like _readObjectInternal, but a short string whose bytes are in the
  // read window is answered from the recent keys when it is one of them.
  BaseObject* _readKey(int* kindRead);
  // A new reference to the recent key with these bytes, or to a new one that joins them.
  BaseString* _recentKey(const char* bytes, uint32_t length);
  void _readBytesFromStream(void* buffer, uint32_t count);
  // Takes the bytes read from the window out of the stream and closes the window; the
  // stream is then exactly where plain reads would have left it.
  void _closeReadWindow();
  // Closes the read window when the outermost read ends, however it ends.
  class ReadScope;
  // Reads `length` claimed bytes into `destination`, which `reserve(length)` provides only
  // once they have all arrived when they are more than READ_CHUNK.
  template <typename Reserve>
  void _readClaimedBytes(uint32_t length, uint32_t perRead, Reserve reserve);
  // The element count of a collection about to be read; false, logged, when the collection
  // would nest too deep or the count is negative.
  bool _readCollectionCount(int& count);
  // Reads `count` objects one level deeper, handing each to `add`; false, logged, when one
  // cannot be read.
  template <typename Add>
  bool _readElements(int count, Add add);
  // Raises IOException for invalid data that the caller has logged.
  [[noreturn]] void _rejectData();
  // Write stage: bytes gathered for the stream.
  void _stage(const void* bytes, uint32_t count);
  void _stagePacked(bool negative, uint64_t magnitude);
  void _flushStage();
  // The kind and version of the row's objects.
  void _stageHeader(const ObjectDescription& row);
  void _stageNullObject();
  // File objects: the destination of a received file, or null (logged) when its attributes
  // are unsafe; the content read to disk or skipped. Each returns a new reference or null.
  BaseString* _destinationForFile(BaseDictionary* attributes, int64_t offset, bool resume);
  BaseObject* _receiveFileContent(BaseDictionary* attributes, int64_t size, int64_t offset);
  BaseObject* _skipFileContent(BaseDictionary* attributes, int64_t size, int64_t offset);

  IOExceptionFilter* m_stream;  // every byte of the format goes through it
  IOAbstract* m_io;
  BaseObject* m_contextObject;
  std::atomic<BaseSerializerDelegate*> m_delegate;
  std::atomic<uint32_t> m_progression[3];
  BaseString* m_temporaryStorage;
  int64_t m_baseOffset;  // the stream's offset when skip mode was set
  int m_mode;
  bool m_acceptsFiles;

  // Writer state (the writing thread's).
  unsigned int m_writeDepth;    // collections being written around the current object
  unsigned int m_writeNesting;  // object writes in progress; the stage is pushed at 0
  uint32_t m_stageLength;
  unsigned char m_stageBytes[WRITE_STAGE_SIZE];
  // The rows of recently written classes, by dynamic type, so that the class names are
  // compared once per class rather than once per object.
  enum
  {
    CLASS_ROWS_CACHE = 8
  };
  struct ClassRows
  {
    const std::type_info* type;
    uint32_t rows;                  // bit i for objectDesc[i]
    const ObjectDescription* only;  // the row when one without a validity test decides
  };
  ClassRows m_classRows[CLASS_ROWS_CACHE];
  unsigned int m_classRowsNext;
  unsigned int m_classRowsLast;
  // Reader state (the reading thread's).
  unsigned int m_readDepth;
  // The keys read last, each with its hash computed, shared by the dictionaries read
  // after them: peers send the same keys in every record.
  enum
  {
    RECENT_KEYS = 16,
    RECENT_KEY_LENGTH = 63  // lengths packed in one byte
  };
  BaseString* m_recentKeys[RECENT_KEYS];
  unsigned int m_recentKeysNext;  // the slot the next new key takes
  unsigned int m_recentKeysHint;  // the slot after the last one found
  // The stream's buffered bytes (IOAbstract::bufferedIO) being parsed in place, of which
  // the first m_windowUsed are read; open only during a read.
  const unsigned char* m_window;
  uint32_t m_windowLength;
  uint32_t m_windowUsed;
  bool m_dataRejected;  // the IOException in flight reports invalid data, already logged
  std::atomic<bool> m_readerDone;
};
