#pragma once

#if defined(_WIN32)
#  if defined(ORBNETWORK_LIBRARY)
#    define ORBNETWORK_EXPORT __declspec(dllexport)
#  else
#    define ORBNETWORK_EXPORT __declspec(dllimport)
#  endif
#else
#  define ORBNETWORK_EXPORT __attribute__((visibility("default")))
#endif

// Internal engine classes are exported too so that the library's own tests can drive
// them directly; they are not part of the public interface.
#define ORBNETWORK_PRIVATE_EXPORT ORBNETWORK_EXPORT
