# Platform services of the Linux layer (Source/Linux).
#
# libX11 and GIO are loaded at run time with dlopen, so the library links
# against neither: programs using VoFoundation need no X11 or GLib to link, and
# run on machines without them (the keyboard, bell, screen-saver and D-Bus
# calls then report "no display" / "no bus"). Only their headers are needed to
# build, and only by the files that use them: without GLib's headers the D-Bus
# call is left out (VoLinuxDBus.cpp checks with __has_include).
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_check_modules(VO_GIO QUIET gio-2.0)
endif()
if(VO_GIO_FOUND)
  set(_vo_gio_flags)
  foreach(dir IN LISTS VO_GIO_INCLUDE_DIRS)
    list(APPEND _vo_gio_flags "-isystem" "${dir}")
  endforeach()
  set_source_files_properties(${PROJECT_SOURCE_DIR}/Source/Linux/VoLinuxDBus.cpp
    PROPERTIES COMPILE_OPTIONS "${_vo_gio_flags}")
endif()

# dlopen lives in libc from glibc 2.34 on; older C libraries need libdl.
# Folder walks examine entries on a second thread.
find_package(Threads REQUIRED)
target_link_libraries(VoFoundation PUBLIC ${CMAKE_DL_LIBS} Threads::Threads)
set(VO_PC_LIBS_PRIVATE "-pthread")
if(CMAKE_DL_LIBS)
  string(APPEND VO_PC_LIBS_PRIVATE " -l${CMAKE_DL_LIBS}")
endif()
