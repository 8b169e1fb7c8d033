# The synthesiser ports (one per SoundFont found) and the DirectMusic object that
# lists and activates them.
add_library(platform_dmusic_ports STATIC
  ${CMAKE_CURRENT_LIST_DIR}/port_table.cpp
  ${CMAKE_CURRENT_LIST_DIR}/direct_music.cpp)
target_include_directories(platform_dmusic_ports PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(platform_dmusic_ports PUBLIC platform_com platform_core)

# Every built-in class of the music engine, entered in the class table at once.
add_library(platform_dmusic_classes STATIC ${CMAKE_CURRENT_LIST_DIR}/engine_classes.cpp)
target_link_libraries(platform_dmusic_classes PUBLIC platform_core PRIVATE platform_dmusic_ports platform_dmusic)
