# A fuzz build (TORVANE_BUILD_FUZZERS with clang) compiles everything with
# libFuzzer's coverage instrumentation and ASan+UBSan, so the fuzz targets
# are guided through the libraries they drive, not only through their own
# source. Use a build folder of its own for it.
if(TORVANE_BUILD_FUZZERS AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
