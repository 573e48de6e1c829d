# One interface target carries the language level, the warnings and the sanitizer flags, so that
# every target of the project is built the same way. Third-party code never links it.
add_library(project_options INTERFACE)
target_compile_features(project_options INTERFACE cxx_std_20)
target_compile_options(project_options INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion -Wold-style-cast
    -Wnon-virtual-dtor -Woverloaded-virtual -Wformat=2
    $<$<BOOL:${KESTOVA_WERROR}>:-Werror>)

set(KESTOVA_SANITIZER "" CACHE STRING "Sanitizer build: empty, 'address' (address and undefined) or 'thread'")
set_property(CACHE KESTOVA_SANITIZER PROPERTY STRINGS "" address thread)
if(KESTOVA_SANITIZER STREQUAL "address")
    set(_san_flags -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
elseif(KESTOVA_SANITIZER STREQUAL "thread")
    set(_san_flags -fsanitize=thread -fno-omit-frame-pointer)
elseif(NOT KESTOVA_SANITIZER STREQUAL "")
    message(FATAL_ERROR "KESTOVA_SANITIZER must be empty, 'address' or 'thread'")
endif()
if(_san_flags)
    target_compile_options(project_options INTERFACE ${_san_flags})
    target_link_options(project_options INTERFACE ${_san_flags})
endif()
