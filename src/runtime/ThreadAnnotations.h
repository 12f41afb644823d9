// Attributes for clang's thread-safety analysis (-Wthread-safety): which lock guards which
// field, and which functions take, release or need a lock. They expand to nothing on other
// compilers, so the annotations cost nothing where the analysis does not run.
#pragma once

#if defined(__clang__)
#define CORVANE_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define CORVANE_THREAD_ANNOTATION(x)
#endif

// A class whose objects are locks.
#define CAPABILITY(name) CORVANE_THREAD_ANNOTATION(capability(name))
// A class that holds a lock for its own lifetime (a guard).
#define SCOPED_CAPABILITY CORVANE_THREAD_ANNOTATION(scoped_lockable)
// The field is read and written only with the lock held.
#define GUARDED_BY(lock) CORVANE_THREAD_ANNOTATION(guarded_by(lock))
// What the pointer points to is read and written only with the lock held.
#define PT_GUARDED_BY(lock) CORVANE_THREAD_ANNOTATION(pt_guarded_by(lock))
// The caller holds the locks.
#define REQUIRES(...) CORVANE_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
// The function takes the locks (or, without arguments on a lock's method, the lock itself).
#define ACQUIRE(...) CORVANE_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
// The function releases the locks.
#define RELEASE(...) CORVANE_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
// The function takes the locks when it returns `result`.
#define TRY_ACQUIRE(...) CORVANE_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
// The caller must not hold the locks: the function takes them itself.
#define EXCLUDES(...) CORVANE_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
// The function is left out of the analysis; say why where it is used.
#define NO_THREAD_SAFETY_ANALYSIS CORVANE_THREAD_ANNOTATION(no_thread_safety_analysis)
