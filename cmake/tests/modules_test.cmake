# Run with cmake -P (OMBREL_SOURCE_DIR, SCRATCH): a listed module whose folder or CMakeLists.txt is missing
# stops the configure with the module's name; a complete list passes.
file(REMOVE_RECURSE ${SCRATCH})
file(WRITE ${SCRATCH}/tree/present/CMakeLists.txt "")
file(WRITE ${SCRATCH}/tree/group/present/CMakeLists.txt "")
file(MAKE_DIRECTORY ${SCRATCH}/tree/nolists)

# name | modules (comma-separated) | expected failing module, or empty for success
set(cases
  "all present|present,group/present|"
  "folder missing|present,absent,group/present|absent"
  "folder without CMakeLists.txt|present,nolists|nolists"
  "nested folder missing|group/absent|group/absent")

set(failures 0)
foreach(case IN LISTS cases)
  string(REPLACE "|" ";" fields "${case}")
  list(GET fields 0 name)
  list(GET fields 1 modules)
  list(LENGTH fields n)
  set(missing "")
  if(n GREATER 2)
    list(GET fields 2 missing)
  endif()
  string(REPLACE "," " " modules "${modules}")
  file(WRITE ${SCRATCH}/check.cmake
    "include(${OMBREL_SOURCE_DIR}/cmake/OmbrelModules.cmake)\nombrel_check_modules(${SCRATCH}/tree ${modules})\n")
  execute_process(COMMAND ${CMAKE_COMMAND} -P ${SCRATCH}/check.cmake RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(missing STREQUAL "")
    if(NOT rc EQUAL 0)
      message(SEND_ERROR "${name}: refused a complete list: ${err}")
      math(EXPR failures "${failures} + 1")
    endif()
  elseif(rc EQUAL 0 OR NOT err MATCHES "Module '${missing}'")
    message(SEND_ERROR "${name}: expected the configure to stop naming '${missing}', got ${rc}: ${err}")
    math(EXPR failures "${failures} + 1")
  endif()
endforeach()
if(failures GREATER 0)
  message(FATAL_ERROR "${failures} case(s) failed")
endif()
