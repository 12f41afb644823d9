// DebugManager's filters: one line of a filter text, read into its fields, and its part
// in the decision whether a call is written.
#include <strings.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "object/BaseString.h"
#include "runtime/Debug.h"
#include "runtime/DebugInternal.h"

using DebugInternal::viewOf;

namespace {

// An automatic-base integer; 0 (no bound) for text that is not one.
int parseLineBound(std::string_view field)
{
  if (field.empty()) return 0;
  std::string digits(field);
  long value = strtol(digits.c_str(), nullptr, 0);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return (int)value;
}

BaseString* substringField(std::string_view field)
{
  return field.empty() ? nullptr : new BaseString(field.data(), (int)field.size());
}

}  // namespace

DebugManager::DebugFilter::DebugFilter(BaseString* line)
    : m_include(true),
      m_severity(eMsgVerbose),
      m_fileSubstring(nullptr),
      m_functionSubstring(nullptr),
      m_minLine(0),
      m_maxLine(0),
      m_formatSubstring(nullptr)
{
  // severity|file|function|format|minLine|maxLine; anything after a sixth "|" is ignored.
  std::string_view fields[6];
  std::string_view rest = viewOf(line);
  for (int i = 0; i < 6 && !rest.empty(); i++) {
    size_t bar = rest.find('|');
    fields[i] = rest.substr(0, bar);
    if (bar == std::string_view::npos) break;
    rest = rest.substr(bar + 1);
  }

  std::string_view severity = fields[0];
  if (!severity.empty() && (severity[0] == '+' || severity[0] == '-')) {
    m_include = severity[0] == '+';
    severity.remove_prefix(1);
  }
  if (severity.size() == 1) {
    char letter = (char)toupper((unsigned char)severity[0]);
    const char* found = letter ? strchr(initialSeverity, letter) : nullptr;
    if (isdigit((unsigned char)letter))
      m_severity = letter - '0';
    else if (found)
      m_severity = (int)(found - initialSeverity);
  } else if (severity.size() > 1) {
    for (int i = eMsgFatal; i <= eMsgVerbose; i++) {
      if (severity.size() <= strlen(fullSeverity[i]) &&
          strncasecmp(severity.data(), fullSeverity[i], severity.size()) == 0) {
        m_severity = i;
        break;
      }
    }
  }
  m_fileSubstring = substringField(fields[1]);
  m_functionSubstring = substringField(fields[2]);
  m_formatSubstring = substringField(fields[3]);
  m_minLine = parseLineBound(fields[4]);
  m_maxLine = parseLineBound(fields[5]);
}

DebugManager::DebugFilter::~DebugFilter()
{
  release(m_fileSubstring);
  release(m_functionSubstring);
  release(m_formatSubstring);
}

bool DebugManager::DebugFilter::match(bool current, const char* file, int line, const char* function,
                                      int severity, const char* format) const
{
  bool matched = severity <= m_severity &&
                 (!m_fileSubstring || (file && strstr(file, m_fileSubstring->cString()))) &&
                 (!m_functionSubstring || (function && strstr(function, m_functionSubstring->cString()))) &&
                 (m_minLine == 0 || m_minLine <= line) && (m_maxLine == 0 || line <= m_maxLine) &&
                 (!m_formatSubstring || (format && strstr(format, m_formatSubstring->cString())));
  return m_include ? (current || matched) : (current && !matched);
}

bool DebugManager::DebugFilter::isUsefull() const
{
  return !(m_include && m_severity == eMsgVerbose && !m_fileSubstring && !m_functionSubstring &&
           !m_formatSubstring && m_minLine == 0 && m_maxLine == 0);
}
