# Installs the desktop entry with Path= set to the folder of the installed help file: the
# program opens "Zelvox.chm" in its working directory, so a start from the application menu
# must begin there. Runs at install time, so the folder follows the prefix given then
# (cmake --install --prefix ...). Set by the caller: ZELVOX_DESKTOP_SOURCE, ZELVOX_DATADIR
# (relative to the prefix, or absolute) and ZELVOX_DESKTOP_STAGING (a scratch file).
set(datadir "${ZELVOX_DATADIR}")
if(NOT IS_ABSOLUTE "${datadir}")
  set(datadir "${CMAKE_INSTALL_PREFIX}/${datadir}")
endif()
# A desktop entry string escapes backslashes.
string(REPLACE "\\" "\\\\" helpdir "${datadir}/zelvox")
file(READ "${ZELVOX_DESKTOP_SOURCE}" entry)
string(APPEND entry "Path=${helpdir}\n")
file(WRITE "${ZELVOX_DESKTOP_STAGING}" "${entry}")
file(INSTALL DESTINATION "${datadir}/applications" TYPE FILE FILES "${ZELVOX_DESKTOP_STAGING}")
