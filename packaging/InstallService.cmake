# Installs the zelvox-decode@.service unit, its example settings, its tmpfiles.d rule and its
# logrotate rule for the prefix given at install time: /usr (a package) puts them where the
# system's own go (/etc, the system unit folder), any other prefix keeps everything under it.
# Set by the caller: ZELVOX_PACKAGING_SOURCE, ZELVOX_PACKAGING_STAGING (a scratch folder) and
# ZELVOX_SYSTEMD_UNITDIR (the system's unit folder).
set(prefix "${CMAKE_INSTALL_PREFIX}")
if(prefix STREQUAL "/usr")
  set(ZELVOX_CONF_DIR /etc/zelvox)
  set(logrotatedir /etc/logrotate.d)
  set(unitdir "${ZELVOX_SYSTEMD_UNITDIR}")
else()
  set(ZELVOX_CONF_DIR "${prefix}/etc/zelvox")
  set(logrotatedir "${prefix}/etc/logrotate.d")
  set(unitdir "${prefix}/lib/systemd/system")
endif()
set(ZELVOX_BINDIR "${prefix}/bin")
# A scratch folder of this install's own, so that installs running at once (for two prefixes,
# or a package being made while the tests install) do not write each other's files.
string(MD5 scratch "$ENV{DESTDIR}|${prefix}")
string(RANDOM LENGTH 8 salt)
set(staging "${ZELVOX_PACKAGING_STAGING}/${scratch}-${salt}")
configure_file("${ZELVOX_PACKAGING_SOURCE}/zelvox-decode@.service.in" "${staging}/zelvox-decode@.service" @ONLY)
configure_file("${ZELVOX_PACKAGING_SOURCE}/zelvox-decode.tmpfiles" "${staging}/zelvox-decode.conf" COPYONLY)
file(INSTALL DESTINATION "${unitdir}" TYPE FILE FILES "${staging}/zelvox-decode@.service")
file(INSTALL DESTINATION "${prefix}/lib/tmpfiles.d" TYPE FILE FILES "${staging}/zelvox-decode.conf")
file(REMOVE_RECURSE "${staging}")
file(INSTALL DESTINATION "${ZELVOX_CONF_DIR}" TYPE FILE FILES "${ZELVOX_PACKAGING_SOURCE}/example.conf")
file(INSTALL DESTINATION "${logrotatedir}" TYPE FILE FILES "${ZELVOX_PACKAGING_SOURCE}/zelvox-decode.logrotate"
     RENAME zelvox-decode)
