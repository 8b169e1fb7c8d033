# The Standard MIDI file reader: bytes in, a sequence of timed events out. It
# needs only the core types, so tests and the fuzz target link it alone.
add_library(platform_smf STATIC
  ${CMAKE_CURRENT_LIST_DIR}/smf_reader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/smf_track.cpp)
target_include_directories(platform_smf PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(platform_smf PUBLIC platform_core)

# The fuzz build instruments the reader for coverage and checks it with the
# address and undefined-behaviour sanitizers.
if(HALVANE_FUZZ)
  target_compile_options(platform_smf PRIVATE -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  target_link_options(platform_smf INTERFACE -fsanitize=address,undefined)
endif()
