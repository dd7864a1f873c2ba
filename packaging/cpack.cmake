# `make package`: one Debian package with every program, quirab-nibp_<version>_<arch>.deb.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quirab-nibp)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${NIBP_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "test console for a blood-pressure module on a serial port")
# CPack puts the summary first and indents the rest.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "A desktop console that drives a non-invasive blood-pressure (NIBP)
measuring module on a serial port: measurements, cuff pressure, results
and the pneumatics, with every frame in a raw log and every reply decoded
in an event log.

It comes with nibp-sim, a simulated module on a pseudo-terminal, for
trying the console without hardware.")
if(TARGET nibp-cli)
  string(APPEND CPACK_DEBIAN_PACKAGE_DESCRIPTION "
And with nibp-cli, the console's command-line twin, for scripted series
of measurements.")
endif()
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the programs need, as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
