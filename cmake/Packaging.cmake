# Debian packages, one per component:
#   ipc-soak   the program alone, with its manual page and a systemd unit
#              of one soak per camera (ipc-soak@.service, with the script
#              that runs its soaks back to back). On a camera the
#              client library is the vendor's, so this package neither ships
#              nor depends on it.
#   kovra-sim  the stand-in client library, its simulated camera, the camera
#              daemon kovra-camd (with a systemd unit listening on loopback,
#              one of a camera per instance, and a manual page), the
#              kovra-sim-info tool, the kovra-sim(7) page of the directives
#              and the headers, for machines without a camera.
#   kovra-trace the trace layer, which observes any client library, with
#              kovra-stats to read what it writes: for a camera as much as
#              for a machine with the stand-in.
# Build with `cmake --build --preset <preset> --target package`; a cross
# build packages for its own architecture.

# The stand-in's libraries go to a folder of their own, never beside the
# system's libraries: on a camera a libkovra-core.so in /usr/lib would replace
# the vendor's. Point the program at them with
# LD_LIBRARY_PATH=/usr/lib/kovra-sim.
set(IPC_SOAK_SIM_LIBDIR lib/kovra-sim)

set_target_properties(kovra-core kovra-interfaces kovra-sim PROPERTIES INSTALL_RPATH "$ORIGIN")
install(TARGETS kovra-core kovra-interfaces kovra-sim
        LIBRARY DESTINATION ${IPC_SOAK_SIM_LIBDIR} COMPONENT sim
        NAMELINK_COMPONENT sim)
install(TARGETS kovra-sim-info kovra-camd RUNTIME DESTINATION bin COMPONENT sim)
# A folder of its own too: the layer is only ever preloaded by name.
install(TARGETS kovra-trace LIBRARY DESTINATION lib/kovra-trace COMPONENT trace
        NAMELINK_COMPONENT trace)
install(TARGETS kovra-stats RUNTIME DESTINATION bin COMPONENT trace)
install(FILES ${PROJECT_SOURCE_DIR}/kovra_sim/daemon/kovra-camd.service
              ${PROJECT_SOURCE_DIR}/deploy/systemd/kovra-camd@.service
        DESTINATION lib/systemd/system COMPONENT sim)
install(FILES ${PROJECT_SOURCE_DIR}/deploy/systemd/ipc-soak@.service
        DESTINATION lib/systemd/system COMPONENT program)
# What the unit runs: soaks back to back, each with the next seed, until its
# deadline.
install(PROGRAMS ${PROJECT_SOURCE_DIR}/deploy/systemd/soak-runs
        DESTINATION lib/ipc-soak COMPONENT program)
# A fleet's instances read /etc/kovra-camd/NAME.conf and /etc/ipc-soak/NAME.conf,
# copied from these.
install(FILES ${PROJECT_SOURCE_DIR}/deploy/systemd/kovra-camd.conf.example
        DESTINATION share/doc/kovra-sim/examples COMPONENT sim)
# Starting a camera and waiting until it listens, for the scripts that run
# one (the fleet's pods among them).
install(FILES ${PROJECT_SOURCE_DIR}/scripts/lib/camera.sh DESTINATION share/kovra-sim COMPONENT sim)
install(FILES ${PROJECT_SOURCE_DIR}/deploy/systemd/ipc-soak.conf.example
        DESTINATION share/doc/ipc-soak/examples COMPONENT program)

# Manual pages go in gzipped, as Debian has them.
function(ipc_soak_man_page page component)
  set(gz ${CMAKE_BINARY_DIR}/man/${page}.gz)
  string(REGEX REPLACE ".*\\.([0-9])$" "\\1" section ${page})
  add_custom_command(OUTPUT ${gz}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/docs/man/${page} > ${gz}
    DEPENDS ${PROJECT_SOURCE_DIR}/docs/man/${page} VERBATIM)
  add_custom_target(man_${page} ALL DEPENDS ${gz})
  install(FILES ${gz} DESTINATION share/man/man${section} COMPONENT ${component})
endfunction()
ipc_soak_man_page(ipc_soak.1 program)
ipc_soak_man_page(kovra-camd.1 sim)
ipc_soak_man_page(kovra-sim-info.1 sim)
ipc_soak_man_page(kovra-sim.7 sim)
ipc_soak_man_page(kovra-trace.7 trace)
ipc_soak_man_page(kovra-stats.1 trace)
install(FILES ${PROJECT_SOURCE_DIR}/kovra_sim/include/kovra_sim/control.h
        DESTINATION include/kovra_sim COMPONENT sim)
# The client library's declarations, kept under the stand-in's folder so that
# they cannot clash with the vendor's own headers.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/kovra DESTINATION include/kovra_sim COMPONENT sim)

if(CMAKE_CROSSCOMPILING)
  # dpkg's name for the target; the host's dpkg would name the build machine.
  if(CMAKE_LIBRARY_ARCHITECTURE STREQUAL "arm-linux-gnueabihf")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE armhf)
  else()
    message(FATAL_ERROR "No Debian architecture known for ${CMAKE_LIBRARY_ARCHITECTURE}")
  endif()
else()
  execute_process(COMMAND dpkg --print-architecture
                  OUTPUT_VARIABLE CPACK_DEBIAN_PACKAGE_ARCHITECTURE
                  OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
endif()

# What Debian wants of every package beside its files: the copyright in the
# machine-readable format, the Debian changelog (one for the three, as one
# source makes them), maintainer scripts for the systemd units, and the
# lintian overrides, each with the reason it is justified.
set(_ipc_soak_debian ${PROJECT_SOURCE_DIR}/cmake/debian)
# The packaging's own revision: the changelog's newest entry must be this
# release, so that a version bump cannot ship last release's changelog.
set(IPC_SOAK_DEBIAN_REVISION 1)
file(STRINGS ${_ipc_soak_debian}/changelog _ipc_soak_changelog_top LIMIT_COUNT 1)
string(REGEX REPLACE "^[^ ]+ \\(([^)]+)\\).*" "\\1" _ipc_soak_changelog_version
       "${_ipc_soak_changelog_top}")
if(NOT _ipc_soak_changelog_version STREQUAL "${PROJECT_VERSION}-${IPC_SOAK_DEBIAN_REVISION}")
  message(FATAL_ERROR "cmake/debian/changelog is at ${_ipc_soak_changelog_version}, the packages "
                      "at ${PROJECT_VERSION}-${IPC_SOAK_DEBIAN_REVISION}: add an entry")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_ipc_soak_debian}/changelog)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/debian/changelog.Debian.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/debian
  COMMAND gzip -9n -c ${_ipc_soak_debian}/changelog > ${CMAKE_BINARY_DIR}/debian/changelog.Debian.gz
  DEPENDS ${_ipc_soak_debian}/changelog VERBATIM)
add_custom_target(debian_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/debian/changelog.Debian.gz)
foreach(pair program:ipc-soak sim:kovra-sim trace:kovra-trace)
  string(REPLACE ":" ";" pair ${pair})
  list(GET pair 0 component)
  list(GET pair 1 package)
  install(FILES ${_ipc_soak_debian}/copyright ${CMAKE_BINARY_DIR}/debian/changelog.Debian.gz
          DESTINATION share/doc/${package} COMPONENT ${component})
  if(EXISTS ${_ipc_soak_debian}/${package}/lintian-overrides)
    install(FILES ${_ipc_soak_debian}/${package}/lintian-overrides
            DESTINATION share/lintian/overrides RENAME ${package} COMPONENT ${component})
  endif()
  string(TOUPPER ${component} upper)
  set(CPACK_DEBIAN_${upper}_PACKAGE_CONTROL_EXTRA)
  foreach(script postinst prerm postrm)
    if(EXISTS ${_ipc_soak_debian}/${package}/${script})
      list(APPEND CPACK_DEBIAN_${upper}_PACKAGE_CONTROL_EXTRA ${_ipc_soak_debian}/${package}/${script})
    endif()
  endforeach()
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ipc-soak)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${IPC_SOAK_DEBIAN_REVISION})
# Who answers for the packages, as the changelog's entries sign them.
set(IPC_SOAK_MAINTAINER "ipc_soak maintainers <ipc-soak@example.com>")
set(CPACK_PACKAGE_CONTACT "${IPC_SOAK_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${IPC_SOAK_MAINTAINER}")
# Maintainer scripts 0755 and everything else of the control area 0644, as
# dpkg-deb wants them whatever the checkout's modes.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL program sim trace)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# dpkg-shlibdeps cannot read a cross build's libraries without an armhf dpkg
# database, so both architectures name their dependencies here, as
# dpkg-shlibdeps names them for the native build; scripts/check-packages.sh
# fails if a library a program needs is left out. The floors are Debian 12's,
# which every build of ours is made against.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
set(_ipc_soak_runtime "libc6 (>= 2.34), libgcc-s1 (>= 3.0), libstdc++6 (>= 12)")
set(_ipc_soak_options "libboost-program-options1.74.0 (>= 1.74.0+ds1)")
set(_ipc_soak_zlib "zlib1g (>= 1:1.2.0)")
# Only the description's first line is the summary: CPack would put the
# project's description in front of every package's.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")

set(CPACK_DEBIAN_PROGRAM_PACKAGE_NAME ipc-soak)
set(CPACK_DEBIAN_PROGRAM_PACKAGE_SECTION misc)
# Boost.System is header-only since 1.69: only Boost.Thread is linked. The
# client library is the camera's own or the stand-in's: suggested, never
# depended on.
set(CPACK_DEBIAN_PROGRAM_PACKAGE_DEPENDS "libboost-thread1.74.0 (>= 1.74.0+ds1), ${_ipc_soak_runtime}")
set(CPACK_DEBIAN_PROGRAM_PACKAGE_SUGGESTS "kovra-sim, kovra-trace")
set(CPACK_DEBIAN_PROGRAM_DESCRIPTION
    "load generator for a network camera's service API
ipc_soak fires a reproducible, seeded stream of service requests at a
network camera from several threads at once, counts per command how many
passed, counts the targets that announced a restart while the load ran,
and prints a report at the end.
.
It talks to the camera only through the camera's client library
(libkovra-core.so, libkovra-interfaces.so), which it expects to find
installed: the vendor's on a camera, or the kovra-sim stand-in elsewhere.
The package also holds ipc-soak@.service, a soak per camera run back to
back for a set time.")

set(CPACK_DEBIAN_SIM_PACKAGE_NAME kovra-sim)
set(CPACK_DEBIAN_SIM_PACKAGE_SECTION devel)
set(_ipc_soak_sim_depends "${_ipc_soak_options}, ${_ipc_soak_runtime}, ${_ipc_soak_zlib}")
if(KOVRA_CAMD_NOTIFIES)
  string(APPEND _ipc_soak_sim_depends ", libsystemd0")
endif()
set(CPACK_DEBIAN_SIM_PACKAGE_DEPENDS "${_ipc_soak_sim_depends}")
set(CPACK_DEBIAN_SIM_PACKAGE_SUGGESTS "ipc-soak, kovra-trace")
set(CPACK_DEBIAN_SIM_DESCRIPTION
    "stand-in for a network camera's client library, with a simulated camera
libkovra-core and libkovra-interfaces answer a camera client's requests
from a simulated camera: one inside the program, controlled through
libkovra-sim and the KOVRA_SIM variable, or the kovra-camd daemon over
TCP, which can also make the network misbehave. kovra-sim-info lists the
library's functions and checks directives.
.
The libraries live in /usr/lib/kovra-sim so that they never replace a
camera's own library; point a program at them with
LD_LIBRARY_PATH=/usr/lib/kovra-sim.")

set(CPACK_DEBIAN_TRACE_PACKAGE_NAME kovra-trace)
set(CPACK_DEBIAN_TRACE_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_TRACE_PACKAGE_DEPENDS
    "${_ipc_soak_options}, ${_ipc_soak_runtime}, ${_ipc_soak_zlib}, libjs-dygraphs")
# kovra-stats --plot runs gnuplot; --html inlines Debian's dygraphs.
set(CPACK_DEBIAN_TRACE_PACKAGE_SUGGESTS "gnuplot")
set(CPACK_DEBIAN_TRACE_DESCRIPTION
    "trace layer for a network camera's client library, with kovra-stats
libkovra-trace, preloaded in front of any camera client library (the
camera's own or the kovra-sim stand-in), forwards every call and, as
KOVRA_TRACE asks, records per-function latency and statuses, a journal of
every call and a timeline of the run, paces the requests, or injects
faults.
.
kovra-stats reads, plots, merges, follows and checks against thresholds
what the layer, the stand-in and kovra-camd write, and draws it as one
HTML page that needs no network.")

include(CPack)
