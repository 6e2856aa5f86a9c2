add_executable(zelk ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
target_link_libraries(zelk PRIVATE zelk_ui)
