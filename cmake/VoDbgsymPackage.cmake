# Run by cpack after it has made the Debian packages (CPACK_POST_BUILD_SCRIPTS).
# CMake's -dbgsym packages (.ddeb) need three repairs before dpkg and lintian
# accept them: their md5sums list each file by its absolute path in cpack's
# staging folder (so dpkg --verify and lintian find none), the .debug files are
# executable, and they lack usr/share/doc/<package>, which in a debug package
# is a link to the doc folder of the package whose symbols it holds (on which
# it depends). Each is unpacked, repaired and packed again by dpkg-deb.
foreach(_ddeb IN LISTS CPACK_PACKAGE_FILES)
  if(NOT _ddeb MATCHES "/([^/_]+)_[^/]*\\.ddeb$")
    continue()
  endif()
  set(_name ${CMAKE_MATCH_1})
  set(_root ${_ddeb}.root)
  file(REMOVE_RECURSE ${_root})
  execute_process(COMMAND dpkg-deb -R ${_ddeb} ${_root} COMMAND_ERROR_IS_FATAL ANY)
  file(GLOB_RECURSE _debug LIST_DIRECTORIES false ${_root}/usr/lib/debug/*)
  file(CHMOD ${_debug} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  string(REGEX REPLACE "-dbgsym$" "" _of ${_name})
  file(MAKE_DIRECTORY ${_root}/usr/share/doc)
  file(CREATE_LINK ${_of} ${_root}/usr/share/doc/${_name} SYMBOLIC)
  execute_process(COMMAND find usr -type f -exec md5sum {} +
    WORKING_DIRECTORY ${_root} OUTPUT_FILE ${_root}/DEBIAN/md5sums COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND dpkg-deb --root-owner-group --build ${_root} ${_ddeb}
    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE ${_root})
endforeach()
