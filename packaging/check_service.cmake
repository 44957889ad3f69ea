# Installs the program and the service as the package lays them out (prefix
# /usr below a scratch DESTDIR), checks that the unit starts the installed
# program as the user that sysusers.d creates, and has systemd-analyze verify
# a copy whose paths point into the scratch root: any complaint about the
# unit fails. Shows the unit's exposure score. Run by ctest:
# cmake -DBUILD_DIR=... -DWORK_DIR=... -DSYSTEMD_ANALYZE=... -P <this>
file(REMOVE_RECURSE ${WORK_DIR})
set(root ${WORK_DIR}/root)
execute_process(COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${root}
                        ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix /usr
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${rc}")
endif()

set(unit ${root}/usr/lib/systemd/system/pts-panel.service)
if(NOT EXISTS ${unit})
  message(FATAL_ERROR "not installed: ${unit}")
endif()
file(READ ${unit} text)
function(value key out)
  if(NOT text MATCHES "\n${key}=([^\n]*)")
    message(FATAL_ERROR "the unit has no ${key}=")
  endif()
  set(${out} "${CMAKE_MATCH_1}" PARENT_SCOPE)
endfunction()
value(ExecStart exec)
value(EnvironmentFile env_file)
value(User user)
if(NOT exec MATCHES "^(/[^ ]+) --no-window \\$PTS_PANEL_OPTIONS$")
  message(FATAL_ERROR "unexpected ExecStart=${exec}")
endif()
set(program ${CMAKE_MATCH_1})
string(REGEX REPLACE "^-" "" env_file "${env_file}")
set(sysusers ${root}/usr/lib/sysusers.d/pts-panel.conf)
foreach(f ${root}${program} ${root}${env_file} ${sysusers})
  if(NOT EXISTS ${f})
    message(FATAL_ERROR "the unit names what the package does not install: ${f}")
  endif()
endforeach()
file(STRINGS ${sysusers} users REGEX "^u ${user} ")
if(NOT users)
  message(FATAL_ERROR "${sysusers} does not create the unit's User=${user}")
endif()

# systemd-analyze checks that the program exists, so the copy starts the one
# in the scratch root; its manual page is found there too.
string(REPLACE "=${program} " "=${root}${program} " text "${text}")
string(REPLACE "=-${env_file}\n" "=-${root}${env_file}\n" text "${text}")
file(WRITE ${WORK_DIR}/unit/pts-panel.service "${text}")
set(copy ${WORK_DIR}/unit/pts-panel.service)
find_program(MAN man)
if(MAN)
  set(man_check --man=yes)
else()
  set(man_check --man=no)
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E env MANPATH=${root}/usr/share/man
                        ${SYSTEMD_ANALYZE} verify ${man_check} ${copy}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
message(STATUS "systemd-analyze verify ${copy}:\n${out}")
# verify also reports on the host's units that this one is ordered after;
# only what it says about this unit counts (it returns 0 on warnings).
if(NOT rc EQUAL 0 OR out MATCHES "pts-panel")
  message(FATAL_ERROR "systemd-analyze verify finds fault with the unit (${rc})")
endif()

# The exposure score, for the record (systemd 250 and later; not a gate, as
# the weights change between systemd versions).
execute_process(COMMAND ${SYSTEMD_ANALYZE} security --offline=true --no-pager ${copy}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
string(REGEX MATCH "Overall exposure level[^\n]*" score "${out}")
if(score)
  message(STATUS "systemd-analyze security: ${score}")
endif()
