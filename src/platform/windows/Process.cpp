#include "platform/Process.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdlib>
#include <cwctype>

#include "platform/windows/WideText.h"

namespace platform {

namespace {

// One argument as the C runtime's command-line parser reads it back: quoted when it holds
// blanks or quotes, with the backslashes before a quote doubled.
void appendQuoted(std::wstring& line, const std::wstring& argument)
{
  if (!line.empty()) line += L' ';
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    line += argument;
    return;
  }
  line += L'"';
  size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    line += c;
  }
  line.append(backslashes * 2, L'\\');
  line += L'"';
}

std::wstring upperName(const std::wstring& entry)
{
  std::wstring name = entry.substr(0, entry.find(L'=', 1));
  for (wchar_t& c : name) c = wchar_t(std::towupper(c));
  return name;
}

// The environment block: the given entries, then this process's own; Windows names ignore
// case, and the first entry of a name wins.
std::wstring environmentBlock(const std::vector<std::string>& environment)
{
  std::vector<std::wstring> entries;
  for (const std::string& entry : environment) entries.push_back(wideFromUtf8(entry));
  if (wchar_t* own = GetEnvironmentStringsW()) {
    for (const wchar_t* entry = own; *entry != L'\0'; entry += wcslen(entry) + 1) entries.emplace_back(entry);
    FreeEnvironmentStringsW(own);
  }
  std::vector<std::wstring> names;
  std::wstring block;
  for (const std::wstring& entry : entries) {
    const std::wstring name = upperName(entry);
    bool seen = false;
    for (const std::wstring& earlier : names) seen = seen || earlier == name;
    if (seen) continue;
    names.push_back(name);
    block += entry;
    block += L'\0';
  }
  block += L'\0';
  return block;
}

}  // namespace

intptr_t startProcess(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                      int ends[3])
{
  if (argv.empty()) return -1;
  SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
  HANDLE pipes[3][2] = {};  // read and write ends; the child's end of input is [0]
  bool made = true;
  for (auto& pair : pipes) made = made && CreatePipe(&pair[0], &pair[1], &inherited, 65536);
  HANDLE childEnds[3] = {pipes[0][0], pipes[1][1], pipes[2][1]};
  HANDLE ownEnds[3] = {pipes[0][1], pipes[1][0], pipes[2][0]};
  PROCESS_INFORMATION started = {};
  bool running = false;
  if (made) {
    for (HANDLE own : ownEnds) SetHandleInformation(own, HANDLE_FLAG_INHERIT, 0);
    std::wstring line;
    for (const std::string& arg : argv) appendQuoted(line, wideFromUtf8(arg));
    std::wstring block = environmentBlock(environment);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = childEnds[0];
    startup.hStdOutput = childEnds[1];
    startup.hStdError = childEnds[2];
    running = CreateProcessW(wideFromUtf8(argv[0]).c_str(), &line[0], nullptr, nullptr, TRUE,
                             CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW, &block[0], nullptr, &startup,
                             &started) != 0;
  }
  // The child has its own copies of its ends now.
  for (HANDLE end : childEnds)
    if (end) CloseHandle(end);
  if (!running) {
    for (HANDLE end : ownEnds)
      if (end) CloseHandle(end);
    return -1;
  }
  CloseHandle(started.hThread);
  for (int fd = 0; fd < 3; fd++)
    ends[fd] = _open_osfhandle(reinterpret_cast<intptr_t>(ownEnds[fd]), _O_BINARY | (fd == 0 ? 0 : _O_RDONLY));
  return reinterpret_cast<intptr_t>(started.hProcess);
}

int processId(intptr_t process)
{
  return int(GetProcessId(reinterpret_cast<HANDLE>(process)));
}

int waitForExit(intptr_t process)
{
  HANDLE handle = reinterpret_cast<HANDLE>(process);
  DWORD status = DWORD(-1);
  if (WaitForSingleObject(handle, INFINITE) != WAIT_OBJECT_0 || !GetExitCodeProcess(handle, &status))
    status = DWORD(-1);
  CloseHandle(handle);
  return int(status);
}

void killProcess(intptr_t process)
{
  TerminateProcess(reinterpret_cast<HANDLE>(process), 137);
}

bool setEnvironmentVariable(const char* name, const char* value)
{
  // The C runtime's copy, which getenv() reads, and the system's, which children inherit and
  // the system's own calls read (GetTempPath), change together. Windows holds no empty value:
  // "NAME=" removes the variable.
  std::wstring entry = wideFromUtf8(name) + L"=" + (value ? wideFromUtf8(value) : std::wstring());
  return _wputenv(entry.c_str()) == 0;
}

namespace {

void (*s_interruptHandler)() = nullptr;

BOOL WINAPI onControl(DWORD)
{
  if (s_interruptHandler) s_interruptHandler();
  return TRUE;
}

}  // namespace

void onInterrupt(void (*handler)())
{
  s_interruptHandler = handler;
  SetConsoleCtrlHandler(onControl, TRUE);
}

NetworkIsolation isolateNetwork()
{
  return eNotIsolated;
}

void ignoreBrokenPipes() {}

}  // namespace platform
