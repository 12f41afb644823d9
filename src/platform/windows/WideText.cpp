#include "platform/windows/WideText.h"

#include <windows.h>

#include <cstring>

namespace platform {

std::wstring wideFromUtf8(const std::string& text)
{
  if (text.empty()) return std::wstring();
  int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring wide(size_t(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), &wide[0], length);
  return wide;
}

std::wstring wideFromUtf8(const char* text)
{
  return text ? wideFromUtf8(std::string(text)) : std::wstring();
}

std::string utf8FromWide(const std::wstring& text)
{
  if (text.empty()) return std::string();
  int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
  if (length <= 0) return std::string();
  std::string narrow(size_t(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), &narrow[0], length, nullptr, nullptr);
  return narrow;
}

}  // namespace platform
