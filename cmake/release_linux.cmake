# The Linux archive: cmake --build <native build> --target package gives
# Velomar-<version>-linux-<machine>.tar.gz (scripts/release makes and checks it) with
#   velomar, pcan_usb.so          the console program and, beside it as its default, the
#                                 simulated bus (there is no vendor's library to give way to)
#   eds/                          the simulated slaves' EDS files, where dict and dcf save look
#   serial/pcan_usb.so, slcan.ini    the driver for serial-line CAN adapters (--driver serial:PORT)
#   network/pcan_usb.so, netcan.ini  the socketcand network driver (--driver socketcand:HOST:PORT)
#   README.md, docs/              the guide, the command line's page among it
install(TARGETS velomar RUNTIME DESTINATION .)
install(TARGETS pcan_usb LIBRARY DESTINATION .)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/simbus/eds/ DESTINATION eds FILES_MATCHING PATTERN "*.eds")
install(TARGETS slcan LIBRARY DESTINATION serial)
install(FILES ${PROJECT_SOURCE_DIR}/slcan/slcan.ini DESTINATION serial)
install(TARGETS netcan LIBRARY DESTINATION network)
install(FILES ${PROJECT_SOURCE_DIR}/netcan/netcan.ini DESTINATION network)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION docs FILES_MATCHING PATTERN "*.md"
  PATTERN "help" EXCLUDE)

set(CPACK_GENERATOR TGZ)
set(CPACK_PACKAGE_NAME Velomar)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_SYSTEM_NAME linux-${CMAKE_SYSTEM_PROCESSOR})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/release)
include(CPack)
