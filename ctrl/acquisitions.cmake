# Acquisitions: the acquisition engine, the frames of the last acquisition and the super-matrix
# conversions. Included from ctrl/CMakeLists.txt.
target_sources(tvkctrl_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/acq_engine.cpp
  ${CMAKE_CURRENT_LIST_DIR}/last_frames.cpp
  ${CMAKE_CURRENT_LIST_DIR}/super_matrix.cpp)
# The digital test leaves alone the pixel bits that the chips' matrix stream cannot carry.
target_link_libraries(tvkctrl_core PRIVATE ombrel_codec)

# The exported names of libTvkCtrl.so against the list kept in exports.txt.
ombrel_add_test(ctrl_exports SOURCES tests/exports_test.cpp)
target_compile_definitions(ctrl_exports PRIVATE TVKCTRL_PATH="$<TARGET_FILE:TvkCtrl>"
                           EXPORTS_LIST="${CMAKE_CURRENT_LIST_DIR}/exports.txt")
add_dependencies(ctrl_exports TvkCtrl)

# End to end on the simulated detector: tests copy tvkHwDummy.so into scratch module folders.
ombrel_add_test(ctrl_e2e_dummy SOURCES tests/e2e_dummy_test.cpp LIBS tvkctrl_core LABELS concurrency)
target_compile_definitions(ctrl_e2e_dummy PRIVATE HWDUMMY_PATH="$<TARGET_FILE:tvkHwDummy>")
add_dependencies(ctrl_e2e_dummy tvkHwDummy)

# Tests on the fake hardware library of the device tests.
ombrel_add_test(ctrl_acq_super_matrix SOURCES tests/acq_super_matrix_test.cpp LIBS tvkctrl_core)
ombrel_add_test(ctrl_acq_engine SOURCES tests/acq_engine_test.cpp LIBS tvkctrl_core COMMA_LOCALE)
ombrel_add_test(ctrl_acq_concurrency SOURCES tests/acq_concurrency_test.cpp LIBS tvkctrl_core LABELS concurrency)
ombrel_add_test(ctrl_acq_blocked_save SOURCES tests/acq_blocked_save_test.cpp LIBS tvkctrl_core)
foreach(t ctrl_acq_engine ctrl_acq_concurrency ctrl_acq_blocked_save)
  target_compile_definitions(${t} PRIVATE ${OMBREL_DEV_TEST_DEFS})
  target_include_directories(${t} PRIVATE ${CMAKE_CURRENT_LIST_DIR}/tests)
  add_dependencies(${t} fakehw fakehw_noentry)
endforeach()
