# One interface target carries the language level, warnings and Qt definitions
# that every target of the project links.
add_library(bwc_common INTERFACE)
target_compile_features(bwc_common INTERFACE cxx_std_17)
set(CMAKE_CXX_STANDARD 17)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
# The libraries of the module are linked into the plug-in, a shared object.
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
target_compile_options(bwc_common INTERFACE -Wall -Wextra)
target_compile_definitions(bwc_common INTERFACE
  QT_NO_CAST_FROM_BYTEARRAY
  QT_NO_URL_CAST_FROM_STRING
  QT_NO_FOREACH
)

option(BWC_SANITIZE "Sanitizers to build with: address, undefined, thread (comma separated)" "")
if(BWC_SANITIZE)
  target_compile_options(bwc_common INTERFACE -fsanitize=${BWC_SANITIZE} -fno-omit-frame-pointer -g)
  target_link_options(bwc_common INTERFACE -fsanitize=${BWC_SANITIZE})
endif()

set(CMAKE_ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib)
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib)
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
