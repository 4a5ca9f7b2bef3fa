# Where `cmake --install` puts things, in the usual places under the prefix:
#
#   sbin/       snmpsvc, NET, ntroot, mibsetup (NET must stay beside snmpsvc:
#               `snmpsvc install` links the root's System32/NET to it)
#   bin/        agentwalk
#   lib/snmpsvc/
#               libntplatform.so and the masters of ETHSTAT.DLL and HOSTDEV.DLL,
#               the folder mibsetup is started from (it copies the DLLs from
#               its current folder). A package's private folder: the same
#               under every prefix and architecture, so that the path an
#               administrator types is always /usr/lib/snmpsvc
#   share/snmpsvc/mibs/   our MIB modules (`snmpsvc install` finds them from
#               its own folder, as ../share/snmpsvc/mibs)
#   share/man/  the manual pages
#   lib/systemd/system/snmpsvc.service
#
# Every program and library finds libntplatform.so relative to its own file
# ($ORIGIN), so the tree works under any prefix and in the build tree alike.
include(GNUInstallDirs)

set(SNMPSVC_PRIVATE_LIBDIR lib/snmpsvc)
set(SNMPSVC_SYSTEMD_UNITDIR lib/systemd/system CACHE STRING
    "Where the systemd unit goes (relative to the prefix, or absolute)")

# The way from a program's folder to the private folder, worked out on
# relative folders so that it holds for any prefix given at install time.
function(snmpsvc_origin_path out from)
  file(RELATIVE_PATH relative /prefix/${from} /prefix/${SNMPSVC_PRIVATE_LIBDIR})
  set(${out} "$ORIGIN/${relative}" PARENT_SCOPE)
endfunction()
snmpsvc_origin_path(SBIN_RPATH ${CMAKE_INSTALL_SBINDIR})
snmpsvc_origin_path(BIN_RPATH ${CMAKE_INSTALL_BINDIR})

set(SNMPSVC_SBIN_PROGRAMS snmpsvc net_program ntroot mibsetup)
foreach(program ${SNMPSVC_SBIN_PROGRAMS})
  set_target_properties(${program} PROPERTIES BUILD_RPATH "$ORIGIN" INSTALL_RPATH "${SBIN_RPATH}")
endforeach()
install(TARGETS ${SNMPSVC_SBIN_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR})

set_target_properties(agentwalk PROPERTIES INSTALL_RPATH "${BIN_RPATH}")
install(TARGETS agentwalk RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The libraries sit together: each finds the platform library beside itself.
set_target_properties(ntplatform ethstat hostdev PROPERTIES INSTALL_RPATH "$ORIGIN")
install(TARGETS ntplatform ethstat hostdev
        LIBRARY DESTINATION ${SNMPSVC_PRIVATE_LIBDIR}
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

file(GLOB SNMPSVC_INSTALL_MIBS ${PROJECT_SOURCE_DIR}/mibs/*.txt)
install(FILES ${SNMPSVC_INSTALL_MIBS} DESTINATION ${CMAKE_INSTALL_DATADIR}/snmpsvc/mibs)
install(FILES ${PROJECT_SOURCE_DIR}/service/snmpsvc.service
        DESTINATION ${SNMPSVC_SYSTEMD_UNITDIR})
