# libFuzzer targets (fuzz/*_fuzz.cpp), one per family of text parsers. The
# library is compiled with the same sanitizers and with coverage hooks, so a
# fault inside it is seen and its branches guide the fuzzer.
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "PACELAG_FUZZ needs clang++ (configure with -DCMAKE_CXX_COMPILER=clang++)")
endif()

set(PACELAG_FUZZ_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=undefined
                       -fno-omit-frame-pointer)
target_compile_options(pacelag_util PRIVATE ${PACELAG_FUZZ_FLAGS} -fsanitize=fuzzer-no-link)

file(GLOB FUZZERS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/fuzz/*_fuzz.cpp)
foreach(src ${FUZZERS})
  get_filename_component(name ${src} NAME_WE)
  add_executable(${name} ${src})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/fuzz)
  target_compile_options(${name} PRIVATE ${PACELAG_FUZZ_FLAGS} -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(${name} PRIVATE pacelag_util)
endforeach()
