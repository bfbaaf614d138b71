# Configuration keys and system services: file utilities, command runner,
# interface names, value validation, /etc/network/interfaces, resolver files,
# host name.
add_library(tarv_sysfiles
  ${CMAKE_CURRENT_LIST_DIR}/tarvfileutilities.cpp
  ${CMAKE_CURRENT_LIST_DIR}/runcommand.cpp
  ${CMAKE_CURRENT_LIST_DIR}/utility.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tarvvalidation.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tarvinterfacesfileeditor.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tarvdnsmanager.cpp
  ${CMAKE_CURRENT_LIST_DIR}/hostnamemanager.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tarvconfig.cpp)
target_include_directories(tarv_sysfiles PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(tarv_sysfiles PUBLIC tarv_log tarv_rootdir tarv_messages tarv_toolbox tarv_config PkgConfig::JSONCPP)
