# kelo_delay_load(<program> "<dll>|<function>[@<argument bytes>]|..." ...)
#
# The loader resolves a program's static imports before any code runs and,
# for a DLL that is not one of the system's known DLLs, searches the
# program's own folder first. Such DLLs are delay-loaded instead: the
# program's DLL guard (common/DllGuard.h) loads each by its full path at
# first call. Each entry names the DLL as the program imports it and the
# functions the program calls (stdcall ones with their argument bytes, which
# count only on i686).

if(NOT CMAKE_DLLTOOL)
  find_program(CMAKE_DLLTOOL ${KELO_MINGW_TRIPLE}-dlltool REQUIRED)
endif()

function(kelo_delay_load target)
  set(delay_dir ${CMAKE_CURRENT_BINARY_DIR}/delayimp_${target})
  file(MAKE_DIRECTORY ${delay_dir})
  set(delay_libs)
  foreach(entry ${ARGN})
    string(REPLACE "|" ";" parts "${entry}")
    list(GET parts 0 dll)
    list(REMOVE_AT parts 0)
    string(TOLOWER ${dll} lower)
    get_filename_component(base ${lower} NAME_WE)
    set(def_text "LIBRARY ${dll}\nEXPORTS\n")
    foreach(fn ${parts})
      if(CMAKE_SIZEOF_VOID_P EQUAL 8)
        # No stdcall decoration on x86_64.
        string(REGEX REPLACE "@[0-9]+$" "" fn ${fn})
      endif()
      string(APPEND def_text "${fn}\n")
    endforeach()
    set(def ${delay_dir}/${base}.def)
    set(lib ${delay_dir}/lib${base}_delay.a)
    file(WRITE ${def}.in "${def_text}")
    configure_file(${def}.in ${def} COPYONLY)
    add_custom_command(OUTPUT ${lib}
      COMMAND ${CMAKE_DLLTOOL} -k --dllname ${dll} --def ${def} --output-delaylib ${lib}
      DEPENDS ${def} VERBATIM)
    list(APPEND delay_libs ${lib})
  endforeach()
  add_custom_target(${target}_delayimp DEPENDS ${delay_libs})
  add_dependencies(${target} ${target}_delayimp)
  # After the foundation on the link line, so that its references bind to the
  # delay-load thunks instead of the import libraries.
  target_link_libraries(${target} PRIVATE kelo_common ${delay_libs})
endfunction()
