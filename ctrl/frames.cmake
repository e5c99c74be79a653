# Frames: the frame object TvkFrameInfo, frame files and description files.
target_sources(tvkctrl_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/tvk_frame_info.cpp
  ${CMAKE_CURRENT_LIST_DIR}/frame_data_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/frame_dsc_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/frame_file.cpp)

ombrel_add_test(ctrl_frame_object SOURCES tests/frame_object_test.cpp LIBS tvkctrl_core)
ombrel_add_test(ctrl_frame_files SOURCES tests/frame_file_test.cpp LIBS tvkctrl_core COMMA_LOCALE)
ombrel_add_test(ctrl_frame_hostile SOURCES tests/frame_hostile_test.cpp LIBS tvkctrl_core)
ombrel_add_test(ctrl_frame_save_kill SOURCES tests/frame_save_kill_test.cpp LIBS tvkctrl_core)
ombrel_add_test(ctrl_frame_concurrency SOURCES tests/frame_concurrency_test.cpp LIBS tvkctrl_core
                LABELS concurrency)
# Links only the shared library: proves that the class is exported.
ombrel_add_test(ctrl_frame_export SOURCES tests/frame_export_test.cpp LIBS TvkCtrl)
target_include_directories(ctrl_frame_export PRIVATE ${CMAKE_SOURCE_DIR})
# Fuzz target of frame loading (description and data files); its kept inputs are replayed by ctest.
ombrel_add_fuzz(ctrl_frame_fuzz SOURCE fuzz/frame_load_fuzz.cpp CORPUS fuzz/corpus LIBS tvkctrl_core
                INSTRUMENT tvkctrl_core)
