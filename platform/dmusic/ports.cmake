# The synthesiser ports (one per SoundFont found) and the DirectMusic object that
# lists and activates them.
add_library(platform_dmusic_ports STATIC
  ${CMAKE_CURRENT_LIST_DIR}/port_table.cpp
  ${CMAKE_CURRENT_LIST_DIR}/wide_text.cpp)
target_include_directories(platform_dmusic_ports PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(platform_dmusic_ports PUBLIC platform_com platform_core)
