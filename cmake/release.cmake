# The release archive: cmake --build <windows build> --target package gives
# Velomar-<version>-win64.zip (x86_64 build) or Velomar-<version>-win32.zip (i686 build;
# scripts/release makes and checks both) with
#   tovral.exe, tovral.chm, README.md, docs/     the program, its help and the guide
#   velomar.exe                                  the console program (docs/command-line.md;
#                                                --driver sim takes simulated/)
#   eds/                                         the simulated slaves' EDS files, where the
#                                                Object Dictionary window looks first
#   help/en/, help/de/                           the help pages as plain HTML, which the
#                                                program opens in the browser where the
#                                                help viewer cannot show them
#   simulated/pcan_usb.dll, simulated/eds/        the simulated bus, kept out of the
#                                                 program's folder so that on a machine
#                                                 with an adapter the vendor's library
#                                                 beside the program is the one loaded
#   network/pcan_usb.dll, network/netcan.ini     the socketcand network driver
#   serial/pcan_usb.dll, serial/slcan.ini        the driver for serial-line CAN adapters
# Every library in an archive is of the archive's architecture: a process loads only
# libraries of its own width.
install(TARGETS tovral RUNTIME DESTINATION .)
install(TARGETS velomar RUNTIME DESTINATION .)
install(FILES ${CMAKE_BINARY_DIR}/bin/tovral.chm DESTINATION . OPTIONAL)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/simbus/eds/ DESTINATION eds FILES_MATCHING PATTERN "*.eds")
install(DIRECTORY ${CMAKE_BINARY_DIR}/bin/help/ DESTINATION help)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION docs
  FILES_MATCHING PATTERN "*.md" PATTERN "*.png")
install(TARGETS pcan_usb RUNTIME DESTINATION simulated LIBRARY DESTINATION simulated)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/simbus/eds/ DESTINATION simulated/eds)
install(FILES ${PROJECT_SOURCE_DIR}/simbus/README.md DESTINATION simulated)
if(TARGET netcan)
  install(TARGETS netcan LIBRARY DESTINATION network RUNTIME DESTINATION network)
  install(FILES ${PROJECT_SOURCE_DIR}/netcan/netcan.ini DESTINATION network)
endif()
if(TARGET slcan)
  install(TARGETS slcan LIBRARY DESTINATION serial RUNTIME DESTINATION serial)
  install(FILES ${PROJECT_SOURCE_DIR}/slcan/slcan.ini DESTINATION serial)
endif()

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Velomar)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(CPACK_SYSTEM_NAME win32)
else()
  set(CPACK_SYSTEM_NAME win64)
endif()
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/release)
include(CPack)
