#pragma once

#include <cstdio>
#include <cstdlib>

// A broken property is a finding like a crash: libFuzzer keeps the input that broke it.
#define FUZZ_CHECK(cond)                                                                 \
  do {                                                                                   \
    if (!(cond)) {                                                                       \
      std::fprintf(stderr, "property broken at %s:%d: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (0)
