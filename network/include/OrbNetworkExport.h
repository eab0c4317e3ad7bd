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

// Internal engine classes are visible outside the library only in builds made for the
// library's own tests (ORBNETWORK_EXPORT_INTERNALS); a shipped library hides them.
#if defined(ORBNETWORK_EXPORT_INTERNALS)
#  define ORBNETWORK_PRIVATE_EXPORT ORBNETWORK_EXPORT
#else
#  define ORBNETWORK_PRIVATE_EXPORT
#endif
