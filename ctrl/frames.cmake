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
# The kept inputs of the fuzz target, replayed with the ordinary compiler.
ombrel_add_test(ctrl_frame_fuzz_replay SOURCES fuzz/frame_load_fuzz.cpp tests/frame_fuzz_replay_test.cpp
                LIBS tvkctrl_core)

# libFuzzer target (clang only): cmake -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang
#   -DOMBREL_FUZZ=ON -DOMBREL_SANITIZE=address -DOMBREL_GUI=OFF, then run build/fuzz/frame_load_fuzz
#   ctrl/fuzz/corpus.
option(OMBREL_FUZZ "Build the libFuzzer targets (needs clang)" OFF)
if(OMBREL_FUZZ AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  target_compile_options(tvkctrl_core PRIVATE -fsanitize=fuzzer-no-link)
  add_executable(frame_load_fuzz ${CMAKE_CURRENT_LIST_DIR}/fuzz/frame_load_fuzz.cpp)
  target_compile_options(frame_load_fuzz PRIVATE -fsanitize=fuzzer)
  target_link_options(frame_load_fuzz PRIVATE -fsanitize=fuzzer)
  target_link_libraries(frame_load_fuzz PRIVATE tvkctrl_core)
  set_target_properties(frame_load_fuzz PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
endif()
