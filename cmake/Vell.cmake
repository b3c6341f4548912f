# Build conventions shared by every folder: output places, GoogleTest, test registration,
# plug-in targets and the checks of the built Windows modules.

if(WIN32)
  # Everything a Windows preset makes lands in build/<preset>/bin, so that a plug-in
  # finds the stand-in libraries beside the host and the test programs.
  set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
  set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
  # Programs and libraries must run with nothing beside them but the system's DLLs.
  string(APPEND CMAKE_EXE_LINKER_FLAGS " -static")
  string(APPEND CMAKE_SHARED_LINKER_FLAGS " -static -Wl,--enable-stdcall-fixup")
  if(VELL_RUN_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/scripts/winerun.sh)
  endif()
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(VELL_WIN32 ON)
  endif()
else()
  if(VELL_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
  endif()
endif()

add_compile_options(-Wall -Wextra)

# GoogleTest from Debian's sources, built with this preset's compiler.
set(VELL_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
if(WIN32)
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
endif()
add_subdirectory(${VELL_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

# vell_add_gtest(NAME <name> SOURCES <files...> [LIBS <libs...>] [ARGS <args...>] [WINE_ONLY])
# A GoogleTest program. Natively it is run by CTest; in win64 it is run under wine64;
# in win32 it is only built (the few programs that run under wine32 are in tests/win32).
function(vell_add_gtest)
  cmake_parse_arguments(T "WINE_ONLY;NATIVE_ONLY" "NAME" "SOURCES;LIBS;ARGS" ${ARGN})
  if(T_WINE_ONLY AND NOT WIN32)
    return()
  endif()
  if(T_NATIVE_ONLY AND WIN32)
    return()
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest_main)
  if(NOT WIN32 OR VELL_RUN_WINE)
    if(WIN32)
      set(dir ${CMAKE_BINARY_DIR}/bin)
    else()
      set(dir ${CMAKE_CURRENT_BINARY_DIR})
    endif()
    add_test(NAME ${T_NAME} COMMAND ${T_NAME} ${T_ARGS} WORKING_DIRECTORY ${dir})
  endif()
endfunction()

# vell_plugin(<target> DEF <file.def> SOURCES <files...>)
# A filter plug-in: a DLL named <target>.flt exporting exactly what the .def lists.
function(vell_plugin target)
  cmake_parse_arguments(P "" "DEF" "SOURCES" ${ARGN})
  add_library(${target} SHARED ${P_SOURCES} ${P_DEF})
  set_target_properties(${target} PROPERTIES PREFIX "" SUFFIX ".flt")
  target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR}/contract)
endfunction()

# vell_no_runtime(<target> ENTRY <DllMain-name> LIBS <system libs...>)
# Builds a DLL without the C and C++ runtime libraries: it imports only from the
# system DLLs named in LIBS. The code must provide whatever the compiler calls itself.
function(vell_no_runtime target)
  cmake_parse_arguments(N "" "ENTRY" "LIBS" ${ARGN})
  target_compile_options(${target} PRIVATE
    -fno-exceptions -fno-rtti -fno-stack-protector -fno-asynchronous-unwind-tables
    -fno-builtin -ffreestanding -mno-stack-arg-probe)
  if(VELL_WIN32)
    set(entry _${N_ENTRY}@12)
  else()
    set(entry ${N_ENTRY})
  endif()
  target_link_options(${target} PRIVATE -nostdlib -nodefaultlibs -Wl,-e,${entry})
  target_link_libraries(${target} PRIVATE ${N_LIBS} gcc)
endfunction()

# vell_wine_test(NAME <name> COMMAND <target or program> [args...] [DISPLAY])
# A test that runs a Windows program under wine64 (win64 preset only).
function(vell_wine_test)
  cmake_parse_arguments(W "" "NAME" "COMMAND" ${ARGN})
  if(VELL_RUN_WINE)
    add_test(NAME ${W_NAME} COMMAND ${W_COMMAND} WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
  endif()
endfunction()

# vell_pe_check(NAME <name> MODULE <target> ARGS <pe_check.py arguments...>)
# Reads a built Windows module's export and import tables with objdump (both Windows presets).
find_package(Python3 COMPONENTS Interpreter)
function(vell_pe_check)
  cmake_parse_arguments(C "" "NAME;MODULE" "ARGS" ${ARGN})
  if(WIN32 AND Python3_FOUND)
    add_test(NAME ${C_NAME}
      COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/pe_check.py
              --objdump ${VELL_OBJDUMP} $<TARGET_FILE:${C_MODULE}> ${C_ARGS})
  endif()
endfunction()
