# Shared build settings and helpers for every folder of the tree.

# Folder names to leave out of the build (for a developer whose tree holds unfinished work).
set(KEM_SKIP_DIRS "" CACHE STRING "Sub-folder names that kem_add_children leaves out")

# Adds each immediate sub-folder of DIR that holds a CMakeLists.txt, in name order.
function(kem_add_children dir)
  file(GLOB children LIST_DIRECTORIES true RELATIVE ${dir} ${dir}/*)
  list(SORT children)
  foreach(child IN LISTS children)
    if(child IN_LIST KEM_SKIP_DIRS)
      continue()
    endif()
    if(IS_DIRECTORY ${dir}/${child} AND EXISTS ${dir}/${child}/CMakeLists.txt)
      add_subdirectory(${dir}/${child})
    endif()
  endforeach()
endfunction()

# Warnings and sanitizers for our own targets.
function(kem_target_defaults target)
  if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-unused-parameter)
  endif()
  if(KEM_SANITIZE AND NOT KEM_WIN32)
    target_compile_options(${target} PRIVATE -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
  endif()
endfunction()

if(KEM_SANITIZE AND NOT KEM_WIN32)
  # Libraries must be instrumented the same way as the executables that link them.
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

if(KEM_WIN32)
  # Everything links statically against the compiler runtimes: the engine needs
  # nothing but system DLLs and kem.lib.
  add_link_options(-static -static-libgcc -static-libstdc++)
  add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
  # The engine and kem.lib are downloaded by web installers: the release build optimizes
  # for size (hot decoding code sets its own level per source file), with a section per
  # function and data object for kem_size_optimize to drop when unused.
  add_compile_options($<$<CONFIG:Release>:-Os> -ffunction-sections -fdata-sections)
endif()

# Link options for a shipped Windows binary (kemstub.exe, kem.lib): drops the sections that
# nothing refers to and strips the symbols (data is appended after the last section). The
# linker keeps every unwind entry and so every function that has one: what gets dropped is
# unused data and the unused parts of C libraries built without unwind tables (libgcrypt).
# An uncaught exception ends the program through abort() at once: the runtime's default
# handler first prints the exception's demangled type to a console that neither a GUI
# program nor a DLL has, and brings a name demangler of about 50 KB along. (i686 symbol
# names carry a leading underscore.)
function(kem_size_optimize target)
  if(KEM_WIN32)
    set(u _)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
      set(u)  # 64-bit names carry none
    endif()
    target_link_options(${target} PRIVATE -Wl,--gc-sections -s
      -Wl,--defsym,${u}_ZN9__gnu_cxx27__verbose_terminate_handlerEv=${u}abort)
  endif()
endfunction()

# GoogleTest: Debian's package natively; for MinGW built from the sources Debian
# installs under /usr/src/googletest.
if(KEM_TESTS)
  if(KEM_WIN32)
    if(NOT TARGET gtest)
      set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
      set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
      set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
      add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    endif()
  else()
    find_package(GTest REQUIRED)
  endif()
  include(KemTests)
endif()
