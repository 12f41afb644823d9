// Assertions for programming errors: a failed condition writes its own text, the
// source file, line and function to standard error and stops the program. Input
// from peers, files or users must never reach one of these.
#pragma once

[[noreturn]] void baseAssertFailed(const char* condition, const char* file, int line, const char* function);

// The condition's source text is the message, so write it as it should read ("m_retainCount>0").
#define BASE_ASSERT(condition) \
  ((condition) ? (void)0 : baseAssertFailed(#condition, __FILE__, __LINE__, __func__))
