# Install rules and the Debian package.
#
# Layout with the default prefix /usr (DESTDIR is honoured):
#   /usr/sbin/tarv, /usr/bin/tarvctl
#   /etc/iipc.json           default IPC configuration, never replaced
#   /etc/config/             configuration sources
#   /etc/default/tarv        options of the init script and the unit
#   /etc/init.d/tarv         sysvinit-style start-up script
#   /etc/insserv.conf.d/tarv tarv provides $network
#   /usr/lib/systemd/system/tarv.service
#   /usr/share/man/man8/tarv.8.gz, /usr/share/man/man1/tarvctl.1.gz
#   /usr/share/bash-completion/completions/tarvctl
#   /usr/share/doc/tarv/     copyright, changelog, examples/ (the station-side scripts)
# Only the daemon and tarvctl are installed: the modem simulator and the
# station peers are development tools. The daemon reads <root>etc/..., so a
# station wants /etc: with another prefix GNUInstallDirs puts these under
# <prefix>/etc (/usr and / map to /etc).

if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX /usr CACHE PATH "Install prefix" FORCE)
endif()
include(GNUInstallDirs)

set(TARV_SYSTEMD_UNIT_DIR "${CMAKE_INSTALL_PREFIX}/lib/systemd/system" CACHE PATH
    "Where the systemd unit is installed")
set(TARV_PIDFILE /run/tarv.pid CACHE STRING "Pid file the init script keeps")
set(TARV_MAINTAINER "tarv maintainers <maintainers@tarv.invalid>" CACHE STRING
    "Maintainer field of the Debian package")

set(_etc ${CMAKE_INSTALL_FULL_SYSCONFDIR})
set(_pkg ${CMAKE_SOURCE_DIR}/packaging)
set(_gen ${CMAKE_BINARY_DIR}/packaging)
set(_doc ${CMAKE_INSTALL_FULL_DATAROOTDIR}/doc/tarv)

install(TARGETS tarv RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR})
install(TARGETS tarvctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

set(TARV_DAEMON ${CMAKE_INSTALL_FULL_SBINDIR}/tarv)
set(TARV_DEFAULTS ${_etc}/default/tarv)
configure_file(${_pkg}/tarv.init.in ${_gen}/tarv.init @ONLY)
configure_file(${_pkg}/tarv.service.in ${_gen}/tarv.service @ONLY)
install(PROGRAMS ${_gen}/tarv.init DESTINATION ${_etc}/init.d RENAME tarv)
install(FILES ${_gen}/tarv.service DESTINATION ${TARV_SYSTEMD_UNIT_DIR})
install(FILES ${_pkg}/tarv.default DESTINATION ${_etc}/default RENAME tarv)
install(FILES ${_pkg}/tarv.insserv DESTINATION ${_etc}/insserv.conf.d RENAME tarv)
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

# The manual pages and the bash completion. tarvctl's verbs, options and
# exit codes come from the list its help text is compiled from.
set(_def ${CMAKE_SOURCE_DIR}/tools/tarvctl/tarvctlcommands.def)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_def})
file(STRINGS ${_def} _entries REGEX "^TARVCTL_")
set(TARVCTL_MAN_OPTIONS "")
set(TARVCTL_MAN_VERBS "")
set(TARVCTL_MAN_EXITS "")
set(TARVCTL_VERBS "")
set(TARVCTL_OPTIONS "-h")
set(_q "\"([^\"]*)\"")
foreach(_entry IN LISTS _entries)
  if(_entry MATCHES "^TARVCTL_OPTION\\(${_q}, ${_q}, ${_q}\\)$")
    string(REPLACE "-" "\\-" _spelling "${CMAKE_MATCH_1}")
    set(_arg "")
    if(CMAKE_MATCH_2)
      set(_arg " \\fI${CMAKE_MATCH_2}\\fR")
    endif()
    string(APPEND TARVCTL_MAN_OPTIONS ".TP\n.B ${_spelling}${_arg}\n${CMAKE_MATCH_3}\n")
    string(APPEND TARVCTL_OPTIONS " ${CMAKE_MATCH_1}")
  elseif(_entry MATCHES "^TARVCTL_VERB\\(${_q}, [A-Za-z]+, ${_q}, [0-9]+, [0-9]+, ${_q}\\)$")
    string(REPLACE "-" "\\-" _name "${CMAKE_MATCH_1}")
    string(REPLACE "-" "\\-" _arg "${CMAKE_MATCH_2}")
    string(APPEND TARVCTL_MAN_VERBS ".TP\n\\fB${_name}\\fR \\fI${_arg}\\fR\n${CMAKE_MATCH_3}\n")
    string(APPEND TARVCTL_VERBS " ${CMAKE_MATCH_1}")
  elseif(_entry MATCHES "^TARVCTL_EXIT\\(([0-9]+), ${_q}\\)$")
    string(APPEND TARVCTL_MAN_EXITS ".TP\n.B ${CMAKE_MATCH_1}\n${CMAKE_MATCH_2}\n")
  else()
    message(FATAL_ERROR "${_def}: an entry the manual page cannot read: ${_entry}")
  endif()
endforeach()
string(STRIP "${TARVCTL_VERBS}" TARVCTL_VERBS)
configure_file(${_pkg}/man/tarvctl.1.in ${_gen}/tarvctl.1 @ONLY)
configure_file(${_pkg}/man/tarv.8.in ${_gen}/tarv.8 @ONLY)
configure_file(${_pkg}/completion/tarvctl.bash.in ${_gen}/tarvctl.bash @ONLY)
configure_file(${_pkg}/debian/changelog ${_gen}/changelog COPYONLY)
# Debian wants these compressed, reproducibly (no name, no time stamp).
foreach(_file tarvctl.1 tarv.8 changelog)
  execute_process(COMMAND gzip -9n -c ${_gen}/${_file} OUTPUT_FILE ${_gen}/${_file}.gz COMMAND_ERROR_IS_FATAL ANY)
endforeach()
install(FILES ${_gen}/tarvctl.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${_gen}/tarv.8.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)
install(FILES ${_gen}/tarvctl.bash DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions
        RENAME tarvctl)
install(FILES ${_pkg}/debian/copyright ${_gen}/changelog.gz DESTINATION ${_doc})
# The station-side scripts the daemon runs, as the simulated station has
# them; README's "Shipping" says where an image puts them.
install(FILES ${CMAKE_SOURCE_DIR}/sim/station/udhcpc.script ${CMAKE_SOURCE_DIR}/sim/station/setresolv.sh
              ${CMAKE_SOURCE_DIR}/sim/station/link-up ${CMAKE_SOURCE_DIR}/sim/station/ntpd-update-status.sh
        DESTINATION ${_doc}/examples)

# Debian package: `cpack -G DEB` in the build directory (make package).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarv)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "network manager daemon of the charging station")
# The summary comes first; cpack indents these lines below it.
set(CPACK_PACKAGE_DESCRIPTION "tarv owns the station's network interfaces (Ethernet, the WLAN station
link, the commissioning access point, the LTE modem and the powerline
modem), writes the system network files, runs ntpd and serves the
station's other processes over Unix sockets. tarvctl drives and inspects
it from a shell.")
set(CPACK_PACKAGE_CONTACT "${TARV_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
# Absolute destinations (/etc) go through DESTDIR into the package.
set(CPACK_SET_DESTDIR ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The shared libraries' packages are added to these by dpkg-shlibdeps: the
# programs the daemon runs. ifupdown, the DHCP client, ip and ifconfig,
# killall are needed on every station; the others serve interfaces a
# station may lack (WLAN, the access point, time from the network).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "ifupdown, iproute2, net-tools, psmisc, udhcpc | busybox")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "wpasupplicant, hostapd, dnsmasq, iw, busybox")
set(CPACK_STRIP_FILES ON)
file(WRITE ${_gen}/conffiles
     "${_etc}/default/tarv\n${_etc}/iipc.json\n${_etc}/init.d/tarv\n${_etc}/insserv.conf.d/tarv\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${_gen}/conffiles ${_pkg}/debian/postinst ${_pkg}/debian/prerm ${_pkg}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
