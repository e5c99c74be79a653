# ombrel_check_modules(root dir...): every listed module folder under root must hold a CMakeLists.txt. A
# missing one stops the configure with its name, so that a module's code and tests never drop out of the
# build unnoticed (a lost folder used to leave a smaller build that still passed).
function(ombrel_check_modules root)
  foreach(dir IN LISTS ARGN)
    if(NOT EXISTS ${root}/${dir}/CMakeLists.txt)
      message(FATAL_ERROR "Module '${dir}' is listed in the build, but ${root}/${dir}/CMakeLists.txt does not exist.")
    endif()
  endforeach()
endfunction()
