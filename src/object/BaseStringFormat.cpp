// The string formatting engine behind appendFormat and its relatives. Output is gathered
// in a buffer on the stack and appended to the receiver when the buffer is full and at the
// end, so that a typical line grows the string once. Literal text is copied as it is
// scanned. Integers, characters and texts are written here, to the rules of C's printf;
// floating-point numbers and pointers are formatted by snprintf, from a directive rebuilt
// from the parsed conversion, so that they print exactly as the C library prints them
// (its rounding, its infinities and NaNs, its decimal point). No state is kept between calls.
//
// Argument widths. This platform is LP64 (long and pointers are 8 bytes), so every
// argument is read with its real C type; the directive handed to snprintf is rebuilt from
// the parsed flags, width and precision, so odd modifier runs ("hl", "lh", "%Lf") cannot
// mismatch an argument:
//   d i o u x X   int / unsigned int with no modifier (or a run weighing 0), with "h" or
//                 "hh" (which narrow as in C); long with a single "l" (weight 1), so "%ld"
//                 of a long prints the long; long long with "ll" or "L" (weight 2 or more)
//   c             int;   e E f g G  double, whatever the modifiers ("%Lf" reads a double:
//                 nobody passes long double);   p  a pointer
//   s             const char*;   S  BaseString*;   @  BaseObject* (its Lua text form)
//   P             BaseString*, not null, joined with appendPathComponent
//   t             int seconds, printed as "%lld" of the value widened to 64 bits
// Flags and precisions that the C library leaves undefined for a conversion ("#" on
// d i u c s p, "0" on c s p, a precision on c and p) are ignored, and a repeated flag
// counts once. "+" and " " sign d and i; the two cases where C libraries disagree, " " on
// u and "#" with a precision on an octal 0, are left to snprintf.
//
// Pieces are bounded: widths and precisions have at most two digits, a piece of snprintf
// keeps at most PIECE_SIZE - 1 bytes, and a text of 100 bytes or more without a precision
// is appended whole, flags and width ignored (the string rule).
//
// Whatever may read the receiver while a conversion is made (an object's text form, the
// receiver or its bytes as an argument, a path joined to it) sees everything formatted
// before it: the gathered output is appended first.
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>

#include "object/BaseAutorelease.h"
#include "object/BaseString.h"
#include "object/Digits.h"
#include "platform/CLocale.h"
#include "runtime/BaseAssert.h"

#define U8(c) (static_cast<unsigned char>(c))

namespace {

const char FLAGS[] = "-+ #0";

// Bits of Conversion::flags, in the order of FLAGS.
enum
{
  FLAG_MINUS = 1,
  FLAG_PLUS = 2,
  FLAG_SPACE = 4,
  FLAG_HASH = 8,
  FLAG_ZERO = 16,
  FLAGS_ALL = 31,
  FLAGS_TEXT = FLAG_MINUS | FLAG_PLUS | FLAG_SPACE
};

enum
{
  PIECE_SIZE = 512,
  LONG_TEXT = 100,
  // "%", five flags, two width digits, ".", two precision digits, "ll", conversion, NUL.
  DIRECTIVE_SIZE = 32,
  // Room for a whole piece of snprintf after a typical line.
  OUTPUT_SIZE = 1024,
  // An integer at its widest: a 99-byte width or precision, sign, "0x" and 22 octal digits.
  INTEGER_SIZE = 128,
  // A "%f" that printf is not needed for: up to 20 integer digits and 20 decimals.
  FIXED_SIZE = 64
};

// The flag bit of a character, 0 for any other.
inline unsigned int flagBit(char c)
{
  switch (c) {
    case '-':
      return FLAG_MINUS;
    case '+':
      return FLAG_PLUS;
    case ' ':
      return FLAG_SPACE;
    case '#':
      return FLAG_HASH;
    case '0':
      return FLAG_ZERO;
    default:
      return 0;
  }
}

inline bool isDigit(char c)
{
  return c >= '0' && c <= '9';
}

// One parsed conversion, up to (not including) its conversion character.
struct Conversion
{
  unsigned int flags = 0;
  const char* width = nullptr;
  int widthLength = 0;
  int widthValue = 0;
  const char* precision = nullptr;  // null when there is no "."
  int precisionLength = 0;
  int precisionValue = 0;  // "." alone is a precision of 0
  int weight = 0;          // sum of the modifier weights
};

// `p` is just after the "%"; returns the position of the conversion character.
const char* parseConversion(const char* p, Conversion& conversion)
{
  const char* strfrmt = p;
  unsigned int flag;
  while ((flag = flagBit(*p)) != 0) {
    conversion.flags |= flag;
    p++;
  }
  // clang-format off
  BASE_ASSERT((size_t)(p - strfrmt) < sizeof(FLAGS));
  // clang-format on
  conversion.width = p;
  for (int i = 0; i < 2 && isDigit(*p); i++, p++)
    conversion.widthValue = conversion.widthValue * 10 + (*p - '0');
  conversion.widthLength = static_cast<int>(p - conversion.width);
  if (*p == '.') {
    p++;
    conversion.precision = p;
    for (int i = 0; i < 2 && isDigit(*p); i++, p++)
      conversion.precisionValue = conversion.precisionValue * 10 + (*p - '0');
    conversion.precisionLength = static_cast<int>(p - conversion.precision);
  }
  // clang-format off
  BASE_ASSERT(!isdigit(U8(*p)));
  // clang-format on
  // Length modifiers weigh "h" -1, "%" 0, "l" +1, "L" +2.
  for (;; p++) {
    int weight;
    switch (*p) {
      case 'h':
        weight = -1;
        break;
      case '%':
        weight = 0;
        break;
      case 'l':
        weight = 1;
        break;
      case 'L':
        weight = 2;
        break;
      default:
        return p;
    }
    // Bounded so that no run of modifiers can overflow the sum; only its sign and
    // whether it reaches 1 or 2 matter.
    weight += conversion.weight;
    conversion.weight = weight < -8 ? -8 : (weight > 8 ? 8 : weight);
  }
}

// The integer modifier for the C type read at this weight.
const char* integerModifier(int weight)
{
  if (weight >= 2) return "ll";
  if (weight == 1) return "l";
  if (weight == -1) return "h";
  if (weight <= -2) return "hh";
  return "";
}

// "%" + the kept flags + width + precision (when kept) + modifier + conversion character.
void buildDirective(char (&directive)[DIRECTIVE_SIZE], const Conversion& conversion, unsigned int keptFlags,
                    bool keepPrecision, const char* modifier, char character)
{
  char* out = directive;
  *out++ = '%';
  unsigned int flags = conversion.flags & keptFlags;
  for (int i = 0; FLAGS[i] != '\0'; i++)
    if (flags & (1u << i)) *out++ = FLAGS[i];
  memcpy(out, conversion.width, conversion.widthLength);
  out += conversion.widthLength;
  if (keepPrecision && conversion.precision) {
    *out++ = '.';
    memcpy(out, conversion.precision, conversion.precisionLength);
    out += conversion.precisionLength;
  }
  size_t modifierLength = strlen(modifier);
  memcpy(out, modifier, modifierLength);
  out += modifierLength;
  *out++ = character;
  *out = '\0';
}

// The formatted bytes on their way to the receiver. Without a receiver, the first flush
// makes one in the caller's innermost pool, holding what was gathered.
class Output
{
public:
  explicit Output(BaseString* receiver) : m_receiver(receiver) {}
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  // The receiver as it stands, with nothing left gathered; null before the first flush.
  BaseString* current() const { return m_receiver; }
  // The receiver, holding everything formatted so far.
  BaseString* receiver()
  {
    flush();
    if (!m_receiver) m_receiver = new (eRetainAutorelease) BaseString();
    return m_receiver;
  }

  // Room for `count` bytes (at most OUTPUT_SIZE), to be filled and then passed to advance.
  char* room(size_t count)
  {
    if (OUTPUT_SIZE - m_length < count) flush();
    return m_bytes + m_length;
  }
  void advance(size_t count) { m_length += count; }

  // Copies literal text up to the next "%" or the end of the format; returns where it stopped.
  const char* copyLiteral(const char* p)
  {
    char* at = m_bytes + m_length;
    char* const limit = m_bytes + OUTPUT_SIZE;
    char c;
    while ((c = *p) != '\0' && c != '%') {
      if (at == limit) {
        m_length = OUTPUT_SIZE;
        flush();
        at = m_bytes;
      }
      *at++ = c;
      p++;
    }
    m_length = static_cast<size_t>(at - m_bytes);
    return p;
  }

  void put(const char* bytes, size_t count)
  {
    if (OUTPUT_SIZE - m_length < count) {
      flush();
      if (count > OUTPUT_SIZE) {
        receiver()->append(bytes, count <= INT_MAX ? static_cast<int>(count) : -1);
        return;
      }
    }
    memcpy(m_bytes + m_length, bytes, count);
    m_length += count;
  }

  void flush()
  {
    if (m_length == 0) return;
    if (m_receiver)
      m_receiver->append(m_bytes, static_cast<int>(m_length));
    else
      m_receiver = new (eRetainAutorelease) BaseString(m_bytes, static_cast<int>(m_length));
    m_length = 0;
  }

private:
  BaseString* m_receiver;
  size_t m_length = 0;
  char m_bytes[OUTPUT_SIZE];
};

// Spaces up to the width around `length` bytes of content: the count before and after.
inline void padding(const Conversion& conversion, size_t length, size_t& before, size_t& after)
{
  size_t width = static_cast<size_t>(conversion.widthValue);
  size_t spaces = width > length ? width - length : 0;
  before = (conversion.flags & FLAG_MINUS) ? 0 : spaces;
  after = spaces - before;
}

// `length` bytes of text in a field of the conversion's width, as "%-5s" and "%c" place them.
void putField(Output& out, const Conversion& conversion, const char* text, size_t length)
{
  size_t before, after;
  padding(conversion, length, before, after);
  char* at = out.room(before + length + after);
  if (before) memset(at, ' ', before);
  memcpy(at + before, text, length);
  if (after) memset(at + before + length, ' ', after);
  out.advance(before + length + after);
}

// An integer conversion of a magnitude and its sign, as printf writes it: sign or "0x",
// zeros up to the precision (or, with "0" and no precision, up to the width), spaces up to
// the width.
void putInteger(Output& out, const Conversion& conversion, char character, unsigned long long magnitude,
                bool negative)
{
  const unsigned int flags = conversion.flags;
  const int base = character == 'o' ? 8 : (character == 'x' || character == 'X') ? 16 : 10;
  char digitBytes[Digits::MAX_LENGTH];
  char* digitsEnd = digitBytes + sizeof digitBytes;
  char* digits = digitsEnd;
  // A precision of 0 prints no digit for the value 0.
  if (magnitude != 0 || !conversion.precision || conversion.precisionValue != 0)
    digits = Digits::write(digitsEnd, magnitude, base, character == 'X');
  size_t digitCount = static_cast<size_t>(digitsEnd - digits);

  char prefix[2] = {0, 0};
  size_t prefixLength = 0;
  if (character == 'd' || character == 'i') {
    if (negative)
      prefix[prefixLength++] = '-';
    else if (flags & FLAG_PLUS)
      prefix[prefixLength++] = '+';
    else if (flags & FLAG_SPACE)
      prefix[prefixLength++] = ' ';
  } else if ((flags & FLAG_HASH) && base == 16 && magnitude != 0) {
    prefix[prefixLength++] = '0';
    prefix[prefixLength++] = character;
  }

  size_t precision = conversion.precision ? static_cast<size_t>(conversion.precisionValue) : 1;
  size_t zeros = precision > digitCount ? precision - digitCount : 0;
  // "#" of octal makes the first digit a 0.
  if ((flags & FLAG_HASH) && base == 8 && zeros == 0 && (digitCount == 0 || *digits != '0')) zeros = 1;
  size_t length = prefixLength + zeros + digitCount;
  if ((flags & FLAG_ZERO) && !(flags & FLAG_MINUS) && !conversion.precision &&
      static_cast<size_t>(conversion.widthValue) > length) {
    zeros += static_cast<size_t>(conversion.widthValue) - length;
    length = static_cast<size_t>(conversion.widthValue);
  }

  size_t before, after;
  padding(conversion, length, before, after);
  char* at = out.room(before + length + after);
  if (before) memset(at, ' ', before);
  at += before;
  for (size_t i = 0; i < prefixLength; i++) *at++ = prefix[i];
  if (zeros) memset(at, '0', zeros);
  at += zeros;
  memcpy(at, digits, digitCount);
  at += digitCount;
  if (after) memset(at, ' ', after);
  out.advance(before + length + after);
}

// One value through snprintf, straight into the output; a piece keeps what snprintf
// reported writing, up to PIECE_SIZE - 1 bytes.
template <typename T>
void putFormatted(Output& out, const char* directive, T value)
{
  char* at = out.room(PIECE_SIZE);
  int written = snprintf(at, PIECE_SIZE, directive, value);
  if (written > 0) out.advance(written < PIECE_SIZE ? static_cast<size_t>(written) : PIECE_SIZE - 1);
}

// The string rule for "s", "S" and "@": a long text without a precision is appended
// whole, flags and width ignored; anything else is placed as "%-5.3s" would place it.
void putText(Output& out, const Conversion& conversion, const char* text)
{
  if (conversion.precision) {
    putField(out, conversion, text, strnlen(text, static_cast<size_t>(conversion.precisionValue)));
    return;
  }
  size_t length = strlen(text);
  if (length >= LONG_TEXT)
    out.put(text, length);
  else
    putField(out, conversion, text, length);
}

// Whether `text` lies in the bytes of `string` (which may be null).
bool isInside(const char* text, const BaseString* string)
{
  return string && text >= string->cString() && text < string->cString() + string->capacity();
}

// The whole format with its arguments, into `out`.
void formatInto(Output& out, const char* format, va_list arguments)
{
  const char* p = format;
  for (;;) {
    p = out.copyLiteral(p);
    if (*p == '\0') break;
    p++;
    if (*p == '%') {
      out.put("%", 1);
      p++;
      continue;
    }

    Conversion conversion;
    p = parseConversion(p, conversion);
    const char character = *p;
    switch (character) {
      case 'd':
      case 'i': {
        long long value;
        if (conversion.weight >= 2) {
          value = va_arg(arguments, long long);
        } else if (conversion.weight == 1) {
          value = va_arg(arguments, long);
        } else {
          int narrow = va_arg(arguments, int);
          if (conversion.weight == -1)
            narrow = static_cast<short>(narrow);
          else if (conversion.weight <= -2)
            narrow = static_cast<signed char>(narrow);
          value = narrow;
        }
        putInteger(out, conversion, character, Digits::magnitudeOf(value), value < 0);
        break;
      }
      case 'o':
      case 'u':
      case 'x':
      case 'X': {
        unsigned long long value;
        if (conversion.weight >= 2) {
          value = va_arg(arguments, unsigned long long);
        } else if (conversion.weight == 1) {
          value = va_arg(arguments, unsigned long);
        } else {
          unsigned int narrow = va_arg(arguments, unsigned int);
          if (conversion.weight == -1)
            narrow = static_cast<unsigned short>(narrow);
          else if (conversion.weight <= -2)
            narrow = static_cast<unsigned char>(narrow);
          value = narrow;
        }
        // C libraries disagree on these two (Windows' prints a space for "% u", and nothing
        // for "%#.0o" of 0): they print as the platform's own snprintf prints them.
        if ((character == 'u' && (conversion.flags & FLAG_SPACE)) ||
            (character == 'o' && (conversion.flags & FLAG_HASH) && conversion.precision && value == 0)) {
          char directive[DIRECTIVE_SIZE];
          buildDirective(directive, conversion, character == 'u' ? FLAGS_ALL & ~FLAG_HASH : FLAGS_ALL, true,
                         integerModifier(conversion.weight), character);
          if (conversion.weight >= 2)
            putFormatted(out, directive, value);
          else if (conversion.weight == 1)
            putFormatted(out, directive, static_cast<unsigned long>(value));
          else
            putFormatted(out, directive, static_cast<unsigned int>(value));
          break;
        }
        putInteger(out, conversion, character, value, false);
        break;
      }
      case 'c': {
        const char byte = static_cast<char>(va_arg(arguments, int));
        putField(out, conversion, &byte, 1);
        break;
      }
      case 'f': {
        const double value = va_arg(arguments, double);
        // Plain or left-aligned, the digits need no printf; other flags do.
        if ((conversion.flags & ~FLAG_MINUS) == 0) {
          char digits[FIXED_SIZE];
          const int length = platform::formatFixedQuickly(digits, sizeof digits, value,
                                                          conversion.precision ? conversion.precisionValue : 6);
          if (length >= 0) {
            putField(out, conversion, digits, static_cast<size_t>(length));
            break;
          }
        }
        char directive[DIRECTIVE_SIZE];
        buildDirective(directive, conversion, FLAGS_ALL, true, "", character);
        putFormatted(out, directive, value);
        break;
      }
      case 'e':
      case 'E':
      case 'g':
      case 'G': {
        char directive[DIRECTIVE_SIZE];
        buildDirective(directive, conversion, FLAGS_ALL, true, "", character);
        putFormatted(out, directive, va_arg(arguments, double));
        break;
      }
      case 'p': {
        char directive[DIRECTIVE_SIZE];
        buildDirective(directive, conversion, FLAGS_TEXT, false, "", 'p');
        putFormatted(out, directive, va_arg(arguments, void*));
        break;
      }
      case 's': {
        const char* text = va_arg(arguments, const char*);
        if (!text) {
          out.put("(null)", 6);
          break;
        }
        if (isInside(text, out.current())) out.flush();
        putText(out, conversion, text);
        break;
      }
      case 'S': {
        BaseString* text = va_arg(arguments, BaseString*);
        if (!text) {
          out.put("(null)", 6);
          break;
        }
        if (text == out.current()) out.flush();
        putText(out, conversion, text->cString());
        break;
      }
      case '@': {
        BaseObject* object = va_arg(arguments, BaseObject*);
        if (!object) {
          out.put("(null)", 6);
          break;
        }
        out.flush();
        // The text form and whatever it builds on the way are released here, so that
        // a long-lived caller's pool does not collect them and a thread without a pool
        // does not leak them.
        BaseAutorelease pool;
        BaseString* text = object->toString(BaseObject::eToStringLua);
        // putText copies the bytes, so the text may die with the pool.
        if (text)
          putText(out, conversion, text->cString());
        else
          out.put("(null)", 6);
        break;
      }
      case 'P': {
        BaseString* component = va_arg(arguments, BaseString*);
        // clang-format off
        BASE_ASSERT(component!=NULL);
        // clang-format on
        out.receiver()->appendPathComponent(component);
        break;
      }
      case 't': {
        char digits[Digits::MAX_LENGTH];
        char* const end = digits + sizeof digits;
        const char* start = Digits::writeDecimal(end, va_arg(arguments, int));
        out.put(start, static_cast<size_t>(end - start));
        break;
      }
      default:
        // "F", "a", "A", "n", any other character, and the end of the format after a "%".
        BASE_ASSERT(0);
    }
    p++;
  }
}

}  // namespace

void BaseString::appendFormatv(const char* format, va_list arguments)
{
  Output out(this);
  formatInto(out, format, arguments);
  out.flush();
}

void BaseString::appendFormat(const char* format, ...)
{
  va_list arguments;
  va_start(arguments, format);
  appendFormatv(format, arguments);
  va_end(arguments);
}

void BaseString::setFormatv(const char* format, va_list arguments)
{
  // The new text is built aside, so the receiver may be one of its own arguments.
  BaseString* text = new BaseString();
  text->appendFormatv(format, arguments);
  setString(text);
  text->release();
}

void BaseString::setFormat(const char* format, ...)
{
  va_list arguments;
  va_start(arguments, format);
  setFormatv(format, arguments);
  va_end(arguments);
}

BaseString* BaseString::stringWithFormatv(const char* format, va_list arguments)
{
  // The string is made once the line is formatted, at its size.
  Output out(nullptr);
  formatInto(out, format, arguments);
  return out.receiver();
}

BaseString* BaseString::stringWithFormat(const char* format, ...)
{
  va_list arguments;
  va_start(arguments, format);
  BaseString* text = stringWithFormatv(format, arguments);
  va_end(arguments);
  return text;
}
