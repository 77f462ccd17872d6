# zorv_standin(<target> FILE <file name> DIR <dir below the test root> SOURCES ... [DEFINES ...] [DEF <.def file>])
# Builds a stand-in vendor library under its Windows file name (also on Linux, where it is an
# ELF object named e.g. HikPlayM4.dll) into the test tree, so the library finds it exactly
# where a client installation has it.
function(zorv_standin target)
  cmake_parse_arguments(S "" "FILE;DIR;DEF;ROOT" "SOURCES;DEFINES;LIBS" ${ARGN})
  if(NOT S_ROOT)
    set(S_ROOT ${ZORV_TESTROOT})
  endif()
  add_library(${target} SHARED ${S_SOURCES})
  target_link_libraries(${target} PRIVATE zorv_standin_kit ${S_LIBS})
  target_compile_definitions(${target} PRIVATE ${S_DEFINES})
  zorv_test_dependency(${target})
  set_target_properties(${target} PROPERTIES
    PREFIX "" SUFFIX "" OUTPUT_NAME "${S_FILE}"
    LIBRARY_OUTPUT_DIRECTORY "${S_ROOT}/${S_DIR}"
    RUNTIME_OUTPUT_DIRECTORY "${S_ROOT}/${S_DIR}"
    # Win32 import libraries per target: variants share the vendor file name.
    ARCHIVE_OUTPUT_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}/implib/${target}")
  if(ZORV_WIN32)
    if(S_DEF)
      target_sources(${target} PRIVATE ${S_DEF})
    else()
      target_link_options(${target} PRIVATE -Wl,--kill-at)
    endif()
  endif()
endfunction()

# Targets the test suites need built first (stand-ins, sample streams).
function(zorv_test_dependency target)
  set_property(GLOBAL APPEND PROPERTY ZORV_TEST_DEPENDENCIES ${target})
endfunction()
