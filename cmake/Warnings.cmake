# Every target of ours links torvane_warnings: warnings on, treated as a build
# quality gate in CI through TORVANE_WERROR.
add_library(torvane_warnings INTERFACE)
target_compile_options(torvane_warnings INTERFACE -Wall -Wextra)
option(TORVANE_WERROR "Treat warnings in our code as errors" OFF)
if(TORVANE_WERROR)
  target_compile_options(torvane_warnings INTERFACE -Werror)
endif()
