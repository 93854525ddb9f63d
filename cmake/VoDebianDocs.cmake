# The two files of usr/share/doc/<package>/ that Debian asks every package for,
# made at configure time from LICENSE and CHANGELOG.md (a change to either
# configures again):
#   VO_DEBIAN_COPYRIGHT  copyright in the machine-readable format (DEP-5); the
#                        MIT licence is "Expat" there, its text from LICENSE.
#   VO_DEBIAN_CHANGELOG  changelog.gz: CHANGELOG.md as a Debian changelog
#                        (cmake/debian-changelog.awk), compressed with gzip -9n,
#                        which stores no name or time, so the same text gives
#                        the same bytes. The Unreleased entry is dated
#                        SOURCE_DATE_EPOCH when that is set, else like the
#                        newest release.
# Both need VO_MAINTAINER ("Name <mail>").
set(_dir ${PROJECT_BINARY_DIR}/debian-docs)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/CHANGELOG.md
  ${PROJECT_SOURCE_DIR}/cmake/debian-changelog.awk)

# LICENSE: "MIT License", a blank line, the copyright line, a blank line, the
# licence text, whose paragraphs become the " ."-separated License: body.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE _licence)
if(NOT _licence MATCHES "^MIT License\n\nCopyright \\(c\\) ([^\n]+)\n\n(.+[^\n])\n*$")
  message(FATAL_ERROR "LICENSE is not the MIT licence with one copyright line")
endif()
set(VO_COPYRIGHT "${CMAKE_MATCH_1}")
string(REPLACE "\n\n" "\n.\n" VO_LICENSE_BODY "${CMAKE_MATCH_2}")
string(REPLACE "\n" "\n " VO_LICENSE_BODY " ${VO_LICENSE_BODY}")
set(VO_DEBIAN_COPYRIGHT ${_dir}/copyright)
configure_file(${PROJECT_SOURCE_DIR}/cmake/copyright.in ${VO_DEBIAN_COPYRIGHT} @ONLY)

find_program(VO_AWK NAMES awk REQUIRED)
find_program(VO_GZIP NAMES gzip REQUIRED)
set(_unreleased_date "")
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  string(TIMESTAMP _unreleased_date "%Y-%m-%d" UTC)
endif()
execute_process(
  COMMAND ${VO_AWK} -v source=vofoundation -v version=${PROJECT_VERSION}
          -v "maintainer=${VO_MAINTAINER}" -v unreleased_date=${_unreleased_date}
          -f ${PROJECT_SOURCE_DIR}/cmake/debian-changelog.awk ${PROJECT_SOURCE_DIR}/CHANGELOG.md
  OUTPUT_FILE ${_dir}/changelog
  RESULT_VARIABLE _status)
if(NOT _status EQUAL 0)
  message(FATAL_ERROR "CHANGELOG.md could not be turned into a Debian changelog")
endif()
set(VO_DEBIAN_CHANGELOG ${_dir}/changelog.gz)
execute_process(COMMAND ${VO_GZIP} -9n -c ${_dir}/changelog OUTPUT_FILE ${VO_DEBIAN_CHANGELOG}
  RESULT_VARIABLE _status)
if(NOT _status EQUAL 0)
  message(FATAL_ERROR "gzip of the Debian changelog failed")
endif()
