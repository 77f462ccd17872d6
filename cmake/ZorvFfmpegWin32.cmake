# Win32 build: the MPEG-4 decoder comes from Debian's FFmpeg source cross-built by
# scripts/build-ffmpeg-win32.sh (cached). The library compiles against its headers and binds
# avcodec/avutil at run time from "PlayDll\Mp4\"; the DLLs are copied into the test tree there.
if(DEFINED ENV{XDG_CACHE_HOME})
  set(_zorv_ffmpeg_default $ENV{XDG_CACHE_HOME}/zorv/ffmpeg-win32/current)
else()
  set(_zorv_ffmpeg_default $ENV{HOME}/.cache/zorv/ffmpeg-win32/current)
endif()
set(ZORV_FFMPEG_WIN32 ${_zorv_ffmpeg_default} CACHE PATH
  "Install prefix of the cross-built FFmpeg (scripts/build-ffmpeg-win32.sh)")

if(NOT EXISTS ${ZORV_FFMPEG_WIN32}/include/libavcodec/avcodec.h)
  message(STATUS "Cross-building FFmpeg for Win32 (scripts/build-ffmpeg-win32.sh, about a minute)")
  execute_process(COMMAND ${PROJECT_SOURCE_DIR}/scripts/build-ffmpeg-win32.sh
    RESULT_VARIABLE _zorv_ffmpeg_rc OUTPUT_VARIABLE _zorv_ffmpeg_out OUTPUT_STRIP_TRAILING_WHITESPACE)
  string(REGEX REPLACE ".*\n" "" _zorv_ffmpeg_out "${_zorv_ffmpeg_out}")
  if(NOT _zorv_ffmpeg_rc EQUAL 0 OR NOT EXISTS ${_zorv_ffmpeg_out}/include/libavcodec/avcodec.h)
    message(FATAL_ERROR "No Win32 FFmpeg: run scripts/install-deps.sh, then scripts/build-ffmpeg-win32.sh")
  endif()
  set(ZORV_FFMPEG_WIN32 ${_zorv_ffmpeg_out} CACHE PATH "" FORCE)
endif()

file(GLOB _zorv_ffmpeg_dlls ${ZORV_FFMPEG_WIN32}/bin/*.dll)
add_custom_target(zorv_mp4_codec_dlls ALL
  COMMAND ${CMAKE_COMMAND} -E make_directory ${ZORV_TESTROOT}/PlayDll/Mp4
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${_zorv_ffmpeg_dlls} ${ZORV_TESTROOT}/PlayDll/Mp4/
  COMMENT "MPEG-4 decoder DLLs into the test tree's PlayDll/Mp4")
zorv_test_dependency(zorv_mp4_codec_dlls)
