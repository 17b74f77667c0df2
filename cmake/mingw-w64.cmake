# Cross compiling for 64-bit Windows with Debian's MinGW-w64 (the posix thread
# model, which Qt 6 needs for std::thread and friends).
#
# Used twice: scripts/qt-windows.sh builds Qt with a copy of this file, and the
# "windows" preset builds Lookout with it. For Lookout it also finds that Qt:
# LOOKOUT_QT_WIN (a cache or environment variable) names its prefix; by default
# the newest complete one in ${XDG_CACHE_HOME:-~/.cache}/lookout/.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(triplet x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triplet}-g++-posix)
set(CMAKE_RC_COMPILER ${triplet}-windres)
set(CMAKE_AR ${triplet}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${triplet}-ranlib CACHE FILEPATH "")
set(CMAKE_STRIP ${triplet}-strip CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

if(NOT LOOKOUT_QT_WIN AND DEFINED ENV{LOOKOUT_QT_WIN})
    set(LOOKOUT_QT_WIN "$ENV{LOOKOUT_QT_WIN}")
endif()
if(NOT LOOKOUT_QT_WIN AND NOT LOOKOUT_BUILDING_QT)
    if(DEFINED ENV{XDG_CACHE_HOME} AND NOT "$ENV{XDG_CACHE_HOME}" STREQUAL "")
        set(cache "$ENV{XDG_CACHE_HOME}")
    else()
        set(cache "$ENV{HOME}/.cache")
    endif()
    file(GLOB stamps "${cache}/lookout/qt-*-win64/.complete")
    list(SORT stamps COMPARE NATURAL ORDER DESCENDING)
    if(stamps)
        list(GET stamps 0 stamp)
        get_filename_component(LOOKOUT_QT_WIN "${stamp}" DIRECTORY)
    endif()
endif()
if(LOOKOUT_QT_WIN)
    set(LOOKOUT_QT_WIN "${LOOKOUT_QT_WIN}" CACHE PATH "Prefix of the static Qt for Windows")
    # The cross-built Qt's packages live under its prefix; its tools (moc,
    # rcc, uic) are the host Qt's, of the same version.
    list(APPEND CMAKE_FIND_ROOT_PATH "${LOOKOUT_QT_WIN}")
    list(APPEND CMAKE_PREFIX_PATH "${LOOKOUT_QT_WIN}")
    set(QT_HOST_PATH /usr CACHE PATH "")
    execute_process(COMMAND gcc -print-multiarch OUTPUT_VARIABLE multiarch OUTPUT_STRIP_TRAILING_WHITESPACE)
    set(QT_HOST_PATH_CMAKE_DIR /usr/lib/${multiarch}/cmake CACHE PATH "")
    # Debian's Qt 6.8 makes its packages leave their plugins out unless told
    # otherwise, and a static program gets its platform plugin only from them.
    set(QT_SKIP_AUTO_PLUGIN_INCLUSION OFF CACHE BOOL "")
endif()
