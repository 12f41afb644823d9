// The root of every object that crosses a subsystem boundary: an atomic retain count,
// run-time identity by exact class name, and the virtual operations every object has.
// An object starts with one reference owned by its creator (or by a pool, see
// eRetainType); retain/release may be called from any thread, mutation may not.
// A class that mixes in a second base must list BaseObject first.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

class BaseBuffer;
class BaseString;
class BaseDictionary;
template <typename T>
class BaseTypedArray;

// How a new object is owned; passed to the allocation operators: new (eRetainAutorelease) X(...).
enum eRetainType
{
  eRetainNone = 0,               // the creator owns the single reference
  eRetainAutorelease = 1,        // the innermost pool of the calling thread owns it
  eRetainAutoreleaseParent = 2,  // the pool one level out owns it
  eRetainZeroed = 16             // zero-filled memory, the creator owns it
};

// Also serve plain memory (such as zeroed records); pool registration only makes
// sense for BaseObject descendants.
void* operator new(size_t size, eRetainType type);
void* operator new[](size_t size, eRetainType type);
void operator delete(void* memory, eRetainType type) noexcept;
void operator delete[](void* memory, eRetainType type) noexcept;

class BaseObject
{
public:
  // Text format in the low two bits, decorations above.
  enum eToStringFlags
  {
    eToStringPlain = 0,
    eToStringJSON = 1,
    eToStringLua = 2,
    eToStringXML = 3,
    eToStringClassName = 8,
    eToStringAddress = 16,
    eToStringEntryCount = 32,
    eToStringSerialized = 64
  };

  // The kind of a change reported to key observers.
  enum eKeyObserverFlags
  {
    eKeyObserverAdded = 1,
    eKeyObserverRemoved = 2,
    eKeyObserverReplaced = 4,
    eKeyObserverAll = 7
  };

  // Objects live in small blocks (object/SmallBlocks.h); the sized form of delete returns a
  // block to the cache of its size.
  static void* operator new(size_t size);
  static void* operator new(size_t size, eRetainType type);
  static void operator delete(void* memory, size_t size) noexcept;
  static void operator delete(void* memory, eRetainType type) noexcept;

  BaseObject();
  BaseObject(const BaseObject&) = delete;
  BaseObject& operator=(const BaseObject&) = delete;

  virtual ~BaseObject();
  // False for null; otherwise equal hashes.
  virtual bool isEqual(BaseObject* other);
  // Positive when the receiver orders before `other` (the opposite sign of strcmp).
  virtual int compare(BaseObject* other);
  virtual uint32_t hash();
  // The exact class name. Value classes report their own (the serializer writes by it);
  // streams, drivers, sessions and managers report theirs too rather than "BaseObject", so
  // that a log line's class field says which object spoke. No format depends on those.
  virtual const char* getClass() const;
  // A new string in the caller's innermost pool.
  virtual BaseString* toString(int flags = eToStringPlain);
  virtual BaseString* getInstanceName();
  virtual void executeEvent(int event, BaseObject* argument);
  virtual void receiveMessage(BaseString* message, BaseDictionary* info, void* context);
  // Key-value hooks: the setter returns the eKeyObserverFlags of the change, or -1.
  virtual int _setValueForKeyInternal(BaseObject* value, BaseString* key);
  virtual BaseObject* _getValueForKeyInternal(BaseString* key);
  virtual void observedKeyWillChange(BaseString* key, BaseObject* object, void* context);
  virtual void observedKeyDidChange(BaseString* key, BaseObject* object, eKeyObserverFlags flags,
                                    void* context);

  BaseObject* retain();
  // Returns null when this call destroyed the object.
  BaseObject* release();
  // Hands the caller's reference to the pool `level` steps out from the innermost one.
  BaseObject* autorelease(unsigned char level = 0);
  int getRetainCount() const { return m_retainCount.load(std::memory_order_relaxed); }
  // Exact class-name test, not an inheritance test.
  bool isOfClass(const char* name) const;

  // Text-form helpers shared by every class; each returns a new string owned by the
  // caller's innermost pool.
  // Puts the class name, address and entry count (per the decoration bits of `flags`)
  // in front of `text` as a comment; entryCount -1 for objects without entries.
  BaseString* toStringCommon(int flags, BaseString* text, int entryCount);
  // `text` in the comment syntax of the format in the low two bits of `flags`.
  static BaseString* commentString(int flags, BaseString* text);
  // Every line feed followed by two spaces.
  static BaseString* indentateString(BaseString* text);
  // One line, or one element per indented line when the texts are long or multi-line.
  static BaseString* arrayToString(BaseTypedArray<BaseString>* texts, const char* opening, const char* closing,
                                   const char* separator);

  // Key-value coding and observation (BaseObjectKeyValue.cpp). Key paths read "a.b.c" or
  // "/a/b/c"; arrays answer to element indices, dictionaries to their keys. Observation is
  // synchronous on the thread that sets the value; the tables take no lock. The observer
  // table holds each observer (a record retains it) until it is removed or the observed
  // object dies, so an object must not observe itself.
  BaseObject* getValueForKey(BaseString* key);
  // Tells the key's observers before and after; a null context means the receiver. Returns
  // the eKeyObserverFlags of the change, or -1.
  int setValueForKey(BaseObject* value, BaseString* key, void* context);
  static BaseTypedArray<BaseString>* splitKeyPath(BaseString* path);
  BaseObject* getValueForKeyPath(BaseString* path);
  int setValueForKeyPath(BaseObject* value, BaseString* path, void* context, bool createIntermediates);
  // `mask` selects the changes (eKeyObserverFlags) the observer hears of after they happen.
  void addObserverForValueAtKeyPath(BaseObject* observer, BaseString* path, int mask = eKeyObserverAll);
  void removeObserverForValueAtKeyPath(BaseObject* observer, BaseString* path);
  void notifyValueWillChange(BaseString* key, BaseObject* value, void* context);
  void notifyValueDidChange(BaseString* key, BaseObject* value, int flags, void* context);

  // Null-tolerant forms of the three operations above.
  template <typename T>
  static T* retain(T* object)
  {
    if (object) object->retain();
    return object;
  }
  static BaseObject* release(BaseObject* object) { return object ? object->release() : nullptr; }
  static bool isOfClass(const BaseObject* object, const char* name)
  {
    return object && object->isOfClass(name);
  }

  // `slot` is the address of a BaseObject* member: retains the new value, then releases the old.
  static void setMember(void* slot, BaseObject* value);

  // Encodings and files (serialization/BaseObjectEncoding.cpp). The format is an eToStringFlags value:
  // JSON or XML text by its low two bits (decoration bits ignored), otherwise bit 64 for one
  // object of the object stream; plain and Lua are refused with an Info line.
  // Appends the encoding to `buffer`; false when refused or when the buffer cannot grow.
  virtual bool encode(BaseBuffer* buffer, eToStringFlags format);
  // Not implemented: always null, `format` untouched.
  BaseObject* decode(BaseBuffer* buffer, eToStringFlags* format);
  // Encodes into a new buffer and writes it to `path`; true only when both succeed.
  virtual bool writeToFile(BaseString* path, eToStringFlags format);
  // The object in a JSON or object-stream file, in the caller's innermost pool, or null with
  // a Warning. The format found (eToStringJSON, eToStringSerialized, or eToStringXML for
  // refused XML) goes to `format` when it is not null.
  static BaseObject* readFromFile(BaseString* path, eToStringFlags* format);

protected:
  // The same operations on an already split path, from component `first` on.
  BaseObject* _getValueForKeyPathInternal(BaseTypedArray<BaseString>* keys, unsigned int first);
  int _setValueForKeyPathInternal(BaseObject* value, BaseTypedArray<BaseString>* keys, unsigned int first,
                                  void* context, bool createIntermediates);
  void _addObserverForValueAtKeyPathInternal(BaseObject* observer, BaseTypedArray<BaseString>* keys,
                                             unsigned int first, int mask);
  void _removeObserverForValueAtKeyPathInternal(BaseObject* observer, BaseTypedArray<BaseString>* keys,
                                                unsigned int first);

  std::atomic<int32_t> m_retainCount;
  BaseDictionary* m_keyObservers;  // key -> array of observer records, made on first registration

  friend class BaseAutorelease;
};
