# zarn_warnings: the warning flags every target of the project builds with.
add_library(zarn_warnings INTERFACE)
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  target_compile_options(zarn_warnings INTERFACE -Wall -Wextra -Wpedantic -Wshadow
                                                 -Wnon-virtual-dtor -Wcast-align -Wformat=2)
  if(ZARN_WERROR)
    target_compile_options(zarn_warnings INTERFACE -Werror)
  endif()
endif()
