# The service's files, made at install time for the prefix in effect then
# (/usr when CPack builds the package), since the unit names the program and
# the options file by their full paths. Run from install(CODE) with
# SOURCE_DIR, BINARY_DIR and BINDIR, UNIT_DIR, SYSUSERS_DIR (the last three
# relative to the prefix, as GNUInstallDirs gives them).
set(prefix "${CMAKE_INSTALL_PREFIX}")
# Configuration of /usr lives in /etc, of any other prefix in PREFIX/etc.
if(prefix STREQUAL "/usr" OR prefix STREQUAL "/")
  set(PTS_SYSCONFDIR /etc)
else()
  cmake_path(APPEND prefix etc OUTPUT_VARIABLE PTS_SYSCONFDIR)
endif()
cmake_path(APPEND prefix "${BINDIR}" OUTPUT_VARIABLE PTS_BINDIR)
cmake_path(APPEND prefix "${UNIT_DIR}" OUTPUT_VARIABLE unit_dir)
cmake_path(APPEND prefix "${SYSUSERS_DIR}" OUTPUT_VARIABLE sysusers_dir)

# One unit per prefix, so that installs to different prefixes at the same
# time do not write each other's.
string(MD5 key "${prefix}")
set(unit ${BINARY_DIR}/service-${key}/pts-panel.service)
configure_file(${SOURCE_DIR}/pts-panel.service.in ${unit} @ONLY)
file(INSTALL ${unit} DESTINATION ${unit_dir})
file(INSTALL ${SOURCE_DIR}/pts-panel.sysusers DESTINATION ${sysusers_dir}
     RENAME pts-panel.conf)
file(INSTALL ${SOURCE_DIR}/pts-panel.default DESTINATION ${PTS_SYSCONFDIR}/default
     RENAME pts-panel)
