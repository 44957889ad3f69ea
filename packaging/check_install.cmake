# Installs the desktop files into a scratch prefix and checks what landed.
# Run by ctest: cmake -DBUILD_DIR=... -DPREFIX=... -DRULES_DIR=... -DDATA_DIR=... -P <this>
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
                        --component desktop
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${rc}")
endif()

set(rule ${PREFIX}/${RULES_DIR}/70-pts-panel.rules)
set(desktop ${PREFIX}/${DATA_DIR}/applications/pts-panel.desktop)
set(icon ${PREFIX}/${DATA_DIR}/icons/hicolor/scalable/apps/pts-panel.svg)
foreach(f ${rule} ${desktop} ${icon})
  if(NOT EXISTS ${f})
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()

# The rule: the board's node only, for the user at the seat and the service's
# group, never for everyone.
file(STRINGS ${rule} lines REGEX "^[^#]")
list(LENGTH lines n)
if(NOT n EQUAL 1)
  message(FATAL_ERROR "the rule file should hold one rule, has ${n}")
endif()
foreach(part [[SUBSYSTEM=="hidraw"]] [[ATTRS{idVendor}=="19a1"]] [[ATTRS{idProduct}=="0064"]]
             [[TAG+="uaccess"]] [[GROUP="pts-panel"]] [[MODE="0660"]])
  string(FIND "${lines}" "${part}" at)
  if(at LESS 0)
    message(FATAL_ERROR "the rule lacks ${part}: ${lines}")
  endif()
endforeach()
if(lines MATCHES "OWNER")
  message(FATAL_ERROR "the rule must leave the node to root: ${lines}")
endif()

# The menu entry starts the installed program and names the installed icon.
file(STRINGS ${desktop} exec REGEX "^Exec=")
file(STRINGS ${desktop} icon_name REGEX "^Icon=")
if(NOT exec STREQUAL "Exec=pts-panel" OR NOT icon_name STREQUAL "Icon=pts-panel")
  message(FATAL_ERROR "unexpected ${exec} / ${icon_name}")
endif()
message(STATUS "installed: ${rule}, ${desktop}, ${icon}")
