# Test helpers shared by every module.
find_package(GTest REQUIRED)
find_package(Threads REQUIRED)

# Shared test entry point: takes the user's locale from the environment, so that the runs under a
# comma-decimal locale exercise locale-independent number handling.
add_library(ombrel_test_main STATIC ${CMAKE_SOURCE_DIR}/cmake/test_main.cpp)
target_link_libraries(ombrel_test_main PUBLIC GTest::gtest GTest::gmock Threads::Threads)
target_include_directories(ombrel_test_main PUBLIC ${CMAKE_SOURCE_DIR}/cmake/test_support)
# Test programs carry no debug information in the everyday build: it takes a third of their compile time,
# and a failing test is looked into in the Debug (sanitizer) builds, which keep it.
target_compile_options(ombrel_test_main INTERFACE $<$<CONFIG:RelWithDebInfo>:-g0>)

# ombrel_add_table_plugin(target outdir function)
# The plug-in of cmake/test_support/table_plugin.cpp, built as <outdir>/<target>.so, handing out the manager's
# function table through the exported `function`.
function(ombrel_add_table_plugin target outdir function)
  add_library(${target} MODULE ${CMAKE_SOURCE_DIR}/cmake/test_support/table_plugin.cpp)
  target_link_libraries(${target} PRIVATE ombrel_headers)
  target_compile_definitions(${target} PRIVATE OMBREL_TABLE_FUNCTION=${function})
  set_target_properties(${target} PROPERTIES PREFIX "" LIBRARY_OUTPUT_DIRECTORY ${outdir})
endfunction()

# ombrel_add_test(name SOURCES ... [LIBS ...] [LABELS ...] [COMMA_LOCALE])
# One test program, run by CTest; COMMA_LOCALE runs it a second time under de_DE.UTF-8.
# The label "concurrency" marks tests that also run under ThreadSanitizer.
function(ombrel_add_test name)
  cmake_parse_arguments(T "COMMA_LOCALE" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ombrel_test_main ombrel_headers ${T_LIBS})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests
                                           BUILD_RPATH "${OMBREL_APP_DIR}")
  set_property(GLOBAL APPEND PROPERTY OMBREL_TEST_PROGRAMS ${name})
  if("concurrency" IN_LIST T_LABELS)
    set_property(GLOBAL APPEND PROPERTY OMBREL_CONCURRENCY_PROGRAMS ${name})
  endif()
  add_test(NAME ${name} COMMAND ${name} WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR})
  set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}" TIMEOUT 300
                       ENVIRONMENT "LC_ALL=C.UTF-8;OMBREL_TEST_TMP=${CMAKE_BINARY_DIR}/testtmp")
  if(T_COMMA_LOCALE)
    add_test(NAME ${name}_de_DE COMMAND ${name} WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR})
    set_tests_properties(${name}_de_DE PROPERTIES LABELS "${T_LABELS}" TIMEOUT 300
                         ENVIRONMENT "LC_ALL=de_DE.UTF-8;OMBREL_TEST_TMP=${CMAKE_BINARY_DIR}/testtmp")
  endif()
endfunction()

# ombrel_add_bench(name SOURCES ... [LIBS ...]): a Google Benchmark program in build/bench.
function(ombrel_add_bench name)
  cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
  find_package(benchmark REQUIRED)
  add_executable(${name} ${B_SOURCES})
  target_link_libraries(${name} PRIVATE benchmark::benchmark ombrel_headers ${B_LIBS})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench
                                           BUILD_RPATH "${OMBREL_APP_DIR}")
endfunction()

# ombrel_add_fuzz(name SOURCE entry.cpp CORPUS folder [LIBS ...] [INSTRUMENT target...]): the test
# <name>_replay runs every kept input of the corpus folder through the entry with the ordinary compiler.
# With OMBREL_FUZZ=ON and clang, build/fuzz/<name> is the libFuzzer program; the INSTRUMENT targets get
# the coverage instrumentation that guides it. Such a build: cmake -DCMAKE_CXX_COMPILER=clang++
# -DCMAKE_C_COMPILER=clang -DOMBREL_FUZZ=ON -DOMBREL_SANITIZE=address -DOMBREL_GUI=OFF, then run e.g.
# build/fuzz/ctrl_frame_fuzz ctrl/fuzz/corpus.
option(OMBREL_FUZZ "Build the libFuzzer targets (needs clang)" OFF)
function(ombrel_add_fuzz name)
  cmake_parse_arguments(F "" "SOURCE;CORPUS" "LIBS;INSTRUMENT" ${ARGN})
  ombrel_add_test(${name}_replay SOURCES ${F_SOURCE} ${CMAKE_SOURCE_DIR}/cmake/test_support/fuzz_replay_test.cpp
                  LIBS ${F_LIBS})
  target_compile_definitions(${name}_replay PRIVATE FUZZ_CORPUS_DIR="${CMAKE_CURRENT_SOURCE_DIR}/${F_CORPUS}")
  if(OMBREL_FUZZ AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    foreach(t ${F_INSTRUMENT})
      target_compile_options(${t} PRIVATE -fsanitize=fuzzer-no-link)
    endforeach()
    add_executable(${name} ${F_SOURCE})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${name} PRIVATE ombrel_headers ${F_LIBS})
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/cmake/test_support)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz
                                             BUILD_RPATH "${OMBREL_APP_DIR}")
  endif()
endfunction()

# ombrel_add_concurrency_target(): the target "concurrency_tests" builds what the tests labelled
# "concurrency" need (their programs and every library, plug-in and program that is not another test),
# so that the ThreadSanitizer build compiles no test it does not run. Call it after every subdirectory.
function(ombrel_collect_targets dir out)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(sub IN LISTS subdirs)
    ombrel_collect_targets(${sub} more)
    list(APPEND targets ${more})
  endforeach()
  set(${out} ${targets} PARENT_SCOPE)
endfunction()

function(ombrel_add_concurrency_target)
  get_property(tests GLOBAL PROPERTY OMBREL_TEST_PROGRAMS)
  get_property(wanted GLOBAL PROPERTY OMBREL_CONCURRENCY_PROGRAMS)
  ombrel_collect_targets(${CMAKE_SOURCE_DIR} targets)
  add_custom_target(concurrency_tests)
  foreach(t IN LISTS targets)
    get_target_property(type ${t} TYPE)
    get_target_property(excluded ${t} EXCLUDE_FROM_ALL)
    if(type STREQUAL "UTILITY" OR type STREQUAL "INTERFACE_LIBRARY" OR excluded)
      continue()
    endif()
    if(t IN_LIST tests AND NOT t IN_LIST wanted)
      continue()
    endif()
    add_dependencies(concurrency_tests ${t})
  endforeach()
endfunction()
