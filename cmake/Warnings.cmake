# Common compile settings for every target of the project.
add_library(zelvo_options INTERFACE)
target_compile_options(zelvo_options INTERFACE -Wall -Wextra -Wpedantic)
if(ZELVO_WERROR)
  target_compile_options(zelvo_options INTERFACE -Werror)
endif()
if(ZELVO_SANITIZE)
  target_compile_options(zelvo_options INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer
                                                 -fno-sanitize-recover=undefined)
  target_link_options(zelvo_options INTERFACE -fsanitize=address,undefined)
endif()
# Fuzzing: every library instrumented for libFuzzer's coverage; the fuzz programs add its main.
if(ZELVO_FUZZ)
  target_compile_options(zelvo_options INTERFACE -fsanitize=fuzzer-no-link,address,undefined
                                                 -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(zelvo_options INTERFACE -fsanitize=address,undefined)
endif()
if(ZELVO_TSAN)
  if(ZELVO_SANITIZE)
    message(FATAL_ERROR "ThreadSanitizer cannot be combined with AddressSanitizer")
  endif()
  target_compile_options(zelvo_options INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(zelvo_options INTERFACE -fsanitize=thread)
endif()

# zelvo_add_library(NAME SOURCES files... DEPS libs... PRIVATE_DEPS libs...): one static library
# of the listed sources of the calling folder.
function(zelvo_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC zelvo_options ${ARG_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
endfunction()
