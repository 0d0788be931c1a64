# Cross-compiles the Windows receiver on Linux with MinGW-w64 (x86-64, posix threads: the
# win32-thread flavour of GCC 12 lacks std::thread and std::mutex).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLET}-windres)

# The static OpenSSL and qrcodegen built by scripts/build_windows_deps.sh. The script passes the
# exact prefix; a hand-run configure falls back to the link it keeps to its latest build.
if(NOT QUILLMARK_WINDOWS_DEPS)
    if(DEFINED ENV{XDG_CACHE_HOME} AND NOT "$ENV{XDG_CACHE_HOME}" STREQUAL "")
        set(_cache_home "$ENV{XDG_CACHE_HOME}")
    else()
        set(_cache_home "$ENV{HOME}/.cache")
    endif()
    set(QUILLMARK_WINDOWS_DEPS "${_cache_home}/quillmark/windows-deps/current")
endif()
set(QUILLMARK_WINDOWS_DEPS "${QUILLMARK_WINDOWS_DEPS}" CACHE PATH
    "Prefix of the MinGW-w64 builds of OpenSSL and qrcodegen")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUILLMARK_WINDOWS_DEPS)

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLET} ${QUILLMARK_WINDOWS_DEPS})
set(OPENSSL_ROOT_DIR ${QUILLMARK_WINDOWS_DEPS})
set(OPENSSL_USE_STATIC_LIBS ON)

# Headers and libraries come only from the target's roots; programs run on the build machine.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
