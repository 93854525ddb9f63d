# Platform services of the Linux layer (Source/Linux).
#
# libX11 is loaded at run time with dlopen, so the library links against no
# X11 library: programs using VoFoundation need none to link, and run on
# machines without it (the keyboard, bell and screen-saver calls then report
# "no display"). Only its headers are needed to build. The session-bus call
# speaks the D-Bus protocol itself and needs no D-Bus library at all.
# dlopen lives in libc from glibc 2.34 on; older C libraries need libdl.
# The library starts no threads and needs no thread library.
target_link_libraries(VoFoundation PUBLIC ${CMAKE_DL_LIBS})
set(VO_PC_LIBS_PRIVATE "")
if(CMAKE_DL_LIBS)
  set(VO_PC_LIBS_PRIVATE "-l${CMAKE_DL_LIBS}")
endif()
