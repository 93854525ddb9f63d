# Platform services of the Linux layer (Source/Linux).
#
# libX11 and libdbus-1 are loaded at run time with dlopen, so the library
# links against neither: programs using VoFoundation need no X11 or D-Bus
# library to link, and run on machines without them (the keyboard, bell,
# screen-saver and D-Bus calls then report "no display" / "no bus"). Only their
# headers are needed to build, and only by the files that use them: without
# libdbus-1's headers the D-Bus call is left out (VoLinuxDBus.cpp checks with
# __has_include).
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_check_modules(VO_DBUS QUIET dbus-1)
endif()
if(VO_DBUS_FOUND)
  set(_vo_dbus_flags)
  foreach(dir IN LISTS VO_DBUS_INCLUDE_DIRS)
    list(APPEND _vo_dbus_flags "-isystem" "${dir}")
  endforeach()
  set_source_files_properties(${PROJECT_SOURCE_DIR}/Source/Linux/VoLinuxDBus.cpp
    PROPERTIES COMPILE_OPTIONS "${_vo_dbus_flags}")
endif()

# dlopen lives in libc from glibc 2.34 on; older C libraries need libdl.
# The library starts no threads and needs no thread library.
target_link_libraries(VoFoundation PUBLIC ${CMAKE_DL_LIBS})
set(VO_PC_LIBS_PRIVATE "")
if(CMAKE_DL_LIBS)
  set(VO_PC_LIBS_PRIVATE "-l${CMAKE_DL_LIBS}")
endif()
