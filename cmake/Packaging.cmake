# Debian packages, one per component:
#   ipc-soak   the program alone, with its manual page and a systemd unit
#              of one soak per camera (ipc-soak@.service, with the script
#              that runs its soaks back to back). On a camera the
#              client library is the vendor's, so this package neither ships
#              nor depends on it.
#   kovra-sim  the stand-in client library, its simulated camera, the camera
#              daemon kovra-camd (with a systemd unit listening on loopback,
#              one of a camera per instance, and a manual page), the kovra-sim-info tool and headers, for
#              machines without a camera.
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
set_target_properties(kovra-sim-info PROPERTIES INSTALL_RPATH "$ORIGIN/../${IPC_SOAK_SIM_LIBDIR}")
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

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ipc-soak)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "ipc_soak developers")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL program sim trace)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# dpkg-shlibdeps cannot read a cross build's libraries without an armhf dpkg
# database, so both architectures name their dependencies here. The floors
# are Debian 12's, which every build of ours is made against.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
set(_ipc_soak_runtime "libc6 (>= 2.34), libgcc-s1 (>= 3.5), libstdc++6 (>= 12)")

set(CPACK_DEBIAN_PROGRAM_PACKAGE_NAME ipc-soak)
set(CPACK_DEBIAN_PROGRAM_PACKAGE_SECTION misc)
# Boost.System is header-only since 1.69: only Boost.Thread is linked.
set(CPACK_DEBIAN_PROGRAM_PACKAGE_DEPENDS "libboost-thread1.74.0, ${_ipc_soak_runtime}")
set(CPACK_COMPONENT_PROGRAM_DESCRIPTION
    "Load generator for a network camera's service API
Runs threads of random requests against the camera's client library,
which it expects to find installed: the vendor's on a camera, or the
kovra-sim stand-in elsewhere.")

set(CPACK_DEBIAN_SIM_PACKAGE_NAME kovra-sim)
set(CPACK_DEBIAN_SIM_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_SIM_PACKAGE_DEPENDS "libboost-program-options1.74.0, ${_ipc_soak_runtime}")
set(CPACK_COMPONENT_SIM_DESCRIPTION
    "Stand-in for the camera's client library, with a simulated camera
libkovra-core and libkovra-interfaces answer requests from an in-process
simulated camera controlled through libkovra-sim, or from the kovra-camd
daemon over TCP. The libraries live in /usr/lib/kovra-sim so they never
replace a camera's own library.")

set(CPACK_DEBIAN_TRACE_PACKAGE_NAME kovra-trace)
set(CPACK_DEBIAN_TRACE_PACKAGE_SECTION devel)
# kovra-stats --html inlines Debian's dygraphs into the pages it writes.
set(CPACK_DEBIAN_TRACE_PACKAGE_DEPENDS
    "libboost-program-options1.74.0, libjs-dygraphs, ${_ipc_soak_runtime}")
set(CPACK_COMPONENT_TRACE_DESCRIPTION
    "Trace layer for the camera's client library, and a reader of its files
libkovra-trace, preloaded in front of any client library (the camera's own
or the kovra-sim stand-in), forwards every call and, as KOVRA_TRACE asks,
records per-function latency and statuses, a journal of every call, and a
timeline of the run, or injects faults. kovra-stats reads, plots, merges
and checks what it writes.")

include(CPack)
