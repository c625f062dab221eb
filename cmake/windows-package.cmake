# The Windows downloads, built on Linux (make windows-package):
#   quorbit-<version>-win64.zip        quorbit.exe, README.txt, examples\*.ini
#   quorbit-<version>-win64-setup.exe  the same, installed to Program Files by
#                                      an NSIS installer with a Start-menu
#                                      entry and an uninstaller
# Text files get CR LF line ends on the way.

set(QUORBIT_PACKAGE_NAME quorbit-${PROJECT_VERSION}-win64)
set(QUORBIT_STAGE ${CMAKE_BINARY_DIR}/package/${QUORBIT_PACKAGE_NAME})
set(QUORBIT_ZIP ${CMAKE_BINARY_DIR}/${QUORBIT_PACKAGE_NAME}.zip)
set(QUORBIT_SETUP ${CMAKE_BINARY_DIR}/${QUORBIT_PACKAGE_NAME}-setup.exe)
set(QUORBIT_NSIS_SCRIPT ${CMAKE_SOURCE_DIR}/installer/quorbit.nsi)
find_program(QUORBIT_MAKENSIS makensis)

file(GLOB QUORBIT_WINDOWS_EXAMPLES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/examples/ini/*.ini)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(stage_commands
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${QUORBIT_STAGE}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${QUORBIT_STAGE}/examples
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:quorbit> ${QUORBIT_STAGE}/quorbit.exe
  COMMAND ${CMAKE_COMMAND} -DIN=${CMAKE_SOURCE_DIR}/README.md -DOUT=${QUORBIT_STAGE}/README.txt
          -P ${CMAKE_SOURCE_DIR}/cmake/crlf.cmake)
foreach(example ${QUORBIT_WINDOWS_EXAMPLES})
  get_filename_component(name ${example} NAME)
  list(APPEND stage_commands
    COMMAND ${CMAKE_COMMAND} -DIN=${example} -DOUT=${QUORBIT_STAGE}/examples/${name}
            -P ${CMAKE_SOURCE_DIR}/cmake/crlf.cmake)
endforeach()

add_custom_command(
  OUTPUT ${QUORBIT_ZIP}
  ${stage_commands}
  COMMAND ${CMAKE_COMMAND} -E rm -f ${QUORBIT_ZIP}
  COMMAND ${CMAKE_COMMAND} -E tar cf ${QUORBIT_ZIP} --format=zip ${QUORBIT_PACKAGE_NAME}
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/package
  DEPENDS quorbit ${CMAKE_SOURCE_DIR}/README.md ${QUORBIT_WINDOWS_EXAMPLES}
          ${CMAKE_SOURCE_DIR}/cmake/crlf.cmake
  COMMENT "Packing ${QUORBIT_PACKAGE_NAME}.zip"
  VERBATIM)

if(QUORBIT_MAKENSIS)
  add_custom_command(
    OUTPUT ${QUORBIT_SETUP}
    COMMAND ${QUORBIT_MAKENSIS} -V2 -DVERSION=${PROJECT_VERSION} -DSTAGE=${QUORBIT_STAGE}
            -DOUTFILE=${QUORBIT_SETUP} ${QUORBIT_NSIS_SCRIPT}
    DEPENDS ${QUORBIT_ZIP} ${QUORBIT_NSIS_SCRIPT}
    COMMENT "Making the installer ${QUORBIT_PACKAGE_NAME}-setup.exe"
    VERBATIM)
  add_custom_target(windows-package DEPENDS ${QUORBIT_ZIP} ${QUORBIT_SETUP})
else()
  add_custom_target(windows-package
    DEPENDS ${QUORBIT_ZIP}
    COMMAND ${CMAKE_COMMAND} -E echo "makensis (Debian package nsis) is missing: no installer made"
    COMMAND ${CMAKE_COMMAND} -E false)
endif()
