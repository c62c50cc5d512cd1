# Import libraries that load their DLL on the first call of one of its
# functions instead of at process start (dlltool --output-delaylib), made at
# configure time from the toolchain's own import library: every function it
# exports is listed in a .def file (decorated "Name@bytes" on i686, where -k
# imports the undecorated name).
#
#   prereq_delay_import_lib(<name> <out_var>)  e.g. (wininet WININET_DELAYED)
function(prereq_delay_import_lib name out_var)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=lib${name}.a
                  OUTPUT_VARIABLE import_lib OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT EXISTS "${import_lib}" OR NOT CMAKE_NM OR NOT CMAKE_DLLTOOL)
    message(FATAL_ERROR "cannot make a delay-load library for ${name} (${import_lib})")
  endif()
  execute_process(COMMAND ${CMAKE_NM} ${import_lib} OUTPUT_VARIABLE symbols)
  string(REPLACE "\n" ";" symbols "${symbols}")
  set(exports)
  foreach(line ${symbols})
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      if(line MATCHES "^[0-9a-f]+ T _([A-Za-z0-9_]+@[0-9]+)$")
        list(APPEND exports ${CMAKE_MATCH_1})
      endif()
    elseif(line MATCHES "^[0-9a-f]+ T ([A-Za-z][A-Za-z0-9_]*)$")
      list(APPEND exports ${CMAKE_MATCH_1})
    endif()
  endforeach()
  list(REMOVE_DUPLICATES exports)
  list(LENGTH exports count)
  if(count EQUAL 0)
    message(FATAL_ERROR "no functions found in ${import_lib}")
  endif()
  set(dir ${CMAKE_BINARY_DIR}/delayload)
  file(MAKE_DIRECTORY ${dir})
  string(REPLACE ";" "\n" body "${exports}")
  file(WRITE ${dir}/${name}.def "LIBRARY ${name}.dll\nEXPORTS\n${body}\n")
  set(out ${dir}/lib${name}_delayed.a)
  set(kill_at)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(kill_at -k)
  endif()
  execute_process(COMMAND ${CMAKE_DLLTOOL} ${kill_at} --input-def ${dir}/${name}.def
                          --dllname ${name}.dll --output-delaylib ${out}
                  RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "dlltool failed for ${name}")
  endif()
  set(${out_var} ${out} PARENT_SCOPE)
endfunction()
