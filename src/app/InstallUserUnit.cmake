# Run by cmake --install and CPack: writes the systemd user unit for the prefix being
# installed to, so that its ExecStart names the program installed with it, and puts it
# where the user manager reads units of that prefix. /usr: lib/systemd/user, as Debian
# packages do. Any other prefix: share/systemd/user, which the user manager reads as
# $XDG_DATA_HOME/systemd/user (~/.local), /usr/local/share/systemd/user, and for every
# folder of $XDG_DATA_DIRS.
# Set by CMakeLists.txt: OSTRELO_UNIT_TEMPLATE, OSTRELO_UNIT_WORK, OSTRELO_BINDIR.
string(REGEX REPLACE "(.)/+$" "\\1" prefix "${CMAKE_INSTALL_PREFIX}")
if(IS_ABSOLUTE "${OSTRELO_BINDIR}")
  set(CMAKE_INSTALL_FULL_BINDIR "${OSTRELO_BINDIR}")
else()
  set(CMAKE_INSTALL_FULL_BINDIR "${prefix}/${OSTRELO_BINDIR}")
endif()
if(prefix STREQUAL "/usr")
  set(unit_dir "${prefix}/lib/systemd/user")
else()
  set(unit_dir "${prefix}/share/systemd/user")
endif()
# A folder of this install's own: two installs at once do not write the same file.
string(RANDOM LENGTH 12 own)
set(work "${OSTRELO_UNIT_WORK}/${own}")
configure_file("${OSTRELO_UNIT_TEMPLATE}" "${work}/ostrelo.service" @ONLY)
file(INSTALL "${work}/ostrelo.service" DESTINATION "${unit_dir}")
file(REMOVE_RECURSE "${work}")
