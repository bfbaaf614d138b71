# Install rules and the Debian package.
#
# Layout with the default prefix /usr (DESTDIR is honoured):
#   /usr/sbin/tarv, /usr/bin/tarvctl, /usr/bin/tarv-modemsim (the modem simulator)
#   /etc/iipc.json           default IPC configuration, never replaced
#   /etc/config/             configuration sources
#   /etc/init.d/tarv         sysvinit-style start-up script
#   /usr/lib/systemd/system/tarv.service
# The daemon reads <root>etc/..., so a station wants /etc: with another
# prefix GNUInstallDirs puts these under <prefix>/etc (/usr and / map to /etc).

if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX /usr CACHE PATH "Install prefix" FORCE)
endif()
include(GNUInstallDirs)

set(TARV_SYSTEMD_UNIT_DIR "${CMAKE_INSTALL_PREFIX}/lib/systemd/system" CACHE PATH
    "Where the systemd unit is installed")
set(TARV_PIDFILE /run/tarv.pid CACHE STRING "Pid file the init script keeps")

set(_etc ${CMAKE_INSTALL_FULL_SYSCONFDIR})
set(_pkg ${CMAKE_SOURCE_DIR}/packaging)
set(_gen ${CMAKE_BINARY_DIR}/packaging)

install(TARGETS tarv RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR})
install(TARGETS tarvctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS tarv-modemsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

set(TARV_DAEMON ${CMAKE_INSTALL_FULL_SBINDIR}/tarv)
set(TARV_DEFAULTS ${_etc}/default/tarv)
configure_file(${_pkg}/tarv.init.in ${_gen}/tarv.init @ONLY)
configure_file(${_pkg}/tarv.service.in ${_gen}/tarv.service @ONLY)
install(PROGRAMS ${_gen}/tarv.init DESTINATION ${_etc}/init.d RENAME tarv)
install(FILES ${_gen}/tarv.service DESTINATION ${TARV_SYSTEMD_UNIT_DIR})
install(DIRECTORY DESTINATION ${_etc}/config)

# The IPC configuration is the station's own once installed: an existing
# file is kept as it is. file(INSTALL) adds DESTDIR itself.
install(CODE "
  set(_dst \"\$ENV{DESTDIR}${_etc}/iipc.json\")
  if(EXISTS \"\${_dst}\")
    message(STATUS \"Keeping: \${_dst}\")
  else()
    file(INSTALL DESTINATION \"${_etc}\" TYPE FILE FILES \"${_pkg}/iipc.json\")
  endif()
")

# Debian package: `cpack -G DEB` in the build directory (make package).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarv)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Network manager daemon of the charging station")
set(CPACK_PACKAGE_CONTACT "tarv maintainers <tarv@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
# Absolute destinations (/etc) go through DESTDIR into the package.
set(CPACK_SET_DESTDIR ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
file(WRITE ${_gen}/conffiles "${_etc}/iipc.json\n${_etc}/init.d/tarv\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${_gen}/conffiles ${_pkg}/debian/postinst ${_pkg}/debian/prerm ${_pkg}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
