# Warnings for the project's own code; CI builds turn them into errors.
add_library(qk_warnings INTERFACE)
if(MSVC)
  # Level 4, less the warning about attributes it does not know ([[gnu::used]] on the version
  # string), and the C library's advice to use its own "secure" functions.
  target_compile_options(qk_warnings INTERFACE /W4 /wd5030 $<$<BOOL:${QKSCAN_WARNINGS_AS_ERRORS}>:/WX>)
  target_compile_definitions(qk_warnings INTERFACE _CRT_SECURE_NO_WARNINGS)
  return()
endif()
target_compile_options(qk_warnings INTERFACE
  -Wall -Wextra
  $<$<COMPILE_LANGUAGE:CXX>:-Wpedantic -Wshadow -Wconversion -Wno-sign-conversion
    -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Woverloaded-virtual>)
# GCC 12 reports impossible overlaps in std::string concatenation at -O3 (a known false positive
# of -Wrestrict in its library headers).
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12)
  target_compile_options(qk_warnings INTERFACE $<$<COMPILE_LANGUAGE:CXX>:-Wno-restrict>)
endif()
if(QKSCAN_WARNINGS_AS_ERRORS)
  target_compile_options(qk_warnings INTERFACE -Werror)
endif()

if(QKSCAN_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
    -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()
