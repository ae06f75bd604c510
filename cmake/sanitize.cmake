# Sanitizer and fuzzing builds. Each lives in a build folder of its own (see the Makefile:
# `make sanitize`, `make fuzz`), so the everyday build is never slowed down by them.

if(TOUCHCAL_SANITIZE)
  set(_flags -fsanitize=${TOUCHCAL_SANITIZE} -fno-omit-frame-pointer)
  if(TOUCHCAL_SANITIZE MATCHES "undefined")
    # A finding stops the test there, so it cannot scroll by unnoticed.
    list(APPEND _flags -fno-sanitize-recover=undefined)
  endif()
  add_compile_options(${_flags})
  add_link_options(${_flags})
  # The sanitizers' instrumentation trips gcc's flow-based warnings on code that is fine.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    add_compile_options(-Wno-maybe-uninitialized)
  endif()
endif()

if(TOUCHCAL_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "TOUCHCAL_FUZZ needs clang (-DCMAKE_CXX_COMPILER=clang++)")
  endif()
  # Every library gets coverage instrumentation; only the targets link libFuzzer's main.
  set(_fuzz_flags -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
                  -fno-omit-frame-pointer)
  add_compile_options(${_fuzz_flags})
  add_link_options(-fsanitize=address,undefined)
endif()
