// Lock contracts the compiler checks: clang's thread-safety analysis (-Wthread-safety) reads
// these attributes; other compilers see nothing. A field says which lock guards it, a function
// which lock it needs or takes.
#ifndef HARVO_PLATFORM_THREAD_ANNOTATIONS_H
#define HARVO_PLATFORM_THREAD_ANNOTATIONS_H

#if defined(__clang__)
#define HV_THREAD_ATTRIBUTE(x) __attribute__((x))
#else
#define HV_THREAD_ATTRIBUTE(x)
#endif

#define CAPABILITY(x) HV_THREAD_ATTRIBUTE(capability(x))
#define SCOPED_CAPABILITY HV_THREAD_ATTRIBUTE(scoped_lockable)
#define GUARDED_BY(x) HV_THREAD_ATTRIBUTE(guarded_by(x))
#define PT_GUARDED_BY(x) HV_THREAD_ATTRIBUTE(pt_guarded_by(x))
#define REQUIRES(...) HV_THREAD_ATTRIBUTE(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) HV_THREAD_ATTRIBUTE(acquire_capability(__VA_ARGS__))
#define RELEASE(...) HV_THREAD_ATTRIBUTE(release_capability(__VA_ARGS__))
#define EXCLUDES(...) HV_THREAD_ATTRIBUTE(locks_excluded(__VA_ARGS__))
#define RETURN_CAPABILITY(x) HV_THREAD_ATTRIBUTE(lock_returned(x))
#define NO_THREAD_SAFETY_ANALYSIS HV_THREAD_ATTRIBUTE(no_thread_safety_analysis)

#endif  // HARVO_PLATFORM_THREAD_ANNOTATIONS_H
