// Reads strict JSON (RFC 8259) into objects: objects become BaseDictionary, arrays
// BaseArray, strings BaseString, numbers BaseNumber, true and false boolean BaseNumbers,
// null BaseNull::instance. The text is taken as untrusted input: anything that is not valid
// JSON in valid UTF-8 yields null with a Warning, never an assertion. Stateless; any thread
// may call it, each call on its own bytes. It reads bytes only: whoever holds a file or a
// stream reads it into memory first.
#pragma once

#include <cstddef>

class BaseObject;

class JSONParser
{
public:
  enum
  {
    // Deepest nesting of arrays and objects that is read, as in the object stream.
    MAX_NESTING_DEPTH = 256
  };

  // The `length` bytes at `bytes` (null only with a length of 0) must be one JSON value
  // with nothing but JSON whitespace around it: no comments, no trailing commas, no NaN or
  // Infinity, no byte-order mark. Returns the value in the caller's innermost pool, or null
  // with "JSON text rejected at offset %u: %s".
  //  - A number written without fraction and exponent that fits a signed 64-bit integer is
  //    an integer (so "-0" is the integer 0); every other number is a double.
  //  - Strings keep their exact bytes, "\u0000" included: such a string is shorter as a C
  //    string than its length says. Escapes of unpaired surrogates are refused.
  //  - An object that repeats a key keeps the last value given for it.
  static BaseObject* parseJSON(const void* bytes, size_t length);
};
