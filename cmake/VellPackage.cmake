# The user's package (cpack, or the `package` target): one ZIP with the three plug-ins,
# both outside libraries, their licences and a note on where each file goes. Made from
# the win32 preset, the shipped build.
if(NOT WIN32)
  return()
endif()
set(plugin_dir plugins)
set(library_dir libraries)
foreach(t vell_aud vell_vqf vell_wma)
  if(TARGET ${t})
    install(TARGETS ${t} RUNTIME DESTINATION ${plugin_dir} LIBRARY DESTINATION ${plugin_dir})
  endif()
endforeach()
foreach(t tvqenc wmasdk)
  if(TARGET ${t})
    install(TARGETS ${t} RUNTIME DESTINATION ${library_dir} LIBRARY DESTINATION ${library_dir})
  endif()
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/packaging/INSTALL.txt DESTINATION .)
install(FILES ${CMAKE_SOURCE_DIR}/LICENSE ${CMAKE_SOURCE_DIR}/twinvq/COPYING.LGPL-2.1 DESTINATION licenses)
install(FILES ${CMAKE_SOURCE_DIR}/twinvq/LICENSE-TABLES.md DESTINATION licenses RENAME TWINVQ-TABLES.md)
if(VELL_WMASDK_FFMPEG_LICENSES)
  install(FILES ${VELL_WMASDK_FFMPEG_LICENSES}/LICENSE.md DESTINATION licenses RENAME FFMPEG-LICENSE.md)
endif()
# winpthreads' notices (linked statically by the toolchain) and where the LGPL parts'
# sources are, made from the build machine's copyright file and FFmpeg's build note.
if(VELL_WIN32)
  set(mingw_dev_copyright /usr/share/doc/mingw-w64-i686-dev/copyright)
else()
  set(mingw_dev_copyright /usr/share/doc/mingw-w64-x86-64-dev/copyright)
endif()
if(Python3_FOUND AND EXISTS ${mingw_dev_copyright} AND EXISTS "${VELL_WMASDK_FFMPEG_BUILD_NOTE}")
  execute_process(COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/packaging/make_notices.py
    --copyright ${mingw_dev_copyright} --ffmpeg-build-note ${VELL_WMASDK_FFMPEG_BUILD_NOTE}
    --out ${CMAKE_BINARY_DIR}/notices RESULT_VARIABLE notices_result)
  if(notices_result EQUAL 0)
    install(FILES ${CMAKE_BINARY_DIR}/notices/WINPTHREADS.txt ${CMAKE_BINARY_DIR}/notices/SOURCES.txt
            DESTINATION licenses)
  endif()
endif()

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME vell-plugins)
set(CPACK_PACKAGE_VERSION 1.0)
if(VELL_WIN32)
  set(CPACK_SYSTEM_NAME win32)
else()
  set(CPACK_SYSTEM_NAME win64)
endif()
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)

# The package holds what the note names.
if(VELL_WIN32 AND Python3_FOUND)
  add_test(NAME package_contents
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/packaging/check_package.py
            --cmake ${CMAKE_COMMAND} --build-dir ${CMAKE_BINARY_DIR})
  # It builds the package, as the installation test does: one at a time.
  set_tests_properties(package_contents PROPERTIES RESOURCE_LOCK vell_package)
endif()
