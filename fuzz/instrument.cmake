# LV_BUILD_FUZZERS: the whole build gets libFuzzer's coverage instrumentation
# on top of AddressSanitizer and UndefinedBehaviorSanitizer, so that the
# harnesses of fuzz/ see into the libraries they drive. Clang only.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "LV_BUILD_FUZZERS needs clang: configure with CC=clang-14 CXX=clang++-14 (scripts/fuzz does)")
endif()
set(LV_SANITIZE ON)
add_compile_options($<$<COMPILE_LANGUAGE:C,CXX>:-fsanitize=fuzzer-no-link> -gline-tables-only)
