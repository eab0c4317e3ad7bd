#pragma once

#if defined(_WIN32)
#  if defined(ORBCONFIG_LIBRARY)
#    define ORBCONFIG_EXPORT __declspec(dllexport)
#  else
#    define ORBCONFIG_EXPORT __declspec(dllimport)
#  endif
#else
#  define ORBCONFIG_EXPORT __attribute__((visibility("default")))
#endif
