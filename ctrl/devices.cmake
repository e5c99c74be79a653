# Devices: hardware-library binding, device registry, device object, DACs, pixel configuration and chip
# configuration files. Included from ctrl/CMakeLists.txt.
target_sources(tvkctrl_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/config_text.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dac_tables.cpp
  ${CMAKE_CURRENT_LIST_DIR}/device.cpp
  ${CMAKE_CURRENT_LIST_DIR}/device_config.cpp
  ${CMAKE_CURRENT_LIST_DIR}/device_dacs.cpp
  ${CMAKE_CURRENT_LIST_DIR}/device_pixels.cpp
  ${CMAKE_CURRENT_LIST_DIR}/device_settings.cpp
  ${CMAKE_CURRENT_LIST_DIR}/hwlib.cpp
  ${CMAKE_CURRENT_LIST_DIR}/registry.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tvk_ctrl_api.cpp)

# The default chip configurations of the app folder; a user's own file is kept.
foreach(cfg default_orig.tcf default_zrn.tcf default_srn.tcf)
  list(APPEND OMBREL_DEFAULT_CONFIG_COMMANDS
       COMMAND ${CMAKE_COMMAND} -DSRC=${CMAKE_CURRENT_LIST_DIR}/configs/${cfg} -DDST=${OMBREL_APP_DIR}/configs/${cfg}
               -P ${CMAKE_SOURCE_DIR}/cmake/copy_if_missing.cmake)
endforeach()
add_custom_target(tvkctrl_default_configs ALL ${OMBREL_DEFAULT_CONFIG_COMMANDS} VERBATIM)

# Test-only hardware libraries, in a hwlibs folder of the build tree (never the app folder). Tests copy them
# into their own scratch module folders.
set(OMBREL_TEST_HWLIBS_DIR ${CMAKE_BINARY_DIR}/tests/hwlibs)
add_library(fakehw MODULE ${CMAKE_CURRENT_LIST_DIR}/tests/fakehw/fakehw.cpp)
add_library(fakehw_noentry MODULE ${CMAKE_CURRENT_LIST_DIR}/tests/fakehw/noentry.cpp)
foreach(lib fakehw fakehw_noentry)
  target_link_libraries(${lib} PRIVATE ombrel_headers ombrel_platform)
  set_target_properties(${lib} PROPERTIES PREFIX "" LIBRARY_OUTPUT_DIRECTORY ${OMBREL_TEST_HWLIBS_DIR})
endforeach()
target_link_libraries(fakehw PRIVATE ombrel_hwkit)

set(OMBREL_DEV_TEST_DEFS
  FAKEHW_PATH="$<TARGET_FILE:fakehw>"
  FAKEHW_NOENTRY_PATH="$<TARGET_FILE:fakehw_noentry>"
  DEV_DATA_DIR="${CMAKE_CURRENT_LIST_DIR}/tests/data/devices"
  SHIPPED_CONFIGS_DIR="${CMAKE_CURRENT_LIST_DIR}/configs")

ombrel_add_test(ctrl_dev_units SOURCES tests/dev_units_test.cpp LIBS tvkctrl_core COMMA_LOCALE)
ombrel_add_test(ctrl_dev_registry SOURCES tests/dev_registry_test.cpp LIBS tvkctrl_core)
ombrel_add_test(ctrl_dev_lock SOURCES tests/dev_lock_test.cpp LIBS tvkctrl_core LABELS concurrency)
ombrel_add_test(ctrl_dev_dacs SOURCES tests/dev_dacs_test.cpp LIBS tvkctrl_core)
ombrel_add_test(ctrl_dev_pixels SOURCES tests/dev_pixels_test.cpp LIBS tvkctrl_core)
ombrel_add_test(ctrl_dev_config SOURCES tests/dev_config_test.cpp LIBS tvkctrl_core COMMA_LOCALE)
ombrel_add_test(ctrl_dev_hostile_files SOURCES tests/dev_hostile_files_test.cpp LIBS tvkctrl_core)
foreach(t ctrl_dev_units ctrl_dev_registry ctrl_dev_lock ctrl_dev_dacs ctrl_dev_pixels ctrl_dev_config
          ctrl_dev_hostile_files)
  target_compile_definitions(${t} PRIVATE ${OMBREL_DEV_TEST_DEFS})
  target_include_directories(${t} PRIVATE ${CMAKE_CURRENT_LIST_DIR}/tests)
  add_dependencies(${t} fakehw fakehw_noentry)
endforeach()

# Fuzz target of the configuration readers (.tcf, .bpc, .dacs, ASCII pixel files) on the fake library;
# its kept inputs are replayed by ctest.
ombrel_add_fuzz(ctrl_config_fuzz SOURCE fuzz/config_load_fuzz.cpp CORPUS fuzz/config_corpus LIBS tvkctrl_core)
foreach(t ctrl_config_fuzz_replay ctrl_config_fuzz)
  if(TARGET ${t})
    target_compile_definitions(${t} PRIVATE FAKEHW_PATH="$<TARGET_FILE:fakehw>")
    add_dependencies(${t} fakehw)
  endif()
endforeach()

# The shared library as clients see it: its dependencies and its exported names.
ombrel_add_test(ctrl_dev_library SOURCES tests/dev_library_test.cpp LIBS ombrel_platform)
target_compile_definitions(ctrl_dev_library PRIVATE TVKCTRL_PATH="$<TARGET_FILE:TvkCtrl>")
add_dependencies(ctrl_dev_library TvkCtrl)
