// TESSUL_EXPORT marks what the shared library offers its callers. The
// library is built with hidden symbols, so everything without the mark
// stays inside it: callers cannot link against the engine's internals, and
// the dynamic symbol table holds the interface alone.
#ifndef TESSUL_EXPORT_H_
#define TESSUL_EXPORT_H_

#if defined(__GNUC__) || defined(__clang__)
#define TESSUL_EXPORT __attribute__((visibility("default")))
#else
#define TESSUL_EXPORT
#endif

#endif  // TESSUL_EXPORT_H_
