# Writes the MinGW import library of ZorvDecoder.dll. The DLL exports plain names (as
# ZorvDecoder.def lists them), while a client compiled with the header refers to stdcall
# functions by their decorated names (_Name@8): the import library maps each decorated name to
# the plain export. The argument sizes are read from the core library's own symbols.
# Arguments: NM, DLLTOOL, CORE (the static core library), DEF, OUT.
execute_process(COMMAND ${NM} -g --defined-only ${CORE} OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${CORE}")
endif()
file(STRINGS ${DEF} lines)
set(in_exports OFF)
set(decorated "LIBRARY ZorvDecoder.dll\nEXPORTS\n")
foreach(line IN LISTS lines)
  string(STRIP "${line}" line)
  if(line STREQUAL "EXPORTS")
    set(in_exports ON)
  elseif(in_exports AND line MATCHES "^([A-Za-z_][A-Za-z0-9_]*)")
    set(name ${CMAKE_MATCH_1})
    if(symbols MATCHES " T _${name}(@[0-9]+)?\n")
      string(APPEND decorated "  ${name}${CMAKE_MATCH_1}\n")
    else()
      message(FATAL_ERROR "export ${name} is not defined in ${CORE}")
    endif()
  endif()
endforeach()
get_filename_component(dir ${OUT} DIRECTORY)
file(WRITE ${dir}/ZorvDecoder.decorated.def "${decorated}")
execute_process(COMMAND ${DLLTOOL} --kill-at --def ${dir}/ZorvDecoder.decorated.def
                        --dllname ZorvDecoder.dll --output-lib ${OUT} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${DLLTOOL} failed")
endif()
