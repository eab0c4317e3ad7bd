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
