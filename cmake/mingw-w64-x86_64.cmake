# Cross-building for 64-bit Windows with Debian's mingw-w64 (posix threads, which Qt's
# std::thread and std::mutex need). The Qt for mingw to build against is named by
# KARVEN_QT_MINGW (a folder), else the default cache folder scripts/qt-mingw fills.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

if(NOT KARVEN_QT_MINGW)
  if(DEFINED ENV{KARVEN_QT_MINGW})
    set(KARVEN_QT_MINGW "$ENV{KARVEN_QT_MINGW}")
  elseif(DEFINED ENV{XDG_CACHE_HOME})
    set(KARVEN_QT_MINGW "$ENV{XDG_CACHE_HOME}/karven/qt-6.4.2-mingw-w64")
  else()
    set(KARVEN_QT_MINGW "$ENV{HOME}/.cache/karven/qt-6.4.2-mingw-w64")
  endif()
endif()
set(KARVEN_QT_MINGW "${KARVEN_QT_MINGW}" CACHE PATH "Qt built for mingw-w64")
# Try-compiles run with this file again and must see the same folder.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KARVEN_QT_MINGW)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 "${KARVEN_QT_MINGW}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Qt's host tools (moc, rcc, uic) are Debian's own, of the same version.
set(QT_HOST_PATH /usr CACHE PATH "")
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH "")
