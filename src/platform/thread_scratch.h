// Storage class for per-thread scratch buffers that are reused between parses
// so that a steady stream of parses allocates nothing.
//
// On Windows the library also lives inside a COM DLL, where thread-local
// objects with destructors are torn down by the threading runtime at process
// exit; with mingw-w64 that can leave the process hanging after its last
// call. There each parse uses fresh buffers instead (the component opens the
// database for every pass anyway, so the allocations do not matter).
#ifndef ZARN_PLATFORM_THREAD_SCRATCH_H_
#define ZARN_PLATFORM_THREAD_SCRATCH_H_

#if defined(_WIN32)
#define ZARN_THREAD_SCRATCH
#else
#define ZARN_THREAD_SCRATCH thread_local
#endif

#endif  // ZARN_PLATFORM_THREAD_SCRATCH_H_
