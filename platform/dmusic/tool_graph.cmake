# The performance's tool graph: which tools see a performance message, in order.
add_library(platform_dmusic_graph STATIC ${CMAKE_CURRENT_LIST_DIR}/tool_graph.cpp)
target_link_libraries(platform_dmusic_graph PUBLIC platform_com)
