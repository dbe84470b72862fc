# cmake -DBUILD_DIR=... -DSTAGE=... -DDEMO=... -DAPP_ID=... -P install_test.cmake
# Installs with prefix /usr under DESTDIR=STAGE, checks that every file is where a desktop and
# man expect it, validates the desktop entry and metainfo when the validators are there, and runs
# the installed vorn-scenario on the demo from a folder that is neither the source nor the build.

function(fail)
  string(JOIN "" message ${ARGN})
  message(FATAL_ERROR "${message}")
endfunction()

# run(NAME <label> [EXPECT <status>] [OUTPUT <var>] [SILENT] COMMAND ...): runs in STAGE/elsewhere.
# SILENT: any output fails too (desktop-file-validate exits 0 on errors "fatal in the future").
function(run)
  cmake_parse_arguments(ARG "SILENT" "NAME;EXPECT;OUTPUT" "COMMAND" ${ARGN})
  if(NOT DEFINED ARG_EXPECT)
    set(ARG_EXPECT 0)
  endif()
  execute_process(COMMAND ${ARG_COMMAND} WORKING_DIRECTORY ${elsewhere}
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status STREQUAL ARG_EXPECT)
    fail("${ARG_NAME}: exit ${status}, expected ${ARG_EXPECT}\n${out}\n${err}")
  endif()
  if(ARG_SILENT AND NOT "${out}${err}" STREQUAL "")
    fail("${ARG_NAME}:\n${out}\n${err}")
  endif()
  if(ARG_OUTPUT)
    set(${ARG_OUTPUT} "${out}" PARENT_SCOPE)
  endif()
endfunction()

file(REMOVE_RECURSE ${STAGE})
set(elsewhere ${STAGE}/elsewhere)
file(MAKE_DIRECTORY ${elsewhere})

set(ENV{DESTDIR} ${STAGE})
run(NAME "cmake --install" COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix /usr)
unset(ENV{DESTDIR})

set(root ${STAGE}/usr)
foreach(file
    bin/vorn-checkpoint
    bin/vorn-scenario
    share/applications/${APP_ID}.desktop
    share/icons/hicolor/scalable/apps/${APP_ID}.svg
    share/metainfo/${APP_ID}.metainfo.xml
    share/man/man1/vorn-checkpoint.1.gz
    share/man/man1/vorn-scenario.1.gz
    share/doc/vorn-checkpoint/copyright
    share/doc/vorn-checkpoint/changelog.gz)
  if(NOT EXISTS ${root}/${file})
    fail("not installed: /usr/${file}")
  endif()
endforeach()

# Compressed as Debian wants, gzip -9n: no name (flags byte 3 is 0) and no time (bytes 4-7 are 0).
foreach(gz man/man1/vorn-checkpoint.1.gz man/man1/vorn-scenario.1.gz doc/vorn-checkpoint/changelog.gz)
  file(READ ${root}/share/${gz} head LIMIT 8 HEX)
  if(NOT head STREQUAL "1f8b080000000000")
    fail("${gz} is not gzip -n output: ${head}")
  endif()
endforeach()

find_program(DESKTOP_FILE_VALIDATE desktop-file-validate)
if(DESKTOP_FILE_VALIDATE)
  run(NAME desktop-file-validate SILENT
      COMMAND ${DESKTOP_FILE_VALIDATE} ${root}/share/applications/${APP_ID}.desktop)
else()
  message(STATUS "desktop-file-validate not found: desktop entry not validated")
endif()
find_program(APPSTREAMCLI appstreamcli)
if(APPSTREAMCLI)
  run(NAME "appstreamcli validate"
      COMMAND ${APPSTREAMCLI} validate --no-net ${root}/share/metainfo/${APP_ID}.metainfo.xml)
else()
  message(STATUS "appstreamcli not found: metainfo not validated")
endif()

# The installed CLI, from another working directory, with no Qt font folder given: the Japanese
# faces are found through fontconfig as on a user's machine.
set(cli ${CMAKE_COMMAND} -E env --unset=QT_QPA_FONTDIR --unset=QT_QPA_PLATFORM
    ${root}/bin/vorn-scenario)
run(NAME "vorn-scenario --help" OUTPUT help COMMAND ${cli} --help)
if(NOT help MATCHES "check FILE")
  fail("vorn-scenario --help lists no check subcommand:\n${help}")
endif()
run(NAME "vorn-scenario check" COMMAND ${cli} check ${DEMO})
run(NAME "vorn-scenario info" OUTPUT info COMMAND ${cli} info ${DEMO})
if(NOT info MATCHES "\"totalFrames\": *[1-9]")
  fail("vorn-scenario info printed no frames:\n${info}")
endif()
# Frame 60 shows the title text, drawn with the substituted Japanese face.
run(NAME "vorn-scenario render" COMMAND ${cli} render ${DEMO} 60 frame60.png)
if(NOT EXISTS ${elsewhere}/frame60.png)
  fail("vorn-scenario render wrote no frame60.png in the working directory")
endif()
run(NAME "vorn-scenario missing file" EXPECT 1 COMMAND ${cli} check ${elsewhere}/none.txt)

file(REMOVE_RECURSE ${STAGE})
