# The Debian package orvel-tools: orvelctl and orvel-sim, a manual page and a bash completion for
# each (written from their own --help by scripts/make-docs.py when they are built), the README and
# the JSON document. `cpack -G DEB` in the build folder makes orvel-tools_<version>_amd64.deb.
find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(ORVEL_DOCS_SCRIPT ${PROJECT_SOURCE_DIR}/scripts/make-docs.py)
set(ORVEL_DOCS_DIR ${PROJECT_BINARY_DIR}/docs)
set(ORVEL_DOCS)
foreach(program orvelctl orvel-sim)
  if(program STREQUAL "orvelctl")
    set(summary "service tool for the device: versions, configuration, programs, updates")
  else()
    set(summary "simulated devices on loopback addresses, for trying the service tool")
  endif()
  add_custom_command(
    OUTPUT ${ORVEL_DOCS_DIR}/${program}.1.gz ${ORVEL_DOCS_DIR}/completions/${program}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${ORVEL_DOCS_DIR}/completions
    COMMAND Python3::Interpreter ${ORVEL_DOCS_SCRIPT} man $<TARGET_FILE:${program}> ${program}
      ${summary} ${PROJECT_VERSION} ${ORVEL_DOCS_DIR}/${program}.1
    COMMAND gzip -9 -n -f ${ORVEL_DOCS_DIR}/${program}.1
    COMMAND Python3::Interpreter ${ORVEL_DOCS_SCRIPT} completion $<TARGET_FILE:${program}>
      ${program} ${ORVEL_DOCS_DIR}/completions/${program}
    DEPENDS ${program} ${ORVEL_DOCS_SCRIPT}
    COMMENT "Manual page and completion of ${program}"
    VERBATIM)
  list(APPEND ORVEL_DOCS ${ORVEL_DOCS_DIR}/${program}.1.gz ${ORVEL_DOCS_DIR}/completions/${program})
  install(FILES ${ORVEL_DOCS_DIR}/${program}.1.gz DESTINATION share/man/man1)
  install(FILES ${ORVEL_DOCS_DIR}/completions/${program}
    DESTINATION share/bash-completion/completions)
endforeach()
add_custom_target(orvel_docs ALL DEPENDS ${ORVEL_DOCS})

# The package takes only what it installs: cpack builds nothing else (the benchmark, the tests).
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
install(TARGETS orvelctl orvel-sim RUNTIME DESTINATION bin)
install(FILES README.md docs/json.md DESTINATION share/doc/orvel-tools)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvel-tools)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "OrvelTools <tools@orvel.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Service tool for the device, and a simulated device")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
include(CPack)
