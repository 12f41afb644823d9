// The string formatting engine behind appendFormat and its relatives. Each conversion is
// parsed here and formatted on its own with snprintf into a 512-byte local buffer, then
// appended; literal text is appended as it stands. No state is kept between calls.
//
// Argument widths. This platform is LP64 (long and pointers are 8 bytes), so every
// argument is read with its real C type, and the directive handed to snprintf is
// rebuilt from the parsed flags, width and precision with the modifier of the type that
// was read; what the caller wrote never reaches snprintf verbatim, so odd modifier runs
// ("hl", "lh", "%Lf") cannot mismatch an argument:
//   d i o u x X   int / unsigned int with no modifier (or a run weighing 0), with "h" or
//                 "hh" (which narrow as in C); long with a single "l" (weight 1), so "%ld"
//                 of a long prints the long; long long with "ll" or "L" (weight 2 or more)
//   c             int;   e E f g G  double, whatever the modifiers ("%Lf" reads a double:
//                 nobody passes long double);   p  a pointer
//   s             const char*;   S  BaseString*;   @  BaseObject* (its Lua text form)
//   P             BaseString*, not null, joined with appendPathComponent
//   t             int seconds, printed as "%lld" of the value widened to 64 bits
// Flags and precisions that the C library leaves undefined for a conversion ("#" on
// d i u c s p, "0" on c s p, a precision on c and p) are dropped from the rebuilt
// directive, and a repeated flag is passed once.
//
// Pieces stay within the buffer: widths and precisions have at most two digits, and a
// text of 100 bytes or more without a precision bypasses snprintf (the string rule).
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>

#include "object/BaseAutorelease.h"
#include "object/BaseString.h"
#include "runtime/BaseAssert.h"

#define U8(c) (static_cast<unsigned char>(c))

namespace {

const char FLAGS[] = "-+ #0";
// Length modifiers; each weighs its position minus one: "h" -1, "%" 0, "l" +1, "L" +2.
const char modif[] = "h%lL";

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
  DIRECTIVE_SIZE = 32
};

// One parsed conversion, up to (not including) its conversion character.
struct Conversion
{
  unsigned int flags = 0;
  const char* width = nullptr;
  int widthLength = 0;
  const char* precision = nullptr;  // null when there is no "."
  int precisionLength = 0;
  int weight = 0;  // sum of the modifier weights
};

// `p` is just after the "%"; returns the position of the conversion character.
const char* parseConversion(const char* p, Conversion& conversion)
{
  const char* strfrmt = p;
  const char* flag;
  while (*p != '\0' && (flag = strchr(FLAGS, *p)) != nullptr) {
    conversion.flags |= 1u << (flag - FLAGS);
    p++;
  }
  // clang-format off
  BASE_ASSERT((size_t)(p - strfrmt) < sizeof(FLAGS));
  // clang-format on
  conversion.width = p;
  if (isdigit(U8(*p))) p++;
  if (isdigit(U8(*p))) p++;
  conversion.widthLength = static_cast<int>(p - conversion.width);
  if (*p == '.') {
    p++;
    conversion.precision = p;
    if (isdigit(U8(*p))) p++;
    if (isdigit(U8(*p))) p++;
    conversion.precisionLength = static_cast<int>(p - conversion.precision);
  }
  // clang-format off
  BASE_ASSERT(!isdigit(U8(*p)));
  // clang-format on
  const char* modifier;
  while (*p != '\0' && (modifier = strchr(modif, *p)) != nullptr) {
    // Bounded so that no run of modifiers can overflow the sum; only its sign and
    // whether it reaches 1 or 2 matter.
    int weight = conversion.weight + static_cast<int>(modifier - modif) - 1;
    conversion.weight = weight < -8 ? -8 : (weight > 8 ? 8 : weight);
    p++;
  }
  return p;
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

// Appends what snprintf reported writing (a "%c" of 0 is one NUL byte).
void appendPiece(BaseString* receiver, const char* piece, int written)
{
  if (written <= 0) return;
  receiver->append(piece, written < PIECE_SIZE ? written : PIECE_SIZE - 1);
}

template <typename T>
void appendFormatted(BaseString* receiver, const char* directive, T value)
{
  char piece[PIECE_SIZE];
  appendPiece(receiver, piece, snprintf(piece, sizeof piece, directive, value));
}

// The string rule for "s", "S" and "@": a long text without a precision is appended
// whole, flags and width ignored; anything else goes through "%...s".
void appendText(BaseString* receiver, const Conversion& conversion, const char* text)
{
  if (!conversion.precision) {
    size_t length = strlen(text);
    if (length >= LONG_TEXT) {
      receiver->append(text, length <= INT_MAX ? static_cast<int>(length) : -1);
      return;
    }
  }
  char directive[DIRECTIVE_SIZE];
  buildDirective(directive, conversion, FLAGS_TEXT, true, "", 's');
  appendFormatted(receiver, directive, text);
}

}  // namespace

void BaseString::appendFormatv(const char* format, va_list arguments)
{
  const char* p = format;
  while (*p != '\0') {
    const char* percent = strchr(p, '%');
    if (!percent) {
      append(p);
      return;
    }
    if (percent > p) append(p, static_cast<int>(percent - p));
    p = percent + 1;
    if (*p == '%') {
      append("%", 1);
      p++;
      continue;
    }

    Conversion conversion;
    p = parseConversion(p, conversion);
    char directive[DIRECTIVE_SIZE];
    const char character = *p;
    switch (character) {
      case 'd':
      case 'i':
      case 'o':
      case 'u':
      case 'x':
      case 'X': {
        const bool isSigned = character == 'd' || character == 'i';
        // "#" is only defined for the octal and hexadecimal forms.
        const unsigned int kept =
            (character == 'd' || character == 'i' || character == 'u') ? FLAGS_ALL & ~FLAG_HASH : FLAGS_ALL;
        buildDirective(directive, conversion, kept, true, integerModifier(conversion.weight), character);
        if (conversion.weight >= 2) {
          if (isSigned)
            appendFormatted(this, directive, va_arg(arguments, long long));
          else
            appendFormatted(this, directive, va_arg(arguments, unsigned long long));
        } else if (conversion.weight == 1) {
          if (isSigned)
            appendFormatted(this, directive, va_arg(arguments, long));
          else
            appendFormatted(this, directive, va_arg(arguments, unsigned long));
        } else {
          if (isSigned)
            appendFormatted(this, directive, va_arg(arguments, int));
          else
            appendFormatted(this, directive, va_arg(arguments, unsigned int));
        }
        break;
      }
      case 'c':
        buildDirective(directive, conversion, FLAGS_TEXT, false, "", 'c');
        appendFormatted(this, directive, va_arg(arguments, int));
        break;
      case 'e':
      case 'E':
      case 'f':
      case 'g':
      case 'G':
        buildDirective(directive, conversion, FLAGS_ALL, true, "", character);
        appendFormatted(this, directive, va_arg(arguments, double));
        break;
      case 'p':
        buildDirective(directive, conversion, FLAGS_TEXT, false, "", 'p');
        appendFormatted(this, directive, va_arg(arguments, void*));
        break;
      case 's': {
        const char* text = va_arg(arguments, const char*);
        if (text)
          appendText(this, conversion, text);
        else
          append("(null)", 6);
        break;
      }
      case 'S': {
        BaseString* text = va_arg(arguments, BaseString*);
        if (text)
          appendText(this, conversion, text->cString());
        else
          append("(null)", 6);
        break;
      }
      case '@': {
        BaseObject* object = va_arg(arguments, BaseObject*);
        if (!object) {
          append("(null)", 6);
          break;
        }
        // The text form and whatever it builds on the way are released here, so that
        // a long-lived caller's pool does not collect them and a thread without a pool
        // does not leak them.
        BaseAutorelease pool;
        BaseString* text = object->toString(eToStringLua);
        if (text)
          appendText(this, conversion, text->cString());
        else
          append("(null)", 6);
        break;
      }
      case 'P': {
        BaseString* component = va_arg(arguments, BaseString*);
        // clang-format off
        BASE_ASSERT(component!=NULL);
        // clang-format on
        appendPathComponent(component);
        break;
      }
      case 't': {
        long long seconds = va_arg(arguments, int);
        appendFormatted(this, "%lld", seconds);
        break;
      }
      default:
        // "F", "a", "A", "n", any other character, and the end of the format after a "%".
        BASE_ASSERT(0);
    }
    p++;
  }
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
  BaseString* text = new (eRetainAutorelease) BaseString();
  text->appendFormatv(format, arguments);
  return text;
}

BaseString* BaseString::stringWithFormat(const char* format, ...)
{
  va_list arguments;
  va_start(arguments, format);
  BaseString* text = stringWithFormatv(format, arguments);
  va_end(arguments);
  return text;
}
