# Fails when an object file of the engine refers to an allocation function: the engine
# works on static storage only. REQUIRED names sources whose objects must be among those
# checked, so that a source that leaves the engine's list is noticed rather than skipped.
foreach(name IN LISTS REQUIRED)
  if(NOT OBJECTS MATCHES "/${name}\\.cpp\\.o")
    message(FATAL_ERROR "the engine's objects lack ${name}: ${OBJECTS}")
  endif()
endforeach()
foreach(object IN LISTS OBJECTS)
  execute_process(COMMAND ${NM} -C -u ${object} OUTPUT_VARIABLE undefined RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "nm failed on ${object}")
  endif()
  # One symbol a line ("U malloc", "U operator new(unsigned long)"); sanitizer hooks
  # such as __asan_stack_free_5 are not allocation.
  if(undefined MATCHES "U (operator new|operator delete|malloc|calloc|realloc|free)[(\n]")
    message(FATAL_ERROR "${object} refers to an allocation function:\n${undefined}")
  endif()
endforeach()
list(LENGTH OBJECTS count)
message(STATUS "${count} engine objects, no allocation function referenced")
