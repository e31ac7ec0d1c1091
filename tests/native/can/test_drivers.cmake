# Stand-in driver libraries for the CAN interface tests, shared by the host build (here)
# and the windows build (tests/win/can). Defines:
#   test_driver_host             the shared library through which the stand-ins reach the
#                                test's handlers (the test executable links it);
#   VELOMAR_TEST_DRIVERS         the stand-in targets, all loaded at run time by file name:
#     test_driver_full, test_driver_other      every one of the eight driver names;
#     test_driver_no_<name>                    one per name, lacking just that one;
#     test_driver_planted                      complete, built into bin/planted/ (not beside
#                                              the tests) to be planted in a current directory;
#   VELOMAR_CAN_TEST_SOURCES     the portable test sources.
set(can_test_dir ${CMAKE_CURRENT_LIST_DIR})

add_library(test_driver_host SHARED ${can_test_dir}/test_driver_host.cpp)
target_include_directories(test_driver_host PUBLIC ${can_test_dir} ${PROJECT_SOURCE_DIR}/can)
target_compile_definitions(test_driver_host PRIVATE TEST_DRIVER_HOST_BUILD)
target_link_libraries(test_driver_host PRIVATE velomar_options)

set(VELOMAR_TEST_DRIVERS)
set(driver_names CAN_Init CAN_Close CAN_Status CAN_Write CAN_Read
                 CAN_VersionInfo CAN_SpecialFunktion CAN_ResetClient)
function(velomar_test_driver variant)
  set(target test_driver_${variant})
  add_library(${target} MODULE ${can_test_dir}/test_driver.cpp)
  set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME ${target})
  target_compile_definitions(${target} PRIVATE TEST_DRIVER_TAG="${variant}" ${ARGN})
  target_link_libraries(${target} PRIVATE test_driver_host velomar_options)
  # Exported under their plain names, as the vendor's library does, less the one omitted.
  set(exported ${driver_names})
  if(ARGN MATCHES "TEST_DRIVER_OMIT=([0-7])")
    list(REMOVE_AT exported ${CMAKE_MATCH_1})
  endif()
  velomar_library_exports(${target} NAMES ${exported})
  set(VELOMAR_TEST_DRIVERS ${VELOMAR_TEST_DRIVERS} ${target} PARENT_SCOPE)
endfunction()

velomar_test_driver(full)
velomar_test_driver(other)
foreach(position RANGE 7)
  list(GET driver_names ${position} name)
  velomar_test_driver(no_${name} TEST_DRIVER_OMIT=${position})
endforeach()
velomar_test_driver(planted)
set_target_properties(test_driver_planted PROPERTIES
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin/planted)

set(VELOMAR_CAN_TEST_SOURCES
  ${can_test_dir}/fake_driver.cpp
  ${can_test_dir}/test_files.cpp
  ${can_test_dir}/driver_test.cpp
  ${can_test_dir}/bus_pump_test.cpp
  ${can_test_dir}/bus_trace_test.cpp
  ${can_test_dir}/bit_rates_test.cpp)

# Settings every CAN test executable needs, with its GoogleTest libraries.
function(velomar_can_test target)
  target_include_directories(${target} PRIVATE ${can_test_dir})
  target_compile_definitions(${target} PRIVATE
    TEST_DRIVER_SUFFIX="${CMAKE_SHARED_MODULE_SUFFIX}")
  target_link_libraries(${target} PRIVATE can test_driver_host velomar_options ${ARGN})
  add_dependencies(${target} ${VELOMAR_TEST_DRIVERS})
endfunction()
