# Interface handlers: link queries and recovery, the connection handler base
# and the Ethernet handler.
add_library(tarv_handlers
  ${CMAKE_CURRENT_LIST_DIR}/tarvnetlink.cpp
  ${CMAKE_CURRENT_LIST_DIR}/netlinklinkhandle.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tarverrorhandler.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tarvconnectionhandlerbase.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tarvethhandler.cpp)
target_include_directories(tarv_handlers PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(tarv_handlers PUBLIC PkgConfig::LIBNL tarv_messages tarv_log tarv_rootdir tarv_ipc tarv_worker
                                           tarv_sysfiles tarv_diagnostics)
