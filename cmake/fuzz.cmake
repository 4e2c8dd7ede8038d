# SPDX-License-Identifier: MIT
# The fuzz targets (fuzz/*_fuzz.cpp), one per family of text parsers.
#
# With PACELAG_FUZZ (clang only) they are libFuzzer programs. The library is
# compiled with the same sanitizers and with coverage hooks, so a fault inside
# it is seen and its branches guide the fuzzer.
#
# Otherwise, with the tests on, each target is linked with a small driver into
# <target>_replay and its seed corpus becomes a test, so every build (g++, the
# sanitizer build) replays the inputs that once found a fault.
file(GLOB FUZZERS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/fuzz/*_fuzz.cpp)

if(PACELAG_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "PACELAG_FUZZ needs clang++ (configure with -DCMAKE_CXX_COMPILER=clang++)")
  endif()
  set(PACELAG_FUZZ_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=undefined
                         -fno-omit-frame-pointer)
  target_compile_options(pacelag_util PRIVATE ${PACELAG_FUZZ_FLAGS} -fsanitize=fuzzer-no-link)
  foreach(src ${FUZZERS})
    get_filename_component(name ${src} NAME_WE)
    add_executable(${name} ${src})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/fuzz)
    target_compile_options(${name} PRIVATE ${PACELAG_FUZZ_FLAGS} -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_libraries(${name} PRIVATE pacelag_util)
  endforeach()
elseif(PACELAG_TESTS)
  foreach(src ${FUZZERS})
    get_filename_component(name ${src} NAME_WE)
    add_executable(${name}_replay ${src} ${PROJECT_SOURCE_DIR}/fuzz/replay.cpp)
    target_include_directories(${name}_replay PRIVATE ${PROJECT_SOURCE_DIR}/fuzz)
    target_link_libraries(${name}_replay PRIVATE pacelag_util)
    add_test(NAME ${name}_corpus COMMAND ${name}_replay ${PROJECT_SOURCE_DIR}/fuzz/corpus/${name})
    set_tests_properties(${name}_corpus PROPERTIES TIMEOUT 120)
  endforeach()
endif()
